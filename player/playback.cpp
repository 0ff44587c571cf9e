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
    StreamRecord& s = p.stream;
    WorkerRecord& w = p.worker;
    void* region = nullptr;
    DWORD length = 0;
    const uint32_t bytes = index ? s.buffer_bytes - p.half_size : p.half_size;
    HRESULT result = s.buffer->Lock(index * p.half_size, bytes, &region, &length, nullptr, nullptr, 0);
    if (result != DS_OK) return result;
    if (!region) return E_POINTER;
    uint8_t* half = static_cast<uint8_t*>(region);
    HalfFill fill = refill_half(&s.decoder, &w.refill, index * p.half_size, half, length);
    w.half_audible[index] = fill.audio_bytes > 0;
    if (fill.ended) w.stream_ended.store(true);
    if (p.spectrum.capture_enabled.load()) capture_store(half, length);
    if (p.refill_observer) p.refill_observer(index, half, length);
    s.buffer->Unlock(region, length, nullptr, 0);
    return DS_OK;
}

// Silence from `offset` to the end of its half.
static HRESULT silence_half_from(StreamPlayer& p, DWORD offset)
{
    StreamRecord& s = p.stream;
    const DWORD end = play_half(offset, p.half_size) ? s.buffer_bytes : p.half_size;
    if (offset >= end) return DS_OK;
    void* region = nullptr;
    DWORD length = 0;
    const HRESULT result = s.buffer->Lock(offset, end - offset, &region, &length, nullptr, nullptr, 0);
    if (result != DS_OK || !region) return result;
    std::memset(region, 0, length);
    s.buffer->Unlock(region, length, nullptr, 0);
    return DS_OK;
}

static int64_t performance_count()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// The cursors as the buffer starts to play from its start, now.
static CursorRecord cursors_at_start()
{
    return CursorRecord{0, 0, 0, performance_count()};
}

// A lost buffer (another program took the device) comes back stopped and
// empty: both halves get the stream from where it stands, and it plays on
// from the start of half 0. The audio lost with it is not decoded again.
// Each poll takes the restore up where it failed; a new loss on the way
// takes the halves written with it, so they are written again.
static void buffer_restore(StreamPlayer& p)
{
    RestoreRecord& r = p.restore;
    IDirectSoundBuffer* buffer = p.stream.buffer;
    r.restore_due = true;
    if (r.restored_halves == 0 && buffer->Restore() != DS_OK) return;
    for (; r.restored_halves < 2; r.restored_halves++) {
        const HRESULT result = refill_locked_half(p, r.restored_halves);
        if (result == DSERR_BUFFERLOST) r.restored_halves = 0;
        if (result != DS_OK) return;
    }
    // A release under way has stopped the buffer: it stays stopped.
    if (p.worker.stop_requested.load()) return;
    buffer->SetCurrentPosition(0);
    const HRESULT played = buffer->Play(0, 0, DSBPLAY_LOOPING);
    if (played == DSERR_BUFFERLOST) r.restored_halves = 0;
    if (played != DS_OK) return;
    r = RestoreRecord{};
    // However long the restore took, the buffer plays from its start now:
    // the clock counts from here, not from the poll that found the loss.
    p.worker.cursor = cursors_at_start();
}

void refill_prepare()
{
    StreamPlayer& p = stream_player();
    const StreamRecord& s = p.stream;
    p.worker =
        WorkerRecord{false, false, {s.stream_channels, s.stream_rate, false}, {false, false}, cursors_at_start()};
    p.restore = RestoreRecord{};
}

// The cursors, and in *at the clock when they were read. A worker held up
// in the read (a busy machine) cannot tell when in it the cursor stood, and
// a clock read late would count time the cursor did not show, as a trip
// round the buffer that never was: such a read is made again, a few times
// at most, until one takes less than an eighth of the buffer's time.
static HRESULT read_cursors(StreamPlayer& p, uint64_t frequency, uint64_t byte_rate, DWORD* play, DWORD* write,
                            int64_t* at)
{
    const int64_t limit = int64_t(frequency * p.stream.buffer_bytes / (byte_rate * 8));
    HRESULT result = DS_OK;
    for (int read = 0; read < CURSOR_READS; read++) {
        const int64_t before = performance_count();
        result = p.stream.buffer->GetCurrentPosition(play, write);
        *at = performance_count();
        if (result != DS_OK || *at - before <= limit) break;
    }
    return result;
}

void refill_poll()
{
    StreamPlayer& p = stream_player();
    StreamRecord& s = p.stream;
    WorkerRecord& w = p.worker;
    CursorRecord& c = w.cursor;
    DWORD status = 0, play = 0, write = 0;
    LARGE_INTEGER frequency;
    ::QueryPerformanceFrequency(&frequency);
    const uint64_t byte_rate = uint64_t(s.stream_rate) * uint64_t(s.stream_channels) * 2;
    int64_t now = 0;
    if (read_cursors(p, uint64_t(frequency.QuadPart), byte_rate, &play, &write, &now) != DS_OK) return;
    const uint64_t clock = clock_bytes(now - c.last_poll_time, uint64_t(frequency.QuadPart), byte_rate, s.buffer_bytes);
    const DWORD last = c.last_play_cursor;
    c.last_play_cursor = play;
    c.last_poll_time = now;
    if (p.restore.restore_due) return buffer_restore(p);
    // A lost buffer stops, so its cursor stands still: only then is the status
    // asked, to keep the poll as light as it was while music plays.
    const bool still = play == last;
    if (still && s.buffer->GetStatus(&status) == DS_OK && (status & DSBSTATUS_BUFFERLOST)) return buffer_restore(p);
    const uint32_t current = play_half(play, p.half_size);
    c.current_half.store(current);
    // Away for more than a half, the worker finds the cursor come round into
    // music already heard, and the other half heard too; late by almost a
    // half, it finds the device taking the half it left. What the device has
    // not taken of that heard music turns to silence, and the half after it
    // is the next to get music.
    const uint32_t ahead = play_half(write, p.half_size);
    if (halves_crossed(last, play, clock, p.half_size, s.buffer_bytes) >= 2 ||
        (current != c.previous_half.load() && ahead == c.previous_half.load())) {
        if (silence_half_from(p, write) == DSERR_BUFFERLOST) return buffer_restore(p);
        c.previous_half.store(1 - ahead);
    }
    const uint32_t previous = c.previous_half.load();
    if (current == previous) return;

    // The half that ended the music is heard once: the worker stays until it
    // has been overwritten with silence too.
    const bool drained = drain_complete(w.stream_ended.load(), w.half_audible[current]);
    const HRESULT result = refill_locked_half(p, previous);
    if (result == DSERR_BUFFERLOST) return buffer_restore(p);
    // A half that cannot be locked is tried again at the next poll: nothing
    // has been decoded for it yet, so nothing is lost.
    if (result != DS_OK) return;
    if (drained) w.stop_requested.store(true);
    c.previous_half.store(current);
}

DWORD WINAPI refill_thread(LPVOID)
{
    StreamPlayer& p = stream_player();
    while (!p.worker.stop_requested.load()) {
        refill_poll();
        ::Sleep(POLL_MS);
    }
    ::Sleep(LEAVE_MS);
    return 0;
}

bool stream_play()
{
    StreamPlayer& p = stream_player();
    StreamRecord& s = p.stream;
    if (!p.sound.device_open || !s.stream_open) return false;
    // One worker per stream: a second one would race the first for the decoder.
    if (s.refill_worker) return false;
    refill_prepare();
    s.buffer->Play(0, 0, DSBPLAY_LOOPING);
    s.refill_worker = ::CreateThread(nullptr, 0, refill_thread, p.sound.device_window, 0, &s.refill_worker_id);
    if (!s.refill_worker) {
        player_report("the refill worker could not start (error %lu)", ::GetLastError());
        s.buffer->Stop();
        p.worker.stop_requested.store(true);
        s.refill_worker_id = 0;
        return false;
    }
    ::SetThreadPriority(s.refill_worker, THREAD_PRIORITY_HIGHEST);
    ::SetPriorityClass(::GetCurrentProcess(), HIGH_PRIORITY_CLASS);
    UINT_PTR timer = ::SetTimer(p.sound.device_window, 0, TIMER_MS, nullptr);
    // Without a window the timer gets an identifier of its own.
    s.timer = p.sound.device_window ? 0 : timer;
    s.timer_set = timer != 0;
    return true;
}

bool stream_close()
{
    StreamPlayer& p = stream_player();
    if (!p.sound.device_open || !p.stream.stream_open) return false;
    player_release(PLAYER_DEVICE | PLAYER_SPECTRUM);
    return true;
}
