// Cost of one refill against its deadline, and of one spectrum beside a bare
// transform of the same size. Prints figures; asserts nothing.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "stream_player_internal.h"
#include "tools/oggsynth.h"

static double now_us()
{
    static LARGE_INTEGER frequency = {};
    if (!frequency.QuadPart) ::QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return double(t.QuadPart) * 1e6 / double(frequency.QuadPart);
}

// Mean microseconds per refilled half, decoding a 44100 Hz stereo stream
// from memory from start to end, `passes` times.
static double refill_us(const Bytes& ogg, int passes, int* halves_out)
{
    MemorySource source = {ogg.data(), uint32_t(ogg.size()), 0};
    OggVorbis_File vf;
    if (ov_open_callbacks(&source, &vf, nullptr, 0, MEMORY_CALLBACKS) != 0) return -1;
    static uint8_t half[16384];
    double total = 0;
    int halves = 0;
    for (int pass = 0; pass < passes; pass++) {
        ov_pcm_seek(&vf, 0);
        RefillState state = {2, 44100, false};
        for (uint32_t i = 0;; i++) {
            const double start = now_us();
            HalfFill fill = refill_half(&vf, &state, (i % 2) * 16384, half, 16384);
            total += now_us() - start;
            halves++;
            if (fill.ended) break;
        }
    }
    ov_clear(&vf);
    *halves_out = halves;
    return total / halves;
}

int main()
{
    const Bytes ogg = ogg_encode(pcm_demo_music(44100, 20.0), 2, 44100);
    int halves = 0;
    const double refill = refill_us(ogg, 5, &halves);
    const double deadline_us = 16384.0 / 176400.0 * 1e6;
    std::printf("refill of one half (44100 Hz stereo, %d halves): %.1f us\n", halves, refill);
    std::printf("  against its %.1f ms deadline: %.5f of it\n", deadline_us / 1000, refill / deadline_us);
    std::printf("  against the 500 us target: %.3f of it (%s)\n", refill / 500, refill < 500 ? "met" : "MISSED");

    spectrum_init();
    std::vector<uint8_t> capture(16384);
    for (size_t i = 0; i < capture.size(); i++) capture[i] = uint8_t(std::rand());
    capture_store(capture.data(), uint32_t(capture.size()));
    const int calls = 20000;
    spectrum_compute();
    double start = now_us();
    for (int i = 0; i < calls; i++) spectrum_compute();
    const double spectrum = (now_us() - start) / calls;

    kiss_fftr_cfg plan = kiss_fftr_alloc(2048, 0, nullptr, nullptr);
    std::vector<float> input(2048);
    std::vector<kiss_fft_cpx> bins(1025);
    for (size_t i = 0; i < 512; i++) input[i] = float(std::rand() % 65536 - 32768);
    kiss_fftr(plan, input.data(), bins.data());
    start = now_us();
    for (int i = 0; i < calls; i++) kiss_fftr(plan, input.data(), bins.data());
    const double bare = (now_us() - start) / calls;
    kiss_fftr_free(plan);
    std::printf("spectrum_compute: %.2f us per call; bare kiss_fftr of 2048 points: %.2f us\n", spectrum, bare);
    std::printf("  ratio to the bare transform: %.2f (target under 2: %s)\n", spectrum / bare,
                spectrum < 2 * bare ? "met" : "MISSED");
    return 0;
}
