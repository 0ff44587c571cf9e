// The player's handling of untrusted bytes and its cursor arithmetic: the
// memory callbacks, the refill of one half from the decoder, and the sums the
// worker decides by. None of it needs Windows or a sound device, so it also
// builds natively for fuzzing.
#pragma once
#include <cstddef>
#include <cstdint>

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

// A caller-owned block read by the decoder through the memory callbacks.
struct MemorySource {
    const uint8_t* base;
    uint32_t size;
    uint32_t position; // 0 to size
};

size_t memory_read(void* destination, size_t item_size, size_t item_count, void* source);
int memory_seek(void* source, ogg_int64_t offset, int whence);
int memory_close(void* source);
long memory_tell(void* source);
extern const ov_callbacks MEMORY_CALLBACKS;

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

// The half the play cursor is in.
uint32_t play_half(uint32_t play_cursor, uint32_t half_size);
// How many half boundaries the play cursor crossed between the last poll, at
// `last`, and this one, at `play`, while the clock saw `clock_bytes` played,
// in a buffer of `buffer_bytes` (the device may round it up to whole frames):
// the cursor alone cannot tell a whole trip round the buffer. A cursor that
// has not moved has crossed nothing, whatever the clock says.
uint32_t halves_crossed(uint32_t last, uint32_t play, uint64_t clock_bytes, uint32_t half_size, uint32_t buffer_bytes);
// The bytes a device at `byte_rate` plays in `ticks` of a counter running at
// `frequency`, for a buffer of `buffer_bytes`: nothing when the counter stepped
// back, or jumped further than a worker is ever held up (8 buffers or 10 s).
uint64_t clock_bytes(int64_t ticks, uint64_t frequency, uint64_t byte_rate, uint32_t buffer_bytes);
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
// silence after the end of the stream and where no carry fits. Any open
// decoder will do (ov_open_callbacks with MEMORY_CALLBACKS on a MemorySource,
// for one); `state` starts as {channels, rate, false} of the buffer's format,
// the first link's. `half_offset` is the half's byte offset in the buffer (0
// or the half size); every byte of `destination`[0, length) is written.
HalfFill refill_half(OggVorbis_File* decoder, RefillState* state, uint32_t half_offset, uint8_t* destination,
                     uint32_t length);
