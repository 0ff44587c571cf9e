// Streaming through the real device: what the worker writes, captures and
// what the sound server hears.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "player_fixture.h"

namespace {

// Every half the worker wrote, and the capture right after it, in order.
struct Observed {
    std::vector<uint32_t> halves;
    Bytes written;
    Bytes captured;
};
Observed observed;

void observe(uint32_t half, const uint8_t* data, uint32_t length) {
    observed.halves.push_back(half);
    observed.written.insert(observed.written.end(), data, data + length);
    for (int i = 0; i < 512; i++) {
        const uint32_t frame = capture_frame(i);
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&frame);
        observed.captured.insert(observed.captured.end(), b, b + 4);
    }
}

// Plays the stream until the worker returns by itself.
bool play_to_the_end(const Bytes& ogg, DWORD timeout_ms) {
    observed = Observed();
    observed.written.reserve(200 * HALF);
    observed.captured.reserve(200 * 2048);
    StreamPlayer& p = stream_player();
    p.refill_observer = observe;
    if (!open_memory_stream(ogg) || !stream_play()) return false;
    return ::WaitForSingleObject(p.refill_worker, timeout_ms) == WAIT_OBJECT_0;
}

Bytes whole_buffer() {
    void* region = nullptr;
    DWORD length = 0;
    IDirectSoundBuffer* buffer = stream_player().buffer;
    if (buffer->Lock(0, 0, &region, &length, nullptr, nullptr, DSBLOCK_ENTIREBUFFER) != DS_OK) return {};
    Bytes out(static_cast<uint8_t*>(region), static_cast<uint8_t*>(region) + length);
    buffer->Unlock(region, length, nullptr, 0);
    return out;
}

}  // namespace

TEST(StreamingByteExact, HalvesAndCapturesMatchAnIndependentDecode) {
    spectrum_init();
    Pcm pcm;
    Bytes ogg = sine_ogg(2, 44100, 44100, &pcm);  // 10.8 halves
    ASSERT_TRUE(play_to_the_end(ogg, 10000)) << "the worker returns after the end";
    StreamPlayer& p = stream_player();
    const size_t n = observed.halves.size();
    ASSERT_GE(n, 12u);
    for (size_t i = 0; i < n; i++) ASSERT_EQ(observed.halves[i], i % 2) << "refill " << i;
    Bytes want = pcm_bytes(pcm);
    want.resize(n * HALF, 0);
    EXPECT_TRUE(observed.written == want) << "the halves are the stream, then silence";
    for (size_t i = 0; i < n; i++)
        ASSERT_EQ(0, std::memcmp(&observed.captured[i * 2048], &want[i * HALF], 2048)) << "capture " << i;
    EXPECT_EQ(Bytes(observed.written.end() - 2 * HALF, observed.written.end()), Bytes(2 * HALF, 0))
        << "the worker leaves once both halves are silent";
    EXPECT_EQ(whole_buffer(), Bytes(BUFFER_BYTES, 0)) << "only silence loops after the end";
    EXPECT_TRUE(p.stream_ended.load());
    EXPECT_NE(spectrum_compute(), nullptr);
    EXPECT_TRUE(stream_close());
    EXPECT_EQ(p.refill_worker, nullptr);
    EXPECT_EQ(spectrum_compute(), nullptr) << "capture is off after close";
    EXPECT_EQ(0, std::memcmp(capture_buffer(), &observed.captured[(n - 1) * 2048], 2048)) << "the last capture stays";
    p.refill_observer = nullptr;
}

TEST(StreamingByteExact, ShortMonoStreamAndNoCapture) {
    StreamPlayer& p = stream_player();
    p.capture_enabled.store(false);
    Bytes marker(2048, 0x5A);
    capture_store(marker.data(), 2048);
    Pcm pcm;
    Bytes ogg = sine_ogg(1, 22050, 3000, &pcm);  // 6000 bytes: less than a half
    ASSERT_TRUE(play_to_the_end(ogg, 10000));
    ASSERT_EQ(observed.halves, (std::vector<uint32_t>{0, 1, 0}));
    Bytes want = pcm_bytes(pcm);
    want.resize(3 * HALF, 0);
    EXPECT_TRUE(observed.written == want);
    EXPECT_EQ(0, std::memcmp(capture_buffer(), marker.data(), 2048)) << "refills copy nothing while capture is off";
    EXPECT_TRUE(stream_close()) << "after the worker has returned";
    p.refill_observer = nullptr;
}

TEST(StreamingByteExact, CloseWhilePlayingWaitsForTheWorker) {
    Bytes ogg = sine_ogg(2, 44100, 441000);
    ASSERT_TRUE(open_memory_stream(ogg));
    ASSERT_TRUE(stream_play());
    EXPECT_FALSE(stream_play()) << "one worker per stream";
    ::Sleep(400);
    HANDLE worker = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), stream_player().refill_worker, ::GetCurrentProcess(),
                                  &worker, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_TRUE(stream_close());
    EXPECT_EQ(::WaitForSingleObject(worker, 0), WAIT_OBJECT_0) << "the worker has returned";
    DWORD code = 1;
    ::GetExitCodeThread(worker, &code);
    EXPECT_EQ(code, 0u);
    ::CloseHandle(worker);
}

namespace {

// Records from the default source, the null sink's monitor in the harness.
struct Recorder {
    HWAVEIN in = nullptr;
    WAVEHDR header = {};
    std::vector<int16_t> samples;
    bool start(double seconds) {
        WAVEFORMATEX f = {WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
        samples.assign(size_t(seconds * 44100) * 2, 0);
        if (::waveInOpen(&in, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) return false;
        header.lpData = reinterpret_cast<LPSTR>(samples.data());
        header.dwBufferLength = DWORD(samples.size() * 2);
        ::waveInPrepareHeader(in, &header, sizeof header);
        ::waveInAddBuffer(in, &header, sizeof header);
        if (::waveInStart(in) != MMSYSERR_NOERROR) return false;
        // The capture stream takes a while to run: wait until it delivers.
        for (int i = 0; i < 300; i++) {
            MMTIME position = {};
            position.wType = TIME_BYTES;
            ::waveInGetPosition(in, &position, sizeof position);
            if (position.wType == TIME_BYTES && position.u.cb >= 176400 / 4) return true;
            ::Sleep(10);
        }
        return false;
    }
    size_t finish() {
        while (!(header.dwFlags & WHDR_DONE)) ::Sleep(20);
        ::waveInStop(in);
        ::waveInUnprepareHeader(in, &header, sizeof header);
        ::waveInClose(in);
        return header.dwBytesRecorded / 4;
    }
};

double energy(const int16_t* a, size_t frames) {
    double e = 0;
    for (size_t i = 0; i < 2 * frames; i++) e += double(a[i]) * a[i];
    return e;
}

// The lag of `block` frames of the reference at `at` that best matches the
// recording, searched within `radius` of `center`; ties keep the centre.
long best_lag(const Pcm& rec, const Pcm& ref, size_t at, size_t block, long center, long radius) {
    long best = center;
    double best_error = -1;
    for (long step = 0; step <= 2 * radius; step++) {
        const long lag = center + (step % 2 ? (step + 1) / 2 : -step / 2);
        if (lag + long(at) < 0 || size_t(lag + long(at)) + block > rec.size() / 2) continue;
        double e = 0;
        for (size_t i = 0; i < 2 * block; i++) {
            const double d = double(rec[2 * (at + size_t(lag)) + i]) - ref[2 * at + i];
            e += d * d;
        }
        if (best_error < 0 || e < best_error) {
            best_error = e;
            best = lag;
        }
    }
    return best;
}

}  // namespace

TEST(StreamingHeard, RecordingMatchesTheMusicWithoutGapOrRepeat) {
    // Music, then a loud last half: a repeat of it could not hide as quiet.
    Pcm music = pcm_demo_music(44100, 2.0);
    Pcm tail = pcm_sine(2, 44100, 8192, 660.0, 9000.0);
    music.insert(music.end(), tail.begin(), tail.end());
    Bytes ogg = ogg_encode(music, 2, 44100);
    Pcm ref = ogg_decode(ogg);
    const size_t frames = ref.size() / 2;
    Recorder recorder;
    ASSERT_TRUE(recorder.start(7.0));
    ASSERT_TRUE(open_memory_stream(ogg));
    ASSERT_TRUE(stream_play());
    const size_t recorded = recorder.finish();
    EXPECT_TRUE(stream_close());
    Pcm rec(recorder.samples.begin(), recorder.samples.begin() + long(2 * recorded));

    // Find the music in the recording by one loud block, then follow it block
    // by block: Wine's mixer may slip by a few frames, a lost or repeated
    // half would move it by 4096.
    const size_t block = 2048;
    size_t loud = 0;
    for (size_t at = 0; at + block <= frames; at += block)
        if (energy(&ref[2 * at], block) > energy(&ref[2 * loud], block)) loud = at;
    const long span = long(recorded) / 2;
    long lag = best_lag(rec, ref, loud, 1024, span, span);
    const long first_lag = lag;
    int blocks = 0, clean = 0;
    std::string slips;
    for (size_t at = 0; at + block <= frames; at += block) {
        const double e = energy(&ref[2 * at], block);
        if (e < 1e-3 * energy(&ref[2 * loud], block)) continue;
        lag = best_lag(rec, ref, at, block, lag, 64);
        double noise = 0;
        for (size_t i = 0; i < 2 * block; i++) {
            const double d = double(rec[2 * (at + size_t(lag)) + i]) - ref[2 * at + i];
            noise += d * d;
        }
        blocks++;
        if (10 * std::log10(e / (noise + 1)) > 30) clean++;
        else slips += " " + std::to_string(at);
    }
    // A slip of the mixer spoils the block it falls in; a wrong half would
    // spoil every block after it.
    EXPECT_GE(clean, blocks * 85 / 100) << clean << " of " << blocks << " blocks match; spoilt at" << slips;
    EXPECT_LT(std::labs(lag - first_lag), 441) << "drifted " << lag - first_lag << " frames: a gap or a repeat";
    // After the music (and a few ms for slips of the mixer): silence, for
    // more than a whole buffer cycle.
    const size_t after = frames + size_t(lag) + 441;
    ASSERT_LT(after + 2 * 8192, recorded) << "the recording runs past the end";
    int loudest = 0;
    for (size_t i = 2 * after; i < 2 * recorded; i++) loudest = std::max(loudest, std::abs(int(rec[i])));
    EXPECT_LT(loudest, 100) << "nothing repeats after the end";
}
