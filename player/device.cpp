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
    if (parts & PLAYER_SPECTRUM) p.spectrum.capture_enabled.store(false);
    if (parts & PLAYER_STREAM) {
        StreamRecord& s = p.stream;
        // Silent at once: the buffer stops before the worker is asked to
        // leave, not after its last poll and pause. The worker leaves at its
        // next check, never inside the decoder or with a half locked, so
        // waiting for it is enough; a restore it had in flight may have
        // started the buffer again, so it is stopped once more.
        if (s.buffer) s.buffer->Stop();
        p.worker.stop_requested.store(true);
        if (s.refill_worker) {
            ::WaitForSingleObject(s.refill_worker, INFINITE);
            ::CloseHandle(s.refill_worker);
        }
        if (s.buffer) {
            s.buffer->Stop();
            s.buffer->Release();
        }
        if (s.timer_set) ::KillTimer(p.sound.device_window, s.timer);
        ov_clear(&s.decoder); // closes the stream's file; a cleared decoder stays cleared
        p.stream = StreamRecord{};
        p.worker = WorkerRecord{};
        p.restore = RestoreRecord{};
    }
    if ((parts & PLAYER_DEVICE) == PLAYER_DEVICE) {
        if (p.sound.device) p.sound.device->Release();
        p.sound = DeviceRecord{};
    }
    if (parts & PLAYER_SPECTRUM) {
        // The plan lives in a block of the player's own allocator, like the buffers.
        std::free(p.spectrum.fft_plan);
        std::free(p.spectrum.fft_input);
        std::free(p.spectrum.spectrum_bins);
        p.spectrum = SpectrumRecord{};
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
    if (p.stream.stream_open) return false;
    player_release(PLAYER_DEVICE);
    IDirectSound* created = nullptr;
    const HRESULT result = ::DirectSoundCreate(device, &created, nullptr);
    if (FAILED(result) || !created) {
        player_report("no sound device (DirectSoundCreate: 0x%08lX)", static_cast<unsigned long>(result));
        return false;
    }
    p.sound = DeviceRecord{created, own_window(), true};
    created->SetCooperativeLevel(p.sound.device_window, DSSCL_PRIORITY);
    return true;
}

bool sound_device_close()
{
    StreamPlayer& p = player;
    if (p.stream.stream_open || !p.sound.device_open) return false;
    player_release(PLAYER_DEVICE);
    return true;
}

void buffer_prepare()
{
    StreamRecord& s = player.stream;
    // The device rounds the buffer up to whole frames: its caps tell how far,
    // whether or not the buffer can be cleared now.
    DSBCAPS caps;
    std::memset(&caps, 0, sizeof caps);
    caps.dwSize = sizeof caps;
    if (s.buffer->GetCaps(&caps) == DS_OK && caps.dwBufferBytes > player.half_size) s.buffer_bytes = caps.dwBufferBytes;
    void* region = nullptr;
    DWORD length = 0;
    if (s.buffer->Lock(0, s.buffer_bytes, &region, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER) == DS_OK) {
        std::memset(region, 0, length);
        s.buffer->Unlock(region, length, nullptr, 0);
    }
    if (player.spectrum.capture_enabled.load()) {
        for (uint32_t i = 0; i < CAPTURE_COPY_BYTES / 4; i++) player.capture[i].store(0, std::memory_order_relaxed);
    }
}

bool stream_create_buffer(long rate, int channels)
{
    StreamPlayer& p = player;
    StreamRecord& s = p.stream;
    if (!p.sound.device_open) {
        player_report("no sound device is open for the stream");
        return false;
    }
    // cbSize says 18 for a PCM format, where it is meant to be ignored; the
    // zeroed bytes behind it keep a reader that honours it inside our memory.
    struct {
        WAVEFORMATEX format;
        uint8_t extra[18];
    } wave = {};
    if (!wave_format_for(rate, channels, &wave.format)) {
        player_report("a stream of %d channels at %ld Hz cannot be played", channels, rate);
        return false;
    }

    DSBUFFERDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = sizeof(DSBUFFERDESC);
    desc.dwFlags = BUFFER_FLAGS;
    desc.dwBufferBytes = 2 * p.half_size;
    desc.lpwfxFormat = &wave.format;
    const HRESULT result = p.sound.device->CreateSoundBuffer(&desc, &s.buffer, nullptr);
    if (FAILED(result) || !s.buffer) {
        player_report("the sound device refused a buffer of %d channels at %ld Hz (0x%08lX)", channels, rate,
                      static_cast<unsigned long>(result));
        s.buffer = nullptr;
        return false;
    }
    buffer_prepare();
    s.stream_channels = channels;
    s.stream_rate = rate;
    // The seek is the first decode: a stream whose setup cannot be built fails
    // here, and reading it anyway would run a half-built decoder.
    if (const int refused = ov_pcm_seek(&s.decoder, 0)) { // the caller releases the stream
        player_report("the stream cannot be decoded from its start (%d)", refused);
        return false;
    }
    s.stream_open = true;
    return true;
}
