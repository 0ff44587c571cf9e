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

struct StreamPlayer {
    IDirectSound* device = nullptr;
    IDirectSoundBuffer* buffer = nullptr;
    HWND device_window = nullptr;
    OggVorbis_File decoder{};
    MemorySource memory_source{};
    bool device_open = false;
    bool stream_open = false;
    uint32_t half_size = HALF_SIZE;
    // The device keeps whole frames and may make the buffer a little longer
    // than asked: the second half runs to its end.
    uint32_t buffer_bytes = 2 * HALF_SIZE;
    int stream_channels = 0; // the buffer's format, fixed when it is created
    long stream_rate = 0;

    // Shared with the refill worker. stop_requested: written by stream_close
    // and by the worker once both halves are silent, read by the worker.
    // stream_ended, current_half, previous_half: written by the worker (and by
    // stream_play/buffer creation before it starts), read by both.
    std::atomic<bool> stop_requested{true};
    std::atomic<bool> stream_ended{true};
    std::atomic<uint32_t> current_half{0};
    std::atomic<uint32_t> previous_half{0};

    HANDLE refill_worker = nullptr;
    DWORD refill_worker_id = 0;
    UINT_PTR timer = 0; // the 250 ms window timer of stream_play
    bool timer_set = false;

    // Owned by the worker while it runs.
    RefillState refill{};
    bool half_audible[2] = {false, false}; // the half holds decoded music
    DWORD last_play_cursor = 0;
    int64_t last_poll_time = 0;   // the performance counter at the last poll
    bool restore_due = false;     // a lost buffer is not playing again yet
    uint32_t restored_halves = 0; // refilled since the loss, of the restore under way

    // Written by the worker, read by the main thread: every 4-byte frame is
    // stored and loaded whole. capture_enabled is written by the main thread.
    std::atomic<bool> capture_enabled{false};
    std::atomic<uint32_t> capture[CAPTURE_FRAMES];

    // Main thread only.
    int32_t fft_size = 0;
    int32_t bin_count = 0;
    kiss_fftr_cfg fft_plan = nullptr;
    float* fft_input = nullptr;
    kiss_fft_cpx* spectrum_bins = nullptr;

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

bool stream_attach(FILE* file);
bool stream_create_buffer(long rate, int channels);

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
