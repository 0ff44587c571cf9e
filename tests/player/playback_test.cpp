// Streaming through the real device: what the worker writes, captures and
// what the sound server hears.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <cstring>
#include <string>

#include "player_fixture.h"
#include "sound_recorder.h"

namespace {

// Every half the worker wrote, and the capture right after it, in order; the
// play cursor at each refill.
struct Observed {
    std::vector<uint32_t> halves, starts, cursors;
    Bytes written;
    Bytes captured;
};
Observed observed;

void observe(uint32_t half, const uint8_t* data, uint32_t length)
{
    DWORD cursor = 0;
    stream_player().stream.buffer->GetCurrentPosition(&cursor, nullptr);
    observed.cursors.push_back(cursor);
    observed.halves.push_back(half);
    observed.starts.push_back(uint32_t(observed.written.size()));
    observed.written.insert(observed.written.end(), data, data + length);
    for (int i = 0; i < 512; i++) {
        const uint32_t frame = capture_frame(i);
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&frame);
        observed.captured.insert(observed.captured.end(), b, b + 4);
    }
}

// Plays the stream until the worker returns by itself.
bool play_to_the_end(const Bytes& ogg, DWORD timeout_ms)
{
    observed = Observed();
    observed.written.reserve(200 * HALF);
    observed.captured.reserve(200 * 2048);
    StreamPlayer& p = stream_player();
    p.refill_observer = observe;
    if (!open_memory_stream(ogg) || !stream_play()) return false;
    return ::WaitForSingleObject(p.stream.refill_worker, timeout_ms) == WAIT_OBJECT_0;
}

Bytes whole_buffer()
{
    void* region = nullptr;
    DWORD length = 0;
    IDirectSoundBuffer* buffer = stream_player().stream.buffer;
    if (buffer->Lock(0, 0, &region, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER) != DS_OK) return {};
    Bytes out(static_cast<uint8_t*>(region), static_cast<uint8_t*>(region) + length);
    buffer->Unlock(region, length, nullptr, 0);
    return out;
}

} // namespace

TEST(StreamingByteExact, HalvesAndCapturesMatchAnIndependentDecode)
{
    // Six channels: 16384 is no whole number of 12-byte frames, and the device
    // makes the buffer 32772 bytes long. At 8000 Hz a half lasts 171 ms, so a
    // worker held up on a busy machine has more time than in the stereo case
    // before the order of its refills changes.
    struct Case {
        int channels, rate;
        size_t frames;
    } cases[] = {{2, 44100, 44100}, {6, 8000, 12000}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.channels) + " channels");
        spectrum_init();
        Pcm pcm;
        Bytes ogg = sine_ogg(c.channels, c.rate, c.frames, &pcm); // 10.8 and 8.8 halves
        ASSERT_TRUE(play_to_the_end(ogg, 10000)) << "the worker returns after the end";
        StreamPlayer& p = stream_player();
        const size_t n = observed.halves.size();
        ASSERT_GE(n, 10u);
        for (size_t i = 0; i < n; i++) ASSERT_EQ(observed.halves[i], i % 2) << "refill " << i;
        // The halves in the order they play: the stream, then silence.
        Bytes want = pcm_bytes(pcm);
        want.resize(observed.written.size(), 0);
        EXPECT_TRUE(observed.written == want) << "the halves are the stream, then silence";
        for (size_t i = 0; i < n; i++)
            ASSERT_EQ(0, std::memcmp(&observed.captured[i * 2048], &want[observed.starts[i]], 2048)) << "capture " << i;
        const uint32_t frame = uint32_t(c.channels) * 2;
        for (uint32_t cursor : observed.cursors)
            ASSERT_EQ(cursor % frame, 0u) << "the device plays whole frames from offset 0 on every cycle";
        const Bytes last = whole_buffer();
        EXPECT_EQ(last.size(), device_buffer_bytes(c.channels));
        EXPECT_EQ(last, Bytes(last.size(), 0)) << "only silence loops after the end";
        EXPECT_EQ(Bytes(observed.written.end() - last.size(), observed.written.end()), Bytes(last.size(), 0))
            << "the worker leaves once both halves are silent";
        EXPECT_TRUE(p.worker.stream_ended.load());
        EXPECT_NE(spectrum_compute(), nullptr);
        EXPECT_TRUE(stream_close());
        EXPECT_EQ(p.stream.refill_worker, nullptr);
        EXPECT_EQ(spectrum_compute(), nullptr) << "capture is off after close";
        EXPECT_EQ(0, std::memcmp(capture_buffer(), &observed.captured[(n - 1) * 2048], 2048))
            << "the last capture stays";
        p.refill_observer = nullptr;
    }
}

TEST(StreamingByteExact, ShortMonoStreamAndNoCapture)
{
    StreamPlayer& p = stream_player();
    p.spectrum.capture_enabled.store(false);
    Bytes marker(2048, 0x5A);
    capture_store(marker.data(), 2048);
    Pcm pcm;
    Bytes ogg = sine_ogg(1, 22050, 3000, &pcm); // 6000 bytes: less than a half
    ASSERT_TRUE(play_to_the_end(ogg, 10000));
    ASSERT_EQ(observed.halves, (std::vector<uint32_t>{0, 1, 0}));
    Bytes want = pcm_bytes(pcm);
    want.resize(3 * HALF, 0);
    EXPECT_TRUE(observed.written == want);
    EXPECT_EQ(0, std::memcmp(capture_buffer(), marker.data(), 2048)) << "refills copy nothing while capture is off";
    EXPECT_TRUE(stream_close()) << "after the worker has returned";
    p.refill_observer = nullptr;
}

TEST(StreamingByteExact, CloseWhilePlayingWaitsForTheWorker)
{
    Bytes ogg = sine_ogg(2, 44100, 441000);
    ASSERT_TRUE(open_memory_stream(ogg));
    ASSERT_TRUE(stream_play());
    EXPECT_FALSE(stream_play()) << "one worker per stream";
    EXPECT_EQ(::GetThreadPriority(stream_player().stream.refill_worker), THREAD_PRIORITY_HIGHEST);
    EXPECT_EQ(::GetPriorityClass(::GetCurrentProcess()), DWORD(HIGH_PRIORITY_CLASS));
    ::Sleep(400);
    HANDLE worker = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), stream_player().stream.refill_worker, ::GetCurrentProcess(),
                                  &worker, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_TRUE(stream_close());
    EXPECT_EQ(::WaitForSingleObject(worker, 0), WAIT_OBJECT_0) << "the worker has returned";
    DWORD code = 1;
    ::GetExitCodeThread(worker, &code);
    EXPECT_EQ(code, 0u);
    ::CloseHandle(worker);
}

TEST(StreamingHeard, RecordingHoldsTheMusicOnceThenSilence)
{
    // Music, then a loud last half: a repeat of it could not hide as quiet.
    Pcm music = pcm_demo_music(44100, 2.0);
    Pcm tail = pcm_sine(2, 44100, 8192, 660.0, 9000.0);
    music.insert(music.end(), tail.begin(), tail.end());
    Bytes ogg = ogg_encode(music, 2, 44100);
    Pcm ref = ogg_decode(ogg);
    SoundRecorder recorder;
    ASSERT_TRUE(recorder.start());
    ASSERT_TRUE(open_memory_stream(ogg));
    ASSERT_TRUE(stream_play());
    ::Sleep(5000); // the music, then more than a whole buffer cycle
    recorder.stop();
    EXPECT_TRUE(stream_close());

    expect_heard_whole(recorder.samples(), ref, 100);
}

// The check above against recordings made by hand: a late mixer is allowed
// right up to the music's last frames, and so are slips of a few ms; music
// lost, heard twice or broken by silence for a half never is.
TEST(StreamingHeard, LateMusicIsAllowedAndMusicAgainIsNot)
{
    Pcm music = pcm_demo_music(44100, 2.0);
    Pcm tail = pcm_sine(2, 44100, 8192, 660.0, 9000.0);
    music.insert(music.end(), tail.begin(), tail.end());
    const Pcm ref = ogg_decode(ogg_encode(music, 2, 44100));
    const long n = long(ref.size() / 2);
    // Silence, the music up to `cut`, `gap` frames of silence, the music again
    // from `resume` on, then frames [again, again + count) of it once more,
    // then silence.
    auto recording = [&](long cut, long gap, long again, long count, long resume = -1) {
        if (resume < 0) resume = cut;
        Pcm rec(2 * 3000, 0);
        rec.insert(rec.end(), ref.begin(), ref.begin() + 2 * cut);
        rec.insert(rec.end(), 2 * gap, 0);
        rec.insert(rec.end(), ref.begin() + 2 * resume, ref.end());
        rec.insert(rec.end(), ref.begin() + 2 * again, ref.begin() + 2 * (again + count));
        rec.insert(rec.end(), 2 * 44100, 0);
        return rec;
    };
    auto heard = [&](long cut, long gap, long again, long count) {
        return follow(recording(cut, gap, again, count), ref);
    };
    for (long before_end : {10L, 300L, 600L, 5000L}) {
        const Continuity c = heard(n - before_end, 700, 0, 0);
        EXPECT_TRUE(c.reached_end && c.dropouts == 1 && c.frames_delayed == 700 && c.repeats == 0 &&
                    c.loudest_after == 0)
            << before_end << " frames before the end: " << describe(c);
    }
    EXPECT_EQ(4096, heard(n, 0, n - 4096, 4096).farthest_back) << "the last half again";
    const Continuity late = heard(n - 3000, 2000, n - 4096, 4096);
    EXPECT_TRUE(late.dropouts == 1 && late.farthest_back == 4096)
        << "late, then the last half again: " << describe(late);

    // Mid-track, through the check itself: a few ms lost, again or silent
    // pass; a half lost, again or silent fails.
    const long mid = n / 2;
    expect_heard_whole(recording(mid, 0, 0, 0, mid + 130), ref, 100);
    expect_heard_whole(recording(mid, 0, 0, 0, mid - 130), ref, 100);
    EXPECT_NONFATAL_FAILURE(expect_heard_whole(recording(mid, 0, 0, 0, mid + 4096), ref, 100), "music lost");
    EXPECT_NONFATAL_FAILURE(expect_heard_whole(recording(mid, 0, 0, 0, mid - 4096), ref, 100), "music played again");
    EXPECT_NONFATAL_FAILURE(expect_heard_whole(recording(mid, 0, 0, 0, mid + 1024), ref, 100), "music lost");
    expect_heard_whole(recording(mid, 700, 0, 0), ref, 100);
    EXPECT_NONFATAL_FAILURE(expect_heard_whole(recording(mid, 4096, 0, 0), ref, 100), "music interrupted");
}
