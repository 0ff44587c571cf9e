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

void refill_poll()
{
    StreamPlayer& p = stream_player();
    DWORD play = 0;
    if (p.buffer->GetCurrentPosition(&play, nullptr) != DS_OK) return;
    const uint32_t current = play_half(play, p.half_size);
    p.current_half.store(current);
    const uint32_t previous = p.previous_half.load();
    if (current == previous) return;

    void* region = nullptr;
    DWORD length = 0;
    // A half that cannot be locked is tried again at the next poll: nothing
    // has been decoded for it yet, so nothing is lost.
    if (p.buffer->Lock(previous * p.half_size, p.half_size, &region, &length, nullptr, nullptr, 0) != DS_OK || !region)
        return;
    // The half that ended the music is heard once: the worker stays until it
    // has been overwritten with silence too.
    if (drain_complete(p.stream_ended.load(), p.half_audible[current])) p.stop_requested.store(true);
    uint8_t* half = static_cast<uint8_t*>(region);
    HalfFill fill = refill_half(&p.decoder, &p.refill, previous * p.half_size, half, length);
    p.half_audible[previous] = fill.audio_bytes > 0;
    if (fill.ended) p.stream_ended.store(true);
    if (p.capture_enabled.load()) capture_store(half, length);
    if (p.refill_observer) p.refill_observer(previous, half, length);
    p.buffer->Unlock(region, length, nullptr, 0);
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
