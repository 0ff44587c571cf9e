// The player's record, the sound device and the streaming buffer.
#include <cstdlib>
#include <cstring>

#include "stream_player_internal.h"

namespace {

StreamPlayer player;

const DWORD BUFFER_FLAGS = DSBCAPS_LOCSOFTWARE | DSBCAPS_CTRLVOLUME | DSBCAPS_CTRLPOSITIONNOTIFY | DSBCAPS_GLOBALFOCUS |
                           DSBCAPS_GETCURRENTPOSITION2;

} // namespace

#ifndef _WIN64
static_assert(sizeof(DSBUFFERDESC) == 36, "the buffer description ends with guid3DAlgorithm");
static_assert(sizeof(WAVEFORMATEX) == 18, "packed wave format");
#endif
static_assert(sizeof(StreamPlayer::capture) == 8192, "2048 stereo frames of 16-bit samples");
static_assert(sizeof(kiss_fft_cpx) == 8, "bins are read as pairs of float32");
static_assert(sizeof(std::atomic<uint32_t>) == 4, "capture frames are plain 4-byte frames in memory");

StreamPlayer& stream_player()
{
    return player;
}

void player_release(uint32_t parts)
{
    StreamPlayer& p = player;
    if (parts & PLAYER_SPECTRUM) p.capture_enabled.store(false);
    if (parts & PLAYER_STREAM) {
        p.stop_requested.store(true);
        // The worker leaves at its next check, never inside the decoder or
        // with a half locked; waiting for it is enough. Only then is the
        // buffer stopped: a worker restoring a lost buffer starts it again.
        if (p.refill_worker) {
            ::WaitForSingleObject(p.refill_worker, INFINITE);
            ::CloseHandle(p.refill_worker);
        }
        if (p.buffer) p.buffer->Stop();
        if (p.timer_set) ::KillTimer(p.device_window, p.timer);
        p.refill_worker = nullptr;
        p.refill_worker_id = 0;
        p.timer = 0;
        p.timer_set = false;
        if (p.buffer) p.buffer->Release();
        p.buffer = nullptr;
        ov_clear(&p.decoder); // closes the stream's file; a cleared decoder stays cleared
        p.memory_source = MemorySource{};
        p.stream_open = false;
        p.stream_ended.store(true);
        p.current_half.store(0);
        p.previous_half.store(0);
        p.refill = RefillState{};
        p.half_audible[0] = p.half_audible[1] = false;
        p.restore_due = false;
        p.restored_halves = 0;
        p.stream_channels = 0;
        p.stream_rate = 0;
        p.buffer_bytes = 2 * p.half_size;
    }
    if ((parts & PLAYER_DEVICE) == PLAYER_DEVICE) {
        if (p.device) p.device->Release();
        p.device = nullptr;
        p.device_window = nullptr;
        p.device_open = false;
    }
    if (parts & PLAYER_SPECTRUM) {
        // The plan lives in a block of the player's own allocator, like the buffers.
        std::free(p.fft_plan);
        std::free(p.fft_input);
        std::free(p.spectrum_bins);
        p.fft_plan = nullptr;
        p.fft_input = nullptr;
        p.spectrum_bins = nullptr;
        p.fft_size = 0;
        p.bin_count = 0;
    }
}

bool wave_format_for(long rate, int channels, WAVEFORMATEX* format)
{
    if (rate < 1 || channels < 1 || channels > 255) return false;
    const uint64_t byte_rate = uint64_t(rate) * uint64_t(channels) * 2;
    if (byte_rate > 0xFFFFFFFFull) return false;
    std::memset(format, 0, sizeof *format);
    format->wFormatTag = WAVE_FORMAT_PCM;
    format->nChannels = WORD(channels);
    format->nSamplesPerSec = DWORD(rate);
    format->nAvgBytesPerSec = DWORD(byte_rate);
    format->nBlockAlign = WORD(channels * 2);
    format->wBitsPerSample = 16;
    format->cbSize = 18;
    return true;
}

// The device is bound to a window of this program: the one in front when it is
// ours, else our topmost visible one. Another program's window would tie the
// device's focus to a window we do not own.
static BOOL CALLBACK own_window_visit(HWND hwnd, LPARAM found)
{
    DWORD process = 0;
    ::GetWindowThreadProcessId(hwnd, &process);
    if (process != ::GetCurrentProcessId() || !::IsWindowVisible(hwnd)) return TRUE;
    *reinterpret_cast<HWND*>(found) = hwnd;
    return FALSE;
}

static HWND own_window()
{
    HWND found = nullptr;
    if (HWND front = ::GetForegroundWindow()) own_window_visit(front, LPARAM(&found));
    if (!found) ::EnumWindows(own_window_visit, LPARAM(&found));
    return found;
}

bool sound_device_open(const GUID* device)
{
    StreamPlayer& p = player;
    // The open stream's worker still uses the buffer.
    if (p.stream_open) return false;
    player_release(PLAYER_DEVICE);
    IDirectSound* created = nullptr;
    if (FAILED(::DirectSoundCreate(device, &created, nullptr)) || !created) return false;
    p.device = created;
    p.device_window = own_window();
    p.device->SetCooperativeLevel(p.device_window, DSSCL_PRIORITY);
    p.device_open = true;
    return true;
}

bool sound_device_close()
{
    StreamPlayer& p = player;
    if (p.stream_open || !p.device_open) return false;
    player_release(PLAYER_DEVICE);
    return true;
}

bool stream_create_buffer(long rate, int channels)
{
    StreamPlayer& p = player;
    if (!p.device_open) return false;
    // cbSize says 18 for a PCM format, where it is meant to be ignored; the
    // zeroed bytes behind it keep a reader that honours it inside our memory.
    struct {
        WAVEFORMATEX format;
        uint8_t extra[18];
    } wave = {};
    if (!wave_format_for(rate, channels, &wave.format)) return false;

    DSBUFFERDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof(DSBUFFERDESC);
    desc.dwFlags = BUFFER_FLAGS;
    desc.dwBufferBytes = 2 * p.half_size;
    desc.lpwfxFormat = &wave.format;
    if (FAILED(p.device->CreateSoundBuffer(&desc, &p.buffer, nullptr)) || !p.buffer) {
        p.buffer = nullptr;
        return false;
    }

    // The device rounds the buffer up to whole frames: clear all it gives.
    void* region = nullptr;
    DWORD length = 0;
    if (p.buffer->Lock(0, 2 * p.half_size, &region, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER) == DS_OK) {
        std::memset(region, 0, length);
        p.buffer->Unlock(region, length, nullptr, 0);
        if (length > p.half_size) p.buffer_bytes = length;
    }
    if (p.capture_enabled.load()) {
        for (uint32_t i = 0; i < CAPTURE_COPY_BYTES / 4; i++) p.capture[i].store(0, std::memory_order_relaxed);
    }
    p.current_half.store(0);
    p.previous_half.store(0);
    p.stream_channels = channels;
    p.stream_rate = rate;
    // The seek is the first decode: a stream whose setup cannot be built fails
    // here, and reading it anyway would run a half-built decoder.
    if (ov_pcm_seek(&p.decoder, 0) != 0) return false; // the caller releases the stream
    p.stream_open = true;
    return true;
}
