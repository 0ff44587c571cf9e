// The worker's cursor sums on arbitrary inputs from the callers' domain: a
// buffer of two halves that the device may round up by less than a frame, a
// clock off by less than half a half. The count of boundaries crossed must be
// exactly those that lie in the distance travelled (none for a cursor found
// where it was), and a half's frames must lie on the buffer's grid.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>

#include "refill.h"

static void check(bool ok, const char* promise)
{
    if (ok) return;
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

// The half boundaries (offsets 0 and half of every trip round the buffer)
// in (from, from + distance], counted one trip at a time.
static uint64_t boundaries_in(uint64_t from, uint64_t distance, uint64_t half, uint64_t buffer)
{
    uint64_t count = distance / buffer * 2;
    const uint64_t rest_end = from + distance % buffer; // below 2 buffers
    for (uint64_t b : {buffer, half, buffer + half})
        if (b > from && b <= rest_end) count++;
    return count;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const uint32_t half = in.ConsumeIntegralInRange<uint32_t>(1, 0x7FFFFF00u);
    const uint32_t buffer = 2 * half + in.ConsumeIntegralInRange<uint32_t>(0, 509);
    const uint32_t last = in.ConsumeIntegralInRange<uint32_t>(0, buffer - 1);
    // Two polls are never years apart: 2^48 bytes is months of the widest format.
    const uint64_t distance = in.ConsumeIntegralInRange<uint64_t>(0, uint64_t(1) << 48);
    const int64_t clock_error = in.ConsumeIntegralInRange<int64_t>(-int64_t(half / 2), half / 2);
    const uint32_t play = uint32_t((last + distance) % buffer);
    const uint64_t clock = clock_error < 0 && uint64_t(-clock_error) > distance ? 0 : distance + clock_error;

    check(play_half(play, half) == (play < half ? 0u : 1u), "play_half names the half the cursor is in");
    // A cursor found where it was has not moved, whatever the clock says: a
    // device that stalls or sleeps stops its cursor while the clock runs on.
    const uint64_t expected = play == last ? 0 : boundaries_in(last, distance, half, buffer);
    if (expected <= UINT32_MAX)
        check(halves_crossed(last, play, clock, half, buffer) == expected,
              "halves_crossed counts the boundaries in the distance travelled");

    const uint32_t offset = in.ConsumeIntegral<uint32_t>();
    const uint32_t length = in.ConsumeIntegral<uint32_t>();
    const uint32_t frame = in.ConsumeIntegralInRange<uint32_t>(1, UINT32_MAX);
    uint32_t lead = 0, frames = 0;
    half_frame_span(offset, length, frame, &lead, &frames);
    const uint64_t whole = lead + uint64_t(frames) * frame;
    check(lead <= length && lead < frame, "the lead is part of one frame and inside the half");
    check(whole <= length, "the frames fit in the half");
    check(lead == length || (uint64_t(offset) + lead) % frame == 0, "the first whole frame is on the grid");
    check(lead == length || length - whole < frame, "what is left after the frames is less than a frame");
    return 0;
}
