// Capture array and spectrum.
#include <cstdlib>
#include <cstring>

#include "stream_player_internal.h"

void spectrum_init_with(void* (*allocate)(size_t))
{
    SpectrumRecord& sp = stream_player().spectrum;
    sp.fft_size = FFT_SIZE;
    sp.bin_count = BIN_COUNT;
    // The plan goes into a block of our own, so one allocator serves all three.
    if (!sp.fft_plan) {
        size_t plan_bytes = 0;
        kiss_fftr_alloc(FFT_SIZE, 0, nullptr, &plan_bytes);
        void* memory = allocate(plan_bytes);
        if (memory) sp.fft_plan = kiss_fftr_alloc(FFT_SIZE, 0, memory, &plan_bytes);
        if (!sp.fft_plan) std::free(memory);
    }
    if (!sp.fft_input) sp.fft_input = static_cast<float*>(allocate(sizeof(float) * FFT_SIZE));
    if (!sp.spectrum_bins) sp.spectrum_bins = static_cast<kiss_fft_cpx*>(allocate(sizeof(kiss_fft_cpx) * BIN_COUNT));
    // Without all three there is nothing to compute with: capture stays off.
    if (!sp.fft_plan || !sp.fft_input || !sp.spectrum_bins) {
        player_report("no memory for the spectrum: it stays blank");
        return player_release(PLAYER_SPECTRUM);
    }
    sp.capture_enabled.store(true);
}

void spectrum_init()
{
    spectrum_init_with(std::malloc);
}

kiss_fft_cpx* spectrum_compute()
{
    StreamPlayer& player = stream_player();
    SpectrumRecord& sp = player.spectrum;
    if (!sp.capture_enabled.load() || !sp.fft_plan || !sp.fft_input || !sp.spectrum_bins) return nullptr;
    for (int32_t i = 0; i < sp.fft_size; i++) {
        const uint32_t frame = player.capture[i].load(std::memory_order_relaxed);
        const int32_t left = int16_t(frame & 0xFFFF), right = int16_t(frame >> 16);
        sp.fft_input[i] = float(left + right);
    }
    kiss_fftr(sp.fft_plan, sp.fft_input, sp.spectrum_bins);
    sp.spectrum_bins[0].r = 0;
    sp.spectrum_bins[0].i = 0;
    return sp.spectrum_bins;
}

void capture_store(const uint8_t* half, uint32_t length)
{
    StreamPlayer& p = stream_player();
    const uint32_t bytes = length < CAPTURE_COPY_BYTES ? length : CAPTURE_COPY_BYTES;
    for (uint32_t i = 0; i < bytes / 4; i++) {
        uint32_t frame;
        std::memcpy(&frame, half + 4 * i, 4);
        p.capture[i].store(frame, std::memory_order_relaxed);
    }
}

uint8_t* capture_buffer()
{
    return reinterpret_cast<uint8_t*>(stream_player().capture);
}

uint32_t capture_frame(int index)
{
    if (index < 0 || index >= int(CAPTURE_FRAMES)) return 0;
    return stream_player().capture[index].load(std::memory_order_relaxed);
}
