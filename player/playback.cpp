// Playback: the looping buffer, the refill worker and the teardown.
#include <cstring>

#include "stream_player_internal.h"

namespace {

const DWORD POLL_MS = 10; // about a ninth of a half at 44.1 kHz stereo
// The pause of a worker that has left its loop before it returns.
const DWORD LEAVE_MS = 50;
// Nothing acts on this window timer's ticks: the frame loop passes over them.
const UINT TIMER_MS = 250;
// Reads of the cursors made again when one is held up (see read_cursors).
const int CURSOR_READS = 4;

} // namespace

// Locks one half and writes the next stretch of the stream into it.
static HRESULT refill_locked_half(StreamPlayer& p, uint32_t index)
{
    void* region = nullptr;
    DWORD length = 0;
    const uint32_t bytes = index ? p.buffer_bytes - p.half_size : p.half_size;
    HRESULT result = p.buffer->Lock(index * p.half_size, bytes, &region, &length, nullptr, nullptr, 0);
    if (result != DS_OK) return result;
    if (!region) return E_POINTER;
    uint8_t* half = static_cast<uint8_t*>(region);
    HalfFill fill = refill_half(&p.decoder, &p.refill, index * p.half_size, half, length);
    p.half_audible[index] = fill.audio_bytes > 0;
    if (fill.ended) p.stream_ended.store(true);
    if (p.capture_enabled.load()) capture_store(half, length);
    if (p.refill_observer) p.refill_observer(index, half, length);
    p.buffer->Unlock(region, length, nullptr, 0);
    return DS_OK;
}

// Silence from `offset` to the end of its half.
static HRESULT silence_half_from(StreamPlayer& p, DWORD offset)
{
    const DWORD end = play_half(offset, p.half_size) ? p.buffer_bytes : p.half_size;
    if (offset >= end) return DS_OK;
    void* region = nullptr;
    DWORD length = 0;
    const HRESULT result = p.buffer->Lock(offset, end - offset, &region, &length, nullptr, nullptr, 0);
    if (result != DS_OK || !region) return result;
    std::memset(region, 0, length);
    p.buffer->Unlock(region, length, nullptr, 0);
    return DS_OK;
}

// A lost buffer (another program took the device) comes back stopped and
// empty: both halves get the stream from where it stands, and it plays on
// from the start of half 0. The audio lost with it is not decoded again.
// Each poll takes the restore up where it failed; a new loss on the way
// takes the halves written with it, so they are written again.
static void buffer_restore(StreamPlayer& p)
{
    p.restore_due = true;
    if (p.restored_halves == 0 && p.buffer->Restore() != DS_OK) return;
    for (; p.restored_halves < 2; p.restored_halves++) {
        const HRESULT result = refill_locked_half(p, p.restored_halves);
        if (result == DSERR_BUFFERLOST) p.restored_halves = 0;
        if (result != DS_OK) return;
    }
    p.buffer->SetCurrentPosition(0);
    const HRESULT played = p.buffer->Play(0, 0, DSBPLAY_LOOPING);
    if (played == DSERR_BUFFERLOST) p.restored_halves = 0;
    if (played != DS_OK) return;
    p.restore_due = false;
    p.restored_halves = 0;
    p.current_half.store(0);
    p.previous_half.store(0);
    p.last_play_cursor = 0;
}

static int64_t performance_count()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

void refill_prepare()
{
    StreamPlayer& p = stream_player();
    p.refill = {p.stream_channels, p.stream_rate, false};
    p.half_audible[0] = p.half_audible[1] = false;
    p.stop_requested.store(false);
    p.stream_ended.store(false);
    p.current_half.store(0);
    p.previous_half.store(0);
    p.last_play_cursor = 0;
    p.last_poll_time = performance_count();
    p.restore_due = false;
    p.restored_halves = 0;
}

// The cursors, and in *at the clock when they were read. A worker held up
// in the read (a busy machine) cannot tell when in it the cursor stood, and
// a clock read late would count time the cursor did not show, as a trip
// round the buffer that never was: such a read is made again, a few times
// at most, until one takes less than an eighth of the buffer's time.
static HRESULT read_cursors(StreamPlayer& p, uint64_t frequency, uint64_t byte_rate, DWORD* play, DWORD* write,
                            int64_t* at)
{
    const int64_t limit = int64_t(frequency * p.buffer_bytes / (byte_rate * 8));
    HRESULT result = DS_OK;
    for (int read = 0; read < CURSOR_READS; read++) {
        const int64_t before = performance_count();
        result = p.buffer->GetCurrentPosition(play, write);
        *at = performance_count();
        if (result != DS_OK || *at - before <= limit) break;
    }
    return result;
}

void refill_poll()
{
    StreamPlayer& p = stream_player();
    DWORD status = 0, play = 0, write = 0;
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    const uint64_t byte_rate = uint64_t(p.stream_rate) * uint64_t(p.stream_channels) * 2;
    int64_t now = 0;
    if (read_cursors(p, uint64_t(frequency.QuadPart), byte_rate, &play, &write, &now) != DS_OK) return;
    const uint64_t clock_bytes = uint64_t(now - p.last_poll_time) * byte_rate / uint64_t(frequency.QuadPart);
    const DWORD last = p.last_play_cursor;
    p.last_play_cursor = play;
    p.last_poll_time = now;
    if (p.restore_due) return buffer_restore(p);
    // A lost buffer stops, so its cursor stands still: only then is the status
    // asked, to keep the poll as light as it was while music plays.
    const bool still = play == last;
    if (still && p.buffer->GetStatus(&status) == DS_OK && (status & DSBSTATUS_BUFFERLOST)) return buffer_restore(p);
    const uint32_t current = play_half(play, p.half_size);
    p.current_half.store(current);
    // Away for more than a half, the worker finds the cursor come round into
    // music already heard, and the other half heard too; late by almost a
    // half, it finds the device taking the half it left. What the device has
    // not taken of that heard music turns to silence, and the half after it
    // is the next to get music.
    const uint32_t ahead = play_half(write, p.half_size);
    if (halves_crossed(last, play, clock_bytes, p.half_size, p.buffer_bytes) >= 2 ||
        (current != p.previous_half.load() && ahead == p.previous_half.load())) {
        if (silence_half_from(p, write) == DSERR_BUFFERLOST) return buffer_restore(p);
        p.previous_half.store(1 - ahead);
    }
    const uint32_t previous = p.previous_half.load();
    if (current == previous) return;

    // The half that ended the music is heard once: the worker stays until it
    // has been overwritten with silence too.
    const bool drained = drain_complete(p.stream_ended.load(), p.half_audible[current]);
    const HRESULT result = refill_locked_half(p, previous);
    if (result == DSERR_BUFFERLOST) return buffer_restore(p);
    // A half that cannot be locked is tried again at the next poll: nothing
    // has been decoded for it yet, so nothing is lost.
    if (result != DS_OK) return;
    if (drained) p.stop_requested.store(true);
    p.previous_half.store(current);
}

DWORD WINAPI refill_thread(LPVOID)
{
    StreamPlayer& p = stream_player();
    while (!p.stop_requested.load()) {
        refill_poll();
        ::Sleep(POLL_MS);
    }
    ::Sleep(LEAVE_MS);
    return 0;
}

bool stream_play()
{
    StreamPlayer& p = stream_player();
    if (!p.device_open || !p.stream_open) return false;
    // One worker per stream: a second one would race the first for the decoder.
    if (p.refill_worker) return false;
    refill_prepare();
    p.buffer->Play(0, 0, DSBPLAY_LOOPING);
    p.refill_worker = ::CreateThread(nullptr, 0, refill_thread, p.device_window, 0, &p.refill_worker_id);
    if (!p.refill_worker) {
        p.buffer->Stop();
        p.stop_requested.store(true);
        p.refill_worker_id = 0;
        return false;
    }
    ::SetThreadPriority(p.refill_worker, THREAD_PRIORITY_HIGHEST);
    ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    UINT_PTR timer = ::SetTimer(p.device_window, 0, TIMER_MS, nullptr);
    // Without a window the timer gets an identifier of its own.
    p.timer = p.device_window ? 0 : timer;
    p.timer_set = timer != 0;
    return true;
}

bool stream_close()
{
    StreamPlayer& p = stream_player();
    if (!p.device_open || !p.stream_open) return false;
    player_release(PLAYER_DEVICE | PLAYER_SPECTRUM);
    return true;
}
