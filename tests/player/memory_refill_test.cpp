// The memory callbacks, the refill of single halves and the worker's refill of
// a buffer that is lost, without a sound device.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "player_fixture.h"
#include "ogg_craft.h"

TEST(MemoryCallbacks, ReadGivesTheRemainderThenNothing)
{
    const uint8_t block[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    MemorySource m = {block, 10, 0};
    uint8_t out[16] = {};
    EXPECT_EQ(memory_read(out, 1, 4, &m), 4u);
    EXPECT_EQ(memory_read(out, 1, 16, &m), 6u) << "only what remains";
    EXPECT_EQ(out[0], 4);
    EXPECT_EQ(out[5], 9);
    EXPECT_EQ(memory_read(out, 1, 16, &m), 0u) << "end of the block";
    EXPECT_EQ(memory_tell(&m), 10);
}

TEST(MemoryCallbacks, SeekStaysInsideTheBlock)
{
    const uint8_t block[100] = {};
    MemorySource m = {block, 100, 0};
    EXPECT_EQ(memory_seek(&m, 1000, SEEK_SET), 0);
    EXPECT_EQ(memory_tell(&m), 100) << "SEEK_SET beyond the end stops at the end";
    memory_seek(&m, 10, SEEK_SET);
    memory_seek(&m, -5000, SEEK_END);
    EXPECT_EQ(memory_tell(&m), 100) << "SEEK_END ignores its offset";
    memory_seek(&m, 40, SEEK_SET);
    memory_seek(&m, 30, SEEK_CUR);
    EXPECT_EQ(memory_tell(&m), 70);
    memory_seek(&m, 31, SEEK_CUR);
    EXPECT_EQ(memory_tell(&m), 100);
    memory_seek(&m, -500, SEEK_CUR);
    EXPECT_EQ(memory_tell(&m), 0);
    memory_seek(&m, 7, SEEK_SET);
    memory_seek(&m, 3, 9);
    EXPECT_EQ(memory_tell(&m), 7) << "an unknown whence changes nothing";
    EXPECT_EQ(memory_close(&m), 1);
    EXPECT_EQ(m.base, block) << "the block stays its owner's";
}

TEST(MemoryCallbacks, EmptyOrForeignBlockDoesNotOpen)
{
    Bytes empty;
    MemoryDecoder none(empty);
    EXPECT_FALSE(none.open);
    Bytes noise(5000, 0x47);
    MemoryDecoder foreign(noise);
    EXPECT_FALSE(foreign.open);
}

TEST(RefillPlan, FramesLieOnTheBufferGrid)
{
    EXPECT_EQ(play_half(0, HALF), 0u);
    EXPECT_EQ(play_half(HALF - 1, HALF), 0u);
    EXPECT_EQ(play_half(HALF, HALF), 1u);
    EXPECT_EQ(play_half(BUFFER_BYTES - 2, HALF), 1u);
    uint32_t lead = 0, frames = 0;
    half_frame_span(HALF, HALF, 6, &lead, &frames);
    EXPECT_EQ(lead, 2u) << "16384 = 6 * 2730 + 4: the frame cut by the start has 2 bytes in half 1";
    EXPECT_EQ(frames, 2730u);
    half_frame_span(0, HALF, 4, &lead, &frames);
    EXPECT_EQ(lead, 0u);
    EXPECT_EQ(frames, 4096u);
    EXPECT_EQ(halves_crossed(100, 200, 0, HALF, BUFFER_BYTES), 0u);
    EXPECT_EQ(halves_crossed(BUFFER_BYTES - 4, 100, 400, HALF, BUFFER_BYTES), 1u) << "round the end of the buffer";
    EXPECT_EQ(halves_crossed(HALF / 2, 100, 0, HALF, BUFFER_BYTES), 2u)
        << "away for 3/4 of the buffer: back in the half it left";
    EXPECT_EQ(halves_crossed(100, 200, BUFFER_BYTES, HALF, BUFFER_BYTES), 2u)
        << "a whole trip round, seen by the clock";
    EXPECT_EQ(halves_crossed(100, 200, 3000, HALF, BUFFER_BYTES), 0u) << "the clock only counts whole trips";
    EXPECT_EQ(halves_crossed(32770, 8, 0, HALF, 32772), 1u) << "the end of a buffer rounded up to six-channel frames";
    EXPECT_EQ(halves_crossed(200, 200, 2 * BUFFER_BYTES, HALF, BUFFER_BYTES), 0u)
        << "a cursor that stood still while the clock ran on went nowhere";
    const uint64_t second = 10000000;
    EXPECT_EQ(clock_bytes(second / 10, second, 176400, BUFFER_BYTES), 17640u);
    EXPECT_EQ(clock_bytes(-1, second, 176400, BUFFER_BYTES), 0u) << "a counter that stepped back";
    EXPECT_EQ(clock_bytes(int64_t(1) << 40, second, 176400, BUFFER_BYTES), 0u) << "a counter that jumped";
}

namespace {

struct Filled {
    Bytes bytes;
    size_t audio_bytes = 0, halves_with_music = 0;
};

// Fills halves until one reports the end, as the worker does: the bytes in
// the order the device plays them.
Filled fill_to_end(MemoryDecoder& d)
{
    Filled out;
    uint8_t half[2 * HALF];
    for (uint32_t i = 0; i < 400; i++) {
        HalfFill f = d.fill(i, half);
        out.bytes.insert(out.bytes.end(), half, half + d.half_bytes(i));
        out.audio_bytes += f.audio_bytes;
        if (f.audio_bytes) out.halves_with_music++;
        if (f.ended) break;
    }
    return out;
}

// The halves hold exactly the decoded PCM, nothing lost and nothing more: no
// frame silenced or cut where a half ends or the buffer wraps.
void expect_stream(const Filled& got, const Pcm& pcm, const char* what)
{
    EXPECT_EQ(got.audio_bytes, pcm.size() * 2) << what;
    Bytes want = pcm_bytes(pcm);
    want.resize(got.bytes.size(), 0);
    EXPECT_TRUE(got.bytes == want) << what;
}

} // namespace

TEST(RefillByteExact, HalvesMatchAnIndependentDecode)
{
    struct Case {
        int channels, rate;
        size_t frames;
    } cases[] = {{2, 44100, 30000}, {1, 22050, 20000}, {3, 32000, 9000},
                 {5, 44100, 7000},  {6, 48000, 20000}, {7, 8000, 5000}};
    for (const Case& c : cases) {
        Pcm pcm;
        Bytes ogg = sine_ogg(c.channels, c.rate, c.frames, &pcm);
        MemoryDecoder d(ogg);
        ASSERT_TRUE(d.open);
        std::string what = std::to_string(c.channels) + " channels at " + std::to_string(c.rate) + " Hz";
        expect_stream(fill_to_end(d), pcm, what.c_str());
    }
}

// A restored buffer starts again at half 0: the rest of the frame that the
// lost half 0 ended with has nowhere to go, and the frames stay on the grid.
TEST(RefillByteExact, BufferBegunAnewDropsTheCarriedFrame)
{
    Pcm pcm;
    Bytes ogg = sine_ogg(6, 44100, 5000, &pcm);
    const Bytes want = pcm_bytes(pcm);
    MemoryDecoder d(ogg);
    uint8_t half[2 * HALF];
    d.fill(0, half); // 1365 frames, then 4 bytes of frame 1365
    EXPECT_EQ(0, std::memcmp(half + HALF - 4, &want[1365 * 12], 4));
    d.fill(0, half);
    EXPECT_EQ(0, std::memcmp(half, &want[1366 * 12], 1365 * 12)) << "frame 1366 at offset 0";
    d.fill(1, half);
    EXPECT_EQ(0, std::memcmp(half, &want[2732 * 12 - 8], 8)) << "the rest of frame 2731 begun by the new half 0";
}

TEST(RefillByteExact, ExactMultipleOfAHalfEndsWithASilentHalf)
{
    Pcm pcm;
    Bytes ogg = sine_ogg(2, 44100, 3 * 4096, &pcm);
    ASSERT_EQ(pcm.size() * 2, 3 * HALF);
    MemoryDecoder d(ogg);
    uint8_t half[HALF];
    for (uint32_t i = 0; i < 3; i++) {
        HalfFill f = d.fill(i, half);
        EXPECT_EQ(f.audio_bytes, HALF);
        EXPECT_FALSE(f.ended) << "half " << i << " is full without meeting the end";
        EXPECT_EQ(0, std::memcmp(half, pcm.data() + i * HALF / 2, HALF));
    }
    HalfFill last = d.fill(3, half);
    EXPECT_TRUE(last.ended);
    EXPECT_EQ(last.audio_bytes, 0u);
    EXPECT_EQ(Bytes(half, half + HALF), Bytes(HALF, 0));
}

TEST(RefillByteExact, StreamShorterThanAHalf)
{
    Pcm pcm;
    Bytes ogg = sine_ogg(2, 44100, 1000, &pcm);
    MemoryDecoder d(ogg);
    uint8_t half[HALF];
    HalfFill f = d.fill(0, half);
    EXPECT_TRUE(f.ended);
    EXPECT_EQ(f.audio_bytes, 4000u);
    EXPECT_EQ(0, std::memcmp(half, pcm.data(), 4000));
    EXPECT_EQ(Bytes(half + 4000, half + HALF), Bytes(HALF - 4000, 0));
    f = d.fill(1, half);
    EXPECT_TRUE(f.ended);
    EXPECT_EQ(Bytes(half, half + HALF), Bytes(HALF, 0)) << "nothing after the end";
}

TEST(RefillByteExact, ChainPlaysOnUntilTheFormatChanges)
{
    Pcm a, b, mono;
    Bytes first = sine_ogg(2, 44100, 10000, &a), second = sine_ogg(2, 44100, 9000, &b);
    Bytes other = sine_ogg(1, 22050, 9000, &mono);
    {
        MemoryDecoder d(ogg_chain({first, second}));
        Pcm both = a;
        both.insert(both.end(), b.begin(), b.end());
        expect_stream(fill_to_end(d), both, "same format: one stream");
    }
    for (const Bytes& change : {ogg_chain({first, other}), ogg_chain({first, sine_ogg(2, 22050, 9000)})}) {
        MemoryDecoder d(change);
        expect_stream(fill_to_end(d), a, "the link in another format is never written");
    }
}

TEST(RefillByteExact, HoleIsSkippedAndReadingGoesOn)
{
    Bytes ogg = ogg_encode(pcm_demo_music(44100, 3.0), 2, 44100);
    Pcm pcm = ogg_decode(ogg);
    std::vector<Bytes> pages = ogg_pages(ogg);
    ASSERT_GT(pages.size(), 6u);
    Bytes damaged;
    for (size_t i = 0; i < pages.size(); i++)
        if (i != pages.size() / 2) damaged.insert(damaged.end(), pages[i].begin(), pages[i].end());
    Pcm survived = ogg_decode(damaged);
    ASSERT_LT(survived.size(), pcm.size());
    ASSERT_GT(survived.size(), pcm.size() * 3 / 4);
    MemoryDecoder d(damaged);
    expect_stream(fill_to_end(d), survived, "all that survived the hole");
}

namespace {

struct CraftedRun {
    const Bytes* ogg;
    bool opened = false;
    uint32_t halves = 0;
};

DWORD WINAPI decode_crafted(LPVOID parameter)
{
    CraftedRun* run = static_cast<CraftedRun*>(parameter);
    MemoryDecoder d(*run->ogg);
    run->opened = d.open;
    if (!d.open) return 0;
    static uint8_t half[HALF];
    for (uint32_t i = 0; i < 4; i++) {
        HalfFill f = d.fill(i, half);
        run->halves++;
        if (f.ended) break;
    }
    return 0;
}

} // namespace

// A codebook claiming 131071 used entries once sized two tables on the stack
// (1.5 MB here) when decoding started; on a 256 KB stack that is a crash.
TEST(CraftedStream, HugeCodebookDoesNotCrashTheDecoder)
{
    Bytes ogg = sine_ogg(2, 44100, 20000);
    ASSERT_GE(ogg_codebook_count(ogg), 2);
    Bytes crafted = ogg_with_huge_codebook(ogg, 1, 131071, 64);
    ASSERT_FALSE(crafted.empty());
    CraftedRun run{&crafted};
    HANDLE thread =
        ::CreateThread(nullptr, 256 * 1024, decode_crafted, &run, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_TRUE(thread);
    ASSERT_EQ(::WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
    DWORD code = 1;
    ::GetExitCodeThread(thread, &code);
    ::CloseHandle(thread);
    EXPECT_EQ(code, 0u);
    EXPECT_TRUE(run.opened) << "the headers parse, so decoding reaches the book";
    EXPECT_GE(run.halves, 1u);
}

namespace {

int64_t performance_now()
{
    LARGE_INTEGER now;
    ::QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// A sound buffer that fails as Windows makes one fail when another program
// takes the device: it stops, its memory is gone, and Lock and Play (and, if
// `status_tells`, GetStatus) say so until Restore, which itself fails while
// the program lacks the focus. Lock and Play can also be refused without a
// loss, and Restore can wait for Stop or take its time. Its size is the
// device's, rounded up to whole frames.
//
// With `rng` set it is a simulated device: the play cursor moves only when
// the worker looks at it, by irregular steps (several a half, some late, now
// and then a stall past a half), but never less than the real time since the
// last look allows, on the worker's own clock, so that the two agree. Now and
// then the worker is held up just after a look, as a busy machine does to it,
// for longer than a half or than the whole buffer, and the device plays on
// meanwhile. While `paused` the device stands still, without a loss. With
// `script` set, the cursor goes to each of its places in turn instead. Every
// byte the cursor passes is appended to `played`.
struct LosableBuffer;
LosableBuffer* simulated = nullptr;

struct LosableBuffer : IDirectSoundBuffer {
    DWORD size = BUFFER_BYTES, frame = 4;
    DWORD lead = 256; // the write cursor's lead: bytes the device has taken
    uint8_t memory[BUFFER_BYTES + 12] = {};
    DWORD cursor = 0;
    bool playing = true, looping = true, lost = false, was_lost = false, status_tells = true, paused = false;
    int restore_refusals = 0, restores = 0, locks_to_refusal = -1, play_refusals = 0;
    DWORD restore_ms = 0;
    HANDLE in_restore = nullptr, stopped = nullptr;

    std::mt19937* rng = nullptr;
    std::vector<DWORD> script;
    size_t script_at = 0;
    DWORD byte_rate = 176400;
    int64_t looked = performance_now();
    uint32_t looks = 0, stalls = 0, long_stalls = 0, holdups = 0, stall_chance = 10; // in 1000 looks
    bool held_up = false;
    int64_t poll_seen = 0;
    size_t poll_from = 0;
    Bytes played;
    size_t played_in_release = 0; // bytes the cursor passed once the worker was told to stop
    struct Locked {
        DWORD offset, bytes, play;
        size_t played;
        bool silent, refill; // all zero when unlocked; a refill, not a silencing
    };
    size_t unlocked = SIZE_MAX; // the lock to be unlocked next, when recorded
    std::vector<Locked> locks;
    std::vector<std::pair<size_t, size_t>> away;   // played bytes [from, to) passed while the worker was away
    std::vector<std::pair<size_t, size_t>> losses; // played bytes and decoded bytes at each loss

    // A device of `channels` channels at `rate` Hz, simulated with `rng`.
    void simulate(std::mt19937* random, int channels, long rate)
    {
        simulated = this;
        stream_player().refill_observer = [](uint32_t, const uint8_t*, uint32_t) {
            if (simulated->unlocked < simulated->locks.size()) simulated->locks[simulated->unlocked].refill = true;
        };
        rng = random;
        frame = DWORD(channels) * 2;
        size = device_buffer_bytes(channels);
        lead -= lead % frame;
        byte_rate = DWORD(rate) * frame;
    }
    void lose()
    {
        lost = was_lost = true;
        playing = false;
        std::memset(memory, 0xA5, sizeof memory);
        if (rng) losses.push_back({played.size(), size_t(ov_pcm_tell(&stream_player().stream.decoder)) * frame});
    }
    // The play cursor enters the other half; a lost buffer's stays put unless
    // only Lock is to tell of the loss.
    void advance()
    {
        if (playing || !status_tells) cursor = (cursor < HALF ? HALF : 0) + 100;
    }
    void pass(size_t bytes)
    {
        if (playing && stream_player().worker.stop_requested.load()) played_in_release += bytes;
        for (; bytes && playing; bytes--, cursor = (cursor + 1) % size) played.push_back(memory[cursor]);
    }
    // The real time since the last look, in bytes played, on a frame.
    DWORD since_looked()
    {
        LARGE_INTEGER frequency;
        ::QueryPerformanceFrequency(&frequency);
        const int64_t now = performance_now();
        const uint64_t bytes = paused ? 0 : uint64_t(now - looked) * byte_rate / uint64_t(frequency.QuadPart);
        looked = now;
        return DWORD(bytes - bytes % frame);
    }
    void look()
    {
        // The hold-up that follows this look, if any.
        const uint32_t n = ++looks % 997;
        const DWORD hold = !script.empty() ? 0 : n == 500 ? size + (*rng)() % HALF : n == 250 ? HALF * 3 / 2 : 0;
        const uint32_t draw = (*rng)() % 1000;
        DWORD step = HALF / 16 + (*rng)() % (HALF * 3 / 16);
        if (held_up || paused) {
            step = 0; // a held-up worker reads again at once: only the real time has passed
        } else if (draw < stall_chance && !hold) {
            // A stall outruns the real time, which no device does: with a
            // hold-up on top it could take the cursor round the buffer
            // unseen by the worker's clock.
            step = HALF + 4 + (*rng)() % (HALF - 8), stalls++;
        } else if (draw < 60) {
            step = HALF / 16 + (*rng)() % (HALF * 4 / 5 - HALF / 16); // a late poll
        }
        held_up = false;
        step = std::max(step, since_looked());
        if (!script.empty()) step = (script[script_at] + size - cursor) % size;
        step -= step % frame;
        // The worker sees how far the cursor went since the read it last
        // took: a read made again within one poll adds to that.
        const int64_t poll = stream_player().worker.cursor.last_poll_time;
        if (poll != poll_seen) poll_seen = poll, poll_from = played.size();
        pass(step);
        if (played.size() - poll_from > HALF - lead) away.push_back({poll_from, played.size() + lead});
        if (hold) {
            ::Sleep(hold * 1000 / byte_rate + 1);
            held_up = true;
            (n == 500 ? long_stalls : holdups)++;
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSBCAPS caps) override
    {
        caps->dwBufferBytes = size;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD play, LPDWORD write) override
    {
        if (rng) look();
        if (play) *play = cursor;
        if (write) *write = (cursor + (rng ? lead : 0)) % size;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFormat(LPWAVEFORMATEX, DWORD, LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetVolume(LPLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetPan(LPLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetFrequency(LPDWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatus(LPDWORD status) override
    {
        *status = lost && status_tells ? DSBSTATUS_BUFFERLOST
                  : playing            ? DSBSTATUS_PLAYING | (looping ? DSBSTATUS_LOOPING : 0)
                                       : 0;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Initialize(LPDIRECTSOUND, LPCDSBUFFERDESC) override { return DSERR_ALREADYINITIALIZED; }
    HRESULT STDMETHODCALLTYPE Lock(DWORD offset, DWORD bytes, LPVOID* region, LPDWORD length, LPVOID* region2,
                                   LPDWORD length2, DWORD flags) override
    {
        if (lost) return DSERR_BUFFERLOST;
        if (locks_to_refusal >= 0 && locks_to_refusal-- == 0) return DSERR_INVALIDCALL;
        unlocked = SIZE_MAX;
        if (flags & DSBLOCK_ENTIREBUFFER) {
            offset = 0, bytes = size;
        } else if (rng && playing) {
            unlocked = locks.size();
            locks.push_back({offset, bytes, cursor, played.size(), false, false});
        }
        if (offset + bytes > size) return DSERR_INVALIDPARAM;
        *region = memory + offset;
        *length = bytes;
        if (region2) *region2 = nullptr, *length2 = 0;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Play(DWORD, DWORD, DWORD flags) override
    {
        if (lost) return DSERR_BUFFERLOST;
        if (play_refusals > 0 && play_refusals--) return DSERR_PRIOLEVELNEEDED;
        if (rng && !playing) since_looked(); // a stopped device played nothing meanwhile
        playing = true;
        looping = (flags & DSBPLAY_LOOPING) != 0;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCurrentPosition(DWORD position) override
    {
        cursor = position;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE SetFormat(LPCWAVEFORMATEX) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetVolume(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetPan(LONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetFrequency(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override
    {
        if (rng && script.empty()) pass(since_looked()); // it played on since the last look
        playing = false;
        if (stopped) ::SetEvent(stopped);
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock(LPVOID region, DWORD length, LPVOID, DWORD) override
    {
        if (unlocked < locks.size())
            locks[unlocked].silent = std::all_of(static_cast<uint8_t*>(region), static_cast<uint8_t*>(region) + length,
                                                 [](uint8_t b) { return b == 0; });
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Restore() override
    {
        if (in_restore) ::SetEvent(in_restore), ::WaitForSingleObject(stopped, 500);
        if (restore_refusals > 0) {
            --restore_refusals;
            return DSERR_BUFFERLOST;
        }
        ::Sleep(restore_ms);
        lost = playing = false; // back, but stopped and empty
        ++restores;
        return DS_OK;
    }
};

// The stand-in and a stream on `ogg` in the player's record, as buffer
// creation and stream_play leave them; player_release(PLAYER_STREAM) undoes it.
bool attach(LosableBuffer& buffer, const Bytes& ogg)
{
    StreamPlayer& p = stream_player();
    p.stream.memory_source = {ogg.data(), uint32_t(ogg.size()), 0};
    if (ov_open_callbacks(&p.stream.memory_source, &p.stream.decoder, nullptr, 0, MEMORY_CALLBACKS) != 0) return false;
    ov_pcm_seek(&p.stream.decoder, 0);
    p.stream.stream_channels = ov_info(&p.stream.decoder, 0)->channels;
    p.stream.stream_rate = ov_info(&p.stream.decoder, 0)->rate;
    p.stream.buffer = &buffer;
    buffer_prepare();
    refill_prepare();
    return true;
}

struct LostRun {
    std::vector<uint32_t> halves;
    Bytes written;
    int stale_captures = 0;
};
LostRun lost_run;

void observe_lost(uint32_t half, const uint8_t* data, uint32_t length)
{
    lost_run.halves.push_back(half);
    lost_run.written.insert(lost_run.written.end(), data, data + length);
    if (std::memcmp(capture_buffer(), data, 2048) != 0) lost_run.stale_captures++;
}

} // namespace

TEST(LostBuffer, RestoredRefilledFromWhereTheStreamStandsAndPlayedOn)
{
    Pcm pcm;
    Bytes ogg = sine_ogg(2, 44100, 44100, &pcm); // 10.8 halves
    for (bool status_tells : {true, false}) {
        SCOPED_TRACE(status_tells ? "the loss shows in GetStatus" : "only Lock tells of the loss");
        StreamPlayer& p = stream_player();
        LosableBuffer buffer;
        ASSERT_TRUE(attach(buffer, ogg));
        buffer.status_tells = status_tells;
        buffer.restore_refusals = 2;
        p.spectrum.capture_enabled.store(true);
        p.refill_observer = observe_lost;
        lost_run = LostRun();
        // The worker's polls, with the buffer lost after four refills; once
        // back, the lock of its second half and then Play are refused once.
        for (int poll = 0; poll < 100 && !p.worker.stop_requested.load(); poll++) {
            if (lost_run.halves.size() == 4 && !buffer.was_lost) {
                buffer.lose();
                buffer.locks_to_refusal = 1;
                buffer.play_refusals = 1;
            }
            buffer.advance();
            refill_poll();
        }
        p.refill_observer = nullptr;
        p.spectrum.capture_enabled.store(false);

        EXPECT_TRUE(p.worker.stop_requested.load() && p.worker.stream_ended.load()) << "the stream reaches its end";
        EXPECT_EQ(buffer.restores, 1);
        EXPECT_EQ(buffer.locks_to_refusal + buffer.play_refusals, -1) << "both refusals met";
        EXPECT_TRUE(buffer.playing && buffer.looping) << "a restored buffer comes back stopped: it is played again";
        player_release(PLAYER_STREAM);
        const size_t n = lost_run.halves.size();
        for (size_t i = 0; i < n; i++) EXPECT_EQ(lost_run.halves[i], i % 2) << "refill " << i;
        // The halves lost with the buffer's memory were decoded once: the
        // ones after the restore carry on from there, nothing repeated.
        Bytes want = pcm_bytes(pcm);
        want.resize(n * HALF, 0);
        EXPECT_TRUE(lost_run.written == want) << "the halves are the stream, then silence";
        EXPECT_EQ(lost_run.stale_captures, 0) << "each capture holds the start of the half just written";
        EXPECT_EQ(Bytes(buffer.memory, buffer.memory + BUFFER_BYTES), Bytes(BUFFER_BYTES, 0))
            << "only silence loops after the end";
    }
}

TEST(LostBuffer, LostAsItIsMadeStillTakesItsSizeFromTheDevice)
{
    const Bytes ogg = sine_ogg(6, 44100, 5000);
    LosableBuffer buffer;
    buffer.size = device_buffer_bytes(6);
    buffer.lose();
    ASSERT_TRUE(attach(buffer, ogg));
    EXPECT_EQ(stream_player().stream.buffer_bytes, 32772u) << "else a frame is cut at every wrap";
    player_release(PLAYER_STREAM);
}

TEST(LostBuffer, QuitWhileRestoringLeavesTheBufferStopped)
{
    Bytes ogg = sine_ogg(2, 44100, 44100);
    StreamPlayer& p = stream_player();
    LosableBuffer buffer;
    ASSERT_TRUE(attach(buffer, ogg));
    buffer.lose();
    buffer.in_restore = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    buffer.stopped = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    p.sound.device_open = p.stream.stream_open = true;
    ASSERT_TRUE(stream_play());
    // The worker's Restore waits for Stop (or half a second) before it goes on.
    EXPECT_EQ(::WaitForSingleObject(buffer.in_restore, 10000), WAIT_OBJECT_0);
    EXPECT_TRUE(stream_close());
    EXPECT_EQ(buffer.restores, 1);
    EXPECT_FALSE(buffer.playing) << "no music after the program has let the buffer go";
    ::CloseHandle(buffer.in_restore);
    ::CloseHandle(buffer.stopped);
}

namespace {

// What the cursor passed is the decode once, in order, then silence. Before
// the music and after it only silence plays; in between, silence only where
// the worker wrote it after a stall it saw, and what the cursor passed while
// the worker was away (up to the write cursor) may be anything. A loss skips
// what the lost buffer held.
void expect_played_once(const LosableBuffer& b, const Bytes& want)
{
    std::vector<std::pair<size_t, size_t>> quiet; // played bytes [from, to) that the worker silenced
    for (const auto& l : b.locks) {
        for (DWORD d = 0; d < b.lead; d += 4)
            ASSERT_GE((l.play + d + b.size - l.offset) % b.size, l.bytes)
                << "a lock of " << l.bytes << " bytes at " << l.offset << " holds what plays at " << l.play;
        const size_t from = l.played + (l.offset + b.size - l.play) % b.size;
        if (l.silent && !l.refill) quiet.push_back({from, from + l.bytes});
    }
    const auto inside = [](const std::vector<std::pair<size_t, size_t>>& spans, size_t at) {
        return std::any_of(spans.begin(), spans.end(), [at](const auto& s) { return s.first <= at && at < s.second; });
    };
    size_t r = 0, loss = 0, cut = 0;
    bool after_gap = false;
    for (size_t at = 0; at + 4 <= b.played.size(); at += 4) {
        for (; loss < b.losses.size() && b.losses[loss].first <= at; loss++) {
            ASSERT_LE(r, b.losses[loss].second) << "music again after loss " << loss;
            r = b.losses[loss].second;
        }
        // The worker's silence stands for music already heard, never for
        // music to come, however quiet.
        const bool silent = std::memcmp(&b.played[at], "\0\0\0\0", 4) == 0;
        if (silent && r > 0 && r < want.size() && inside(quiet, at)) {
            after_gap = true;
            cut = 0;
            continue;
        }
        // After a gap the music may go on after a frame's silence, or from
        // the next frame: a half refilled twice in a row has no place for
        // the rest of the frame cut by the half between. Music that comes
        // back must match for longer than a stale sample pair might.
        const size_t next_frame = after_gap && r % b.frame ? r + b.frame - r % b.frame : r;
        bool music = false;
        for (size_t from : {r, next_frame}) {
            const size_t n = from < want.size()
                                 ? std::min({size_t(after_gap ? 32 : 4), want.size() - from, b.played.size() - at})
                                 : 0;
            if (!music && n && std::memcmp(&b.played[at], &want[from], n) == 0) {
                r = from + 4;
                music = true;
            }
        }
        if (music) {
            after_gap = false;
            continue;
        }
        if ((silent && (r == 0 || r >= want.size())) || inside(b.away, at)) {
            after_gap = true;
            cut = 0;
            continue;
        }
        ASSERT_TRUE(silent && after_gap && (cut += 4) < b.frame)
            << "byte " << at << " of " << b.played.size() << " played is " << (silent ? "silence" : "other sound")
            << " in place of the music at byte " << r << " of " << want.size();
    }
    EXPECT_EQ(r, want.size()) << "the whole of the music was played";
}

std::mt19937 seeded_rng()
{
    const char* fixed = std::getenv("SONDREL_SEED");
    const uint32_t seed = fixed ? uint32_t(std::strtoul(fixed, nullptr, 10)) : ::GetTickCount();
    std::printf("simulated sound buffer: SONDREL_SEED=%u\n", seed);
    return std::mt19937(seed);
}

} // namespace

TEST(SimulatedBuffer, LongChainThroughStallsLossesAndPausesIsPlayedOnce)
{
    // Three 40-second links, 1,300 halves, lost at 10 random moments, each
    // restore slower than half the buffer's time; at 3 others the device
    // stands still for a whole buffer's time, without a loss, while the
    // worker is away.
    std::vector<Bytes> links;
    for (int i = 0; i < 3; i++) links.push_back(ogg_encode(pcm_demo_music(44100 - i, 40.0), 2, 44100));
    const Bytes ogg = ogg_chain(links);
    const Bytes want = pcm_bytes(ogg_decode(ogg));
    std::mt19937 rng = seeded_rng();
    std::vector<size_t> loss_at, pause_at;
    for (int i = 0; i < 10; i++) loss_at.push_back(4 * (rng() % (want.size() / 4)));
    for (int i = 0; i < 3; i++) pause_at.push_back(4 * (rng() % (want.size() / 4)));
    std::sort(loss_at.begin(), loss_at.end());
    std::sort(pause_at.begin(), pause_at.end());
    LosableBuffer b;
    b.simulate(&rng, 2, 44100);
    b.restore_ms = 150;
    b.played.reserve(2 * want.size()); // growing it would take the worker's time
    StreamPlayer& p = stream_player();
    ASSERT_TRUE(attach(b, ogg));
    size_t lost = 0, paused = 0;
    for (int poll = 0; poll < 40000 && !p.worker.stop_requested.load(); poll++) {
        if (lost < loss_at.size() && b.played.size() >= loss_at[lost] && b.playing) {
            b.lose();
            b.restore_refusals = int(rng() % 3);
            lost++;
        } else if (paused < pause_at.size() && b.played.size() >= pause_at[paused] && b.playing && !b.held_up) {
            b.paused = true;
            ::Sleep(b.size * 1000 / b.byte_rate + 30);
            refill_poll();
            b.paused = false;
            paused++;
        }
        refill_poll();
    }
    EXPECT_TRUE(p.worker.stop_requested.load()) << "the worker stops after the end";
    b.pass(2 * BUFFER_BYTES);
    player_release(PLAYER_STREAM);
    EXPECT_EQ(lost, 10u);
    EXPECT_EQ(paused, 3u);
    EXPECT_TRUE(b.stalls > 0 && b.long_stalls > 0 && b.holdups > 0)
        << b.stalls << " stalls, " << b.long_stalls << " past the buffer, " << b.holdups << " hold-ups";
    expect_played_once(b, want);
}

// The demo music on `channels` channels: unlike a sine, no stretch of it
// passes for another.
static Pcm demo_music(int channels, double seconds)
{
    const Pcm stereo = pcm_demo_music(44100, seconds);
    Pcm out;
    for (size_t i = 0; i + 1 < stereo.size(); i += 2)
        for (int c = 0; c < channels; c++) out.push_back(int16_t(c < 4 ? stereo[i + c % 2] : -stereo[i + c % 2]));
    return out;
}

// A buffer of six channels is a little longer than two halves: stalls and
// the end of the stream meet it too.
TEST(SimulatedBuffer, WorkerLoopPlaysToTheEnd)
{
    for (int channels : {2, 6}) {
        SCOPED_TRACE(std::to_string(channels) + " channels");
        const Bytes ogg = ogg_encode(demo_music(channels, 3.0), channels, 44100);
        std::mt19937 rng = seeded_rng();
        LosableBuffer b;
        b.simulate(&rng, channels, 44100);
        b.stall_chance = 150; // stalls meet the end of the stream too
        StreamPlayer& p = stream_player();
        ASSERT_TRUE(attach(b, ogg));
        ASSERT_EQ(p.stream.buffer_bytes, b.size);
        p.sound.device_open = p.stream.stream_open = true;
        ASSERT_TRUE(stream_play());
        EXPECT_EQ(::WaitForSingleObject(p.stream.refill_worker, 60000), WAIT_OBJECT_0)
            << "the worker returns after the end";
        b.pass(2 * b.size);
        EXPECT_TRUE(stream_close());
        EXPECT_GT(b.stalls, 0u);
        expect_played_once(b, pcm_bytes(ogg_decode(ogg)));
    }
}

TEST(SimulatedBuffer, ReleaseIsSilentAtOnce)
{
    const Bytes ogg = sine_ogg(2, 44100, 441000);
    std::mt19937 rng = seeded_rng();
    LosableBuffer b;
    b.simulate(&rng, 2, 44100);
    StreamPlayer& p = stream_player();
    ASSERT_TRUE(attach(b, ogg));
    p.sound.device_open = p.stream.stream_open = true;
    ASSERT_TRUE(stream_play());
    ::Sleep(300);
    EXPECT_TRUE(stream_close());
    EXPECT_GT(b.played.size(), 0u);
    EXPECT_EQ(b.played_in_release, 0u) << "music already heard played again as the program quit";
}

// Late by almost a half: the cursor has crossed into the other half, and the
// device already takes the half the worker left. What it has not taken of
// that heard music turns to silence, and the music goes on after it.
TEST(SimulatedBuffer, LateByAlmostAHalfSilencesWhatWasHeard)
{
    Pcm pcm;
    const Bytes ogg = sine_ogg(2, 44100, 6 * 4096, &pcm);
    std::mt19937 rng(1);
    LosableBuffer b;
    b.simulate(&rng, 2, 44100);
    b.script = {17000, 232, 32700, 400};
    for (DWORD at = 17000; b.script.size() < 60; at += 6000) b.script.push_back(at % BUFFER_BYTES);
    StreamPlayer& p = stream_player();
    ASSERT_TRUE(attach(b, ogg));
    for (b.script_at = 0; b.script_at < b.script.size() && !p.worker.stop_requested.load(); b.script_at++)
        refill_poll();
    EXPECT_TRUE(p.worker.stop_requested.load()) << "the worker stops after the end";
    b.pass(2 * BUFFER_BYTES);
    player_release(PLAYER_STREAM);
    EXPECT_TRUE(std::any_of(b.locks.begin(), b.locks.end(), [](const LosableBuffer::Locked& l) {
        return l.offset == 188 && l.bytes == HALF - 188;
    })) << "half 0 silenced from the write cursor on";
    expect_played_once(b, pcm_bytes(pcm));
}

// A half of silence put into otherwise exact music is seen.
TEST(SimulatedBuffer, CheckFailsSilenceInTheMusic)
{
    static Bytes want;
    static LosableBuffer b;
    want = pcm_bytes(pcm_sine(2, 44100, 20000, 441.0, 12000.0));
    b.played = want;
    b.played.insert(b.played.begin() + 40000, HALF, 0);
    EXPECT_FATAL_FAILURE(expect_played_once(b, want), "silence in place of the music");
}
