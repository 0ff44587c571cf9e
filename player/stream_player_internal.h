// The stream player's record and the pieces its tests and tools reach
// directly: the record, the worker's steps and the capture. The refill and
// the cursor sums, which need no sound device, are in refill.h.
#pragma once
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "kiss_fftr.h"
#include "player/stream_player.h"
#include "refill.h"

constexpr uint32_t HALF_SIZE = 16384;         // bytes; the buffer is two halves
constexpr uint32_t CAPTURE_FRAMES = 2048;     // stereo frames in the capture array
constexpr uint32_t CAPTURE_COPY_BYTES = 2048; // copied from each refilled half (512 stereo frames)
constexpr int32_t FFT_SIZE = 2048;
constexpr int32_t BIN_COUNT = FFT_SIZE / 2 + 1;

// Called by the worker after a half is written and captured, before it is
// unlocked. Tests use it to see every half exactly as it will be played.
using RefillObserver = void (*)(uint32_t half, const uint8_t* data, uint32_t length);

// An atomic value that a record can hold and still be reset by assignment:
// each value is copied whole, though the record as a whole is not.
template <typename T>
struct Shared : std::atomic<T> {
    using std::atomic<T>::atomic;
    Shared(const Shared& other) noexcept : std::atomic<T>(other.load()) {}
    Shared& operator=(const Shared& other) noexcept
    {
        this->store(other.load());
        return *this;
    }
};

// The player's state by part, each part a record of its own lifetime, reset
// by one assignment from one place. Two threads share it, and no lock:
// - The main thread opens, plays and releases; it resets the stream's, the
//   worker's and the restore's records only while no worker runs (before
//   stream_play starts one, after player_release has waited for it).
// - The worker owns its record and the restore's while it runs; it resets
//   the cursor record itself when a restored buffer plays again.
// - Shared values are atomic: stop_requested (raised by the release and by
//   the worker once both halves are silent), stream_ended, current_half and
//   previous_half (written by the worker, read by both), capture_enabled
//   (written by the main thread) and each 4-byte frame of the capture array
//   (written by the worker, read by the main thread).

// The sound device: sound_device_open to player_release(PLAYER_DEVICE).
struct DeviceRecord {
    IDirectSound* device = nullptr;
    HWND device_window = nullptr;
    bool device_open = false;
};

// The stream, its decoder and its buffer: an open to player_release(PLAYER_STREAM).
struct StreamRecord {
    IDirectSoundBuffer* buffer = nullptr;
    OggVorbis_File decoder{};
    MemorySource memory_source{};
    bool stream_open = false;
    // The device keeps whole frames and may make the buffer a little longer
    // than asked: the second half runs to its end.
    uint32_t buffer_bytes = 2 * HALF_SIZE;
    int stream_channels = 0; // the buffer's format, fixed when it is created
    long stream_rate = 0;
    HANDLE refill_worker = nullptr;
    DWORD refill_worker_id = 0;
    UINT_PTR timer = 0; // the 250 ms window timer of stream_play
    bool timer_set = false;
};

// Where the worker last saw the play cursor, and when: begun anew as the
// buffer plays from its start, by stream_play and by a restore.
struct CursorRecord {
    Shared<uint32_t> current_half{0};
    Shared<uint32_t> previous_half{0};
    DWORD last_play_cursor = 0;
    int64_t last_poll_time = 0; // the performance counter at the last poll
};

// The worker's refill state: refill_prepare to the stream's release.
struct WorkerRecord {
    Shared<bool> stop_requested{true};
    Shared<bool> stream_ended{true};
    RefillState refill{};
    bool half_audible[2] = {false, false}; // the half holds decoded music
    CursorRecord cursor{};
};

// A lost buffer on its way back: from the loss until it plays again.
struct RestoreRecord {
    bool restore_due = false;     // a lost buffer is not playing again yet
    uint32_t restored_halves = 0; // refilled since the loss
};

// Capture and spectrum: spectrum_init to player_release(PLAYER_SPECTRUM).
// The transform's plan and buffers are the main thread's alone.
struct SpectrumRecord {
    Shared<bool> capture_enabled{false};
    int32_t fft_size = 0;
    int32_t bin_count = 0;
    kiss_fftr_cfg fft_plan = nullptr;
    float* fft_input = nullptr;
    kiss_fft_cpx* spectrum_bins = nullptr;
};

struct StreamPlayer {
    DeviceRecord sound;
    StreamRecord stream;
    WorkerRecord worker;
    RestoreRecord restore;
    SpectrumRecord spectrum;
    // Keeps its last content through every release.
    std::atomic<uint32_t> capture[CAPTURE_FRAMES];
    uint32_t half_size = HALF_SIZE;
    RefillObserver refill_observer = nullptr;
};

StreamPlayer& stream_player();

// What player_release lets go of. A device takes the stream on it along.
constexpr uint32_t PLAYER_SPECTRUM = 1; // the transform's plan and buffers; capture stops
constexpr uint32_t PLAYER_STREAM = 2;   // the worker, its timer, the buffer and the decoder
constexpr uint32_t PLAYER_DEVICE = 4 | PLAYER_STREAM;
// The one place the player lets go of what it holds: each part only if it is
// there, with its fields back to what start-up found. The capture array keeps
// its last content.
void player_release(uint32_t parts);

// Writes "sondrel: " and the formatted reason as a line on the debug output.
void player_report(const char* format, ...) __attribute__((format(printf, 1, 2)));
// What a refusal of ov_open or ov_open_callbacks means, in words.
const char* decoder_refusal(int code);

// Opens a stream on the file; `name` is for the reasons of a failure.
bool stream_attach(FILE* file, const char* name);
bool stream_create_buffer(long rate, int channels);
// The new buffer's real size, from the device, and its bytes and the start of
// the capture cleared.
void buffer_prepare();

// The buffer format for a stream; false when it cannot be described (a byte
// rate beyond 32 bits, no channels).
bool wave_format_for(long rate, int channels, WAVEFORMATEX* format);

// Copies the first 2048 bytes of a half into the capture array, frame by frame.
void capture_store(const uint8_t* half, uint32_t length);

// The worker's record as a stream starts to play from the buffer's start.
void refill_prepare();
// One poll of the worker: reads the play cursor and refills the half it left.
void refill_poll();
DWORD WINAPI refill_thread(LPVOID parameter);

// spectrum_init with the allocator given, so that failures can be tried.
void spectrum_init_with(void* (*allocate)(size_t));
