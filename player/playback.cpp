// Playback: the looping buffer, the refill worker and the teardown.
#include "stream_player_internal.h"

uint32_t play_half(DWORD play_cursor, uint32_t half_size)
{
    return play_cursor >= half_size ? 1 : 0;
}

bool drain_complete(bool stream_ended, bool playing_half_audible)
{
    return stream_ended && !playing_half_audible;
}

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

// A lost buffer (another program took the device) comes back stopped and
// empty: both halves get the stream from where it stands, and it plays on
// from the start of half 0. The audio lost with it is not decoded again.
static void buffer_restore(StreamPlayer& p)
{
    if (p.buffer->Restore() != DS_OK) return; // tried again at the next poll
    if (refill_locked_half(p, 0) != DS_OK || refill_locked_half(p, 1) != DS_OK) return;
    p.current_half.store(0);
    p.previous_half.store(0);
    p.buffer->SetCurrentPosition(0);
    p.buffer->Play(0, 0, DSBPLAY_LOOPING);
}

void refill_poll()
{
    StreamPlayer& p = stream_player();
    DWORD status = 0, play = 0;
    if (p.buffer->GetCurrentPosition(&play, nullptr) != DS_OK) return;
    // A lost buffer stops, so its cursor stands still: only then is the status
    // asked, to keep the poll as light as it was while music plays.
    const bool stalled = play == p.last_play_cursor;
    p.last_play_cursor = play;
    if (stalled && p.buffer->GetStatus(&status) == DS_OK && (status & DSBSTATUS_BUFFERLOST)) return buffer_restore(p);
    const uint32_t current = play_half(play, p.half_size);
    p.current_half.store(current);
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
        ::Sleep(10);
    }
    ::Sleep(50);
    return 0;
}

bool stream_play()
{
    StreamPlayer& p = stream_player();
    if (!p.device_open || !p.stream_open) return false;
    // One worker per stream: a second one would race the first for the decoder.
    if (p.refill_worker) return false;
    p.refill = {p.stream_channels, p.stream_rate, false};
    p.half_audible[0] = p.half_audible[1] = false;
    p.stop_requested.store(false);
    p.stream_ended.store(false);
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
    UINT_PTR timer = ::SetTimer(p.device_window, 0, 250, nullptr);
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
