// The sums the refill worker decides by: where the play cursor is, and how
// far it went between two polls.
#include "refill.h"

uint32_t play_half(uint32_t play_cursor, uint32_t half_size)
{
    return play_cursor >= half_size ? 1 : 0;
}

uint32_t halves_crossed(uint32_t last, uint32_t play, uint64_t clock_bytes, uint32_t half_size, uint32_t buffer_bytes)
{
    const uint64_t buffer = buffer_bytes;
    uint64_t forward = (play + buffer - last % buffer) % buffer;
    // Whole trips round the buffer the cursor cannot show; the clock, off by
    // far less than a half, can.
    if (clock_bytes > forward) forward += (clock_bytes - forward + buffer / 2) / buffer * buffer;
    // Boundaries at each half's start, counted along the buffer laid end to end.
    const auto boundaries = [&](uint64_t at) { return at / buffer * 2 + (at % buffer >= half_size ? 1 : 0); };
    return uint32_t(boundaries(last % buffer + forward) - boundaries(last % buffer));
}

bool drain_complete(bool stream_ended, bool playing_half_audible)
{
    return stream_ended && !playing_half_audible;
}
