// Filling one half of the buffer from the decoder.
#include <cstring>

#include "refill.h"

namespace {

// Holes come from lost pages, and each one read consumes input; a half that
// meets this many in a row is taken to be the end of a broken stream, so that
// one refill can never take unbounded time.
const int HOLE_LIMIT = 1024;

} // namespace

void half_frame_span(uint32_t half_offset, uint32_t length, uint32_t frame_bytes, uint32_t* lead, uint32_t* frames)
{
    const uint32_t cut = half_offset % frame_bytes;
    uint32_t l = cut ? frame_bytes - cut : 0;
    if (l > length) l = length;
    *lead = l;
    *frames = (length - l) / frame_bytes;
}

// Decodes whole frames into [0, bytes) of `destination` until it is full or
// the stream is over; returns the bytes written.
static uint32_t decode_frames(OggVorbis_File* decoder, RefillState* state, uint8_t* destination, uint32_t bytes)
{
    const uint32_t frame_bytes = uint32_t(state->channels) * 2;
    uint32_t position = 0;
    int holes = 0;
    // Every request is a whole number of frames: shorter ones are refused.
    while (!state->finished && position < bytes) {
        int link = 0;
        long n =
            ov_read(decoder, reinterpret_cast<char*>(destination + position), int(bytes - position), 0, 2, 1, &link);
        if (n == OV_HOLE) {
            if (++holes >= HOLE_LIMIT) state->finished = true;
            continue;
        }
        if (n <= 0 || uint32_t(n) > bytes - position) {
            state->finished = true;
            break;
        }
        // A later link in another format would play wrongly in this buffer:
        // it ends the stream, and what it gave is overwritten with silence.
        vorbis_info* info = ov_info(decoder, -1);
        if (!info || info->channels != state->channels || info->rate != state->rate || n % long(frame_bytes)) {
            state->finished = true;
            break;
        }
        position += uint32_t(n);
        holes = 0;
    }
    return position;
}

HalfFill refill_half(OggVorbis_File* decoder, RefillState* state, uint32_t half_offset, uint8_t* destination,
                     uint32_t length)
{
    HalfFill fill = {0, false};
    const uint32_t frame_bytes = uint32_t(state->channels) * 2;
    uint32_t lead = 0, frames = 0;
    if (frame_bytes) half_frame_span(half_offset, length, frame_bytes, &lead, &frames);
    // The frame cut by this half's start was decoded by the refill before:
    // its rest is carried here, unless that refill met the end or a restore
    // began the buffer anew.
    const bool carried = lead && state->carry_bytes == lead;
    if (carried)
        std::memcpy(destination, state->carry, lead);
    else
        std::memset(destination, 0, lead);
    state->carry_bytes = 0;
    const uint32_t end = lead + frames * frame_bytes;
    uint32_t position = lead + decode_frames(decoder, state, destination + lead, end - lead);
    // The frame cut by this half's end: its first bytes end the half, the
    // rest waits for the next one, so the music stays continuous.
    const uint32_t tail = length - end;
    uint8_t frame[sizeof state->carry];
    if (position == end && tail && tail < frame_bytes && frame_bytes <= sizeof frame &&
        decode_frames(decoder, state, frame, frame_bytes) == frame_bytes) {
        std::memcpy(destination + end, frame, tail);
        std::memcpy(state->carry, frame + tail, frame_bytes - tail);
        state->carry_bytes = frame_bytes - tail;
        position = length;
    }
    std::memset(destination + position, 0, length - position);
    fill.audio_bytes = position - (carried ? 0 : lead);
    fill.ended = state->finished;
    return fill;
}
