// Filling one half of the buffer from the decoder.
#include <cstring>

#include "stream_player_internal.h"

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

HalfFill refill_half(OggVorbis_File* decoder, RefillState* state, uint32_t half_offset, uint8_t* destination,
                     uint32_t length)
{
    HalfFill fill = {0, false};
    const uint32_t frame_bytes = uint32_t(state->channels) * 2;
    uint32_t lead = 0, frames = 0;
    if (frame_bytes) half_frame_span(half_offset, length, frame_bytes, &lead, &frames);
    const uint32_t end = lead + frames * frame_bytes;
    uint32_t position = lead;
    int holes = 0;
    // Every request is a whole number of frames: shorter ones are refused.
    while (!state->finished && position < end) {
        int link = 0;
        long n = ov_read(decoder, reinterpret_cast<char*>(destination + position), int(end - position), 0, 2, 1, &link);
        if (n == OV_HOLE) {
            if (++holes >= HOLE_LIMIT) state->finished = true;
            continue;
        }
        if (n <= 0 || uint32_t(n) > end - position) {
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
    std::memset(destination, 0, lead);
    std::memset(destination + position, 0, length - position);
    fill.audio_bytes = position - lead;
    fill.ended = state->finished;
    return fill;
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
