// The stream player's record and the pieces its tests and tools reach
// directly: the memory callbacks, the decisions of the refill worker, and the
// refill of one half, which needs no sound device.
#pragma once
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

#include "kiss_fftr.h"
#include "player/stream_player.h"

constexpr uint32_t HALF_SIZE = 16384;         // bytes; the buffer is two halves
constexpr uint32_t CAPTURE_FRAMES = 2048;     // stereo frames in the capture array
constexpr uint32_t CAPTURE_COPY_BYTES = 2048; // copied from each refilled half (512 stereo frames)
constexpr int32_t FFT_SIZE = 2048;
constexpr int32_t BIN_COUNT = FFT_SIZE / 2 + 1;

// A caller-owned block read by the decoder through the memory callbacks.
struct MemorySource {
    const uint8_t* base;
    uint32_t size;
    uint32_t position; // 0 to size
};

// What the refill of a half knows about its stream. `finished` is sticky: once
// the decoder has ended, failed or changed format, it is not read again. The
// carry is the rest of the frame that the last refilled half ends with.
struct RefillState {
    int channels;
    long rate;
    bool finished;
    uint32_t carry_bytes = 0;
    uint8_t carry[2 * 255] = {};
};

struct HalfFill {
    uint32_t audio_bytes; // decoded bytes written
    bool ended;           // the stream is over: the rest of the half is silence
};

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

size_t memory_read(void* destination, size_t item_size, size_t item_count, void* source);
int memory_seek(void* source, ogg_int64_t offset, int whence);
int memory_close(void* source);
long memory_tell(void* source);
extern const ov_callbacks MEMORY_CALLBACKS;

// The buffer format for a stream; false when it cannot be described (a byte
// rate beyond 32 bits, no channels).
bool wave_format_for(long rate, int channels, WAVEFORMATEX* format);

// The half the play cursor is in.
uint32_t play_half(DWORD play_cursor, uint32_t half_size);
// How many half boundaries the play cursor crossed between the last poll, at
// `last`, and this one, at `play`, while the clock saw `clock_bytes` played,
// in a buffer of `buffer_bytes` (the device may round it up to whole frames):
// the cursor alone cannot tell a whole trip round the buffer.
uint32_t halves_crossed(DWORD last, DWORD play, uint64_t clock_bytes, uint32_t half_size, uint32_t buffer_bytes);
// Whether the worker may stop once it has refilled the half just left: the
// stream is over and the half now playing holds no music any more.
bool drain_complete(bool stream_ended, bool playing_half_audible);
// Frames lie on the buffer's grid of whole frames from offset 0. A half at
// `half_offset` of `length` bytes begins with `lead` bytes of a frame cut by
// its start and holds `frames` whole frames after them; what is left at its
// end belongs to a frame cut by its end.
void half_frame_span(uint32_t half_offset, uint32_t length, uint32_t frame_bytes, uint32_t* lead, uint32_t* frames);

// Fills one half from the decoder: frames at their grid offsets, the frame cut
// by its end begun there and finished by the next half's refill (the carry),
// silence after the end of the stream and where no carry fits. Needs no
// sound device; the worker calls it on the locked half. Any open decoder will
// do (ov_open_callbacks with MEMORY_CALLBACKS on a MemorySource, for one);
// `state` starts as {channels, rate, false} of the buffer's format, the first
// link's. `half_offset` is the half's byte offset in the buffer (0 or
// half_size); every byte of `destination`[0, length) is written.
HalfFill refill_half(OggVorbis_File* decoder, RefillState* state, uint32_t half_offset, uint8_t* destination,
                     uint32_t length);
// Copies the first 2048 bytes of a half into the capture array, frame by frame.
void capture_store(const uint8_t* half, uint32_t length);

// The worker's record as a stream starts to play from the buffer's start.
void refill_prepare();
// One poll of the worker: reads the play cursor and refills the half it left.
void refill_poll();
DWORD WINAPI refill_thread(LPVOID parameter);

// spectrum_init with the allocator given, so that failures can be tried.
void spectrum_init_with(void* (*allocate)(size_t));
