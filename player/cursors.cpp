// The sums the refill worker decides by: where the play cursor is, and how
// far it went between two polls.
#include <algorithm>

#include "refill.h"

namespace {

// The longest time that the clock is believed: several trips round the
// buffer, and never less than a busy machine may hold the worker up.
const uint64_t CLOCK_LIMIT_BUFFERS = 8;
const uint64_t CLOCK_LIMIT_SECONDS = 10;

} // namespace

uint32_t play_half(uint32_t play_cursor, uint32_t half_size)
{
    return play_cursor >= half_size ? 1 : 0;
}

uint32_t halves_crossed(uint32_t last, uint32_t play, uint64_t clock_bytes, uint32_t half_size, uint32_t buffer_bytes)
{
    const uint64_t buffer = buffer_bytes;
    // A cursor that stands still has gone nowhere: a device that stalls or
    // sleeps stops its cursor while the clock runs on.
    if (play % buffer == last % buffer) return 0;
    uint64_t forward = (play + buffer - last % buffer) % buffer;
    // Whole trips round the buffer the cursor cannot show; the clock, off by
    // far less than a half, can.
    if (clock_bytes > forward) forward += (clock_bytes - forward + buffer / 2) / buffer * buffer;
    // Boundaries at each half's start, counted along the buffer laid end to end.
    const auto boundaries = [&](uint64_t at) { return at / buffer * 2 + (at % buffer >= half_size ? 1 : 0); };
    return uint32_t(boundaries(last % buffer + forward) - boundaries(last % buffer));
}

uint64_t clock_bytes(int64_t ticks, uint64_t frequency, uint64_t byte_rate, uint32_t buffer_bytes)
{
    // A counter that steps back has shown nothing played. One that shows far
    // more than a worker is ever away has jumped (a suspend), and the device
    // did not play on meanwhile: it counts for nothing either, rather than
    // for trips round the buffer that were never made.
    if (ticks <= 0 || frequency == 0) return 0;
    const uint64_t limit = std::max(CLOCK_LIMIT_BUFFERS * buffer_bytes, CLOCK_LIMIT_SECONDS * byte_rate);
    // In whole seconds first, so that no product leaves 64 bits.
    const uint64_t seconds = uint64_t(ticks) / frequency, rest = uint64_t(ticks) % frequency;
    if (byte_rate && seconds > limit / byte_rate) return 0;
    const uint64_t bytes = seconds * byte_rate + rest * byte_rate / frequency;
    return bytes > limit ? 0 : bytes;
}

bool drain_complete(bool stream_ended, bool playing_half_audible)
{
    return stream_ended && !playing_half_audible;
}
