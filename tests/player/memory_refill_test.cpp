// The memory callbacks, the refill of single halves and the worker's refill of
// a buffer that is lost, without a sound device.
#include <gtest/gtest.h>

#include <cstring>
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
}

namespace {

struct Filled {
    Bytes bytes;
    size_t audio_bytes = 0, halves_with_music = 0;
};

// Fills halves until one reports the end, as the worker does.
Filled fill_to_end(MemoryDecoder& d)
{
    Filled out;
    uint8_t half[HALF];
    for (uint32_t i = 0; i < 400; i++) {
        HalfFill f = d.fill(i, half);
        out.bytes.insert(out.bytes.end(), half, half + HALF);
        out.audio_bytes += f.audio_bytes;
        if (f.audio_bytes) out.halves_with_music++;
        if (f.ended) break;
    }
    return out;
}

// The halves hold exactly the decoded PCM, nothing lost and nothing more.
void expect_stream(const Filled& got, const Pcm& pcm, int channels, const char* what)
{
    EXPECT_EQ(got.audio_bytes, pcm.size() * 2) << what;
    EXPECT_TRUE(got.bytes == expected_halves(pcm_bytes(pcm), channels, got.bytes.size() / HALF)) << what;
}

// Where a refill that stopped early left its decoder: what reading on gives,
// so that a stop that does not repeat still names its cause.
std::string decoder_after_stop(MemoryDecoder& d)
{
    char buffer[4096];
    int link = -1;
    const long n = ov_read(&d.vf, buffer, sizeof buffer, 0, 2, 1, &link);
    const vorbis_info* info = ov_info(&d.vf, -1);
    return "reading on gives " + std::to_string(n) + " from link " + std::to_string(link) + " of " +
           std::to_string(ov_streams(&d.vf)) + " (" +
           (info ? std::to_string(info->channels) + " channels, " + std::to_string(info->rate) + " Hz" : "no format") +
           "), at frame " + std::to_string(ov_pcm_tell(&d.vf));
}

} // namespace

TEST(RefillByteExact, HalvesMatchAnIndependentDecode)
{
    struct Case {
        int channels, rate;
        size_t frames;
    } cases[] = {{2, 44100, 30000}, {1, 22050, 20000}, {3, 32000, 9000},
                 {5, 44100, 7000},  {6, 48000, 7000},  {7, 8000, 5000}};
    for (const Case& c : cases) {
        Pcm pcm;
        Bytes ogg = sine_ogg(c.channels, c.rate, c.frames, &pcm);
        MemoryDecoder d(ogg);
        ASSERT_TRUE(d.open);
        std::string what = std::to_string(c.channels) + " channels at " + std::to_string(c.rate) + " Hz";
        expect_stream(fill_to_end(d), pcm, c.channels, what.c_str());
    }
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
        Filled got = fill_to_end(d);
        expect_stream(got, both, 2, "same format: one stream");
        if (got.audio_bytes < both.size() * 2) ADD_FAILURE() << "the chain stopped early; " << decoder_after_stop(d);
    }
    for (const Bytes& change : {ogg_chain({first, other}), ogg_chain({first, sine_ogg(2, 22050, 9000)})}) {
        Bytes chained = change;
        MemoryDecoder d(chained);
        expect_stream(fill_to_end(d), a, 2, "the link in another format is never written");
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
    expect_stream(fill_to_end(d), survived, 2, "all that survived the hole");
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

// A sound buffer that fails as Windows makes one fail when another program
// takes the device: it stops, its memory is gone, and Lock and Play (and, if
// `status_tells`, GetStatus) say so until Restore, which itself fails while
// the program lacks the focus.
struct LosableBuffer : IDirectSoundBuffer {
    uint8_t memory[BUFFER_BYTES] = {};
    DWORD cursor = 0;
    bool playing = true, looping = true, lost = false, was_lost = false, status_tells = true;
    int restore_refusals = 0, restores = 0;

    void lose()
    {
        lost = was_lost = true;
        playing = false;
        std::memset(memory, 0xA5, sizeof memory);
    }
    // The play cursor enters the other half; a lost buffer's stays put unless
    // only Lock is to tell of the loss.
    void advance()
    {
        if (playing || !status_tells) cursor = (cursor < HALF ? HALF : 0) + 100;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetCaps(LPDSBCAPS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentPosition(LPDWORD play, LPDWORD write) override
    {
        if (play) *play = cursor;
        if (write) *write = cursor;
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
        if (flags & DSBLOCK_ENTIREBUFFER) offset = 0, bytes = BUFFER_BYTES;
        if (offset + bytes > BUFFER_BYTES) return DSERR_INVALIDPARAM;
        *region = memory + offset;
        *length = bytes;
        if (region2) *region2 = nullptr, *length2 = 0;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Play(DWORD, DWORD, DWORD flags) override
    {
        if (lost) return DSERR_BUFFERLOST;
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
        playing = false;
        return DS_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock(LPVOID, DWORD, LPVOID, DWORD) override { return DS_OK; }
    HRESULT STDMETHODCALLTYPE Restore() override
    {
        if (restore_refusals > 0) {
            --restore_refusals;
            return DSERR_BUFFERLOST;
        }
        lost = playing = false; // back, but stopped and empty
        ++restores;
        return DS_OK;
    }
};

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
        p.memory_source = {ogg.data(), uint32_t(ogg.size()), 0};
        ASSERT_EQ(0, ov_open_callbacks(&p.memory_source, &p.decoder, nullptr, 0, MEMORY_CALLBACKS));
        LosableBuffer buffer;
        buffer.status_tells = status_tells;
        buffer.restore_refusals = 2;
        p.buffer = &buffer;
        p.refill = {2, 44100, false};
        p.half_audible[0] = p.half_audible[1] = false;
        p.current_half.store(0);
        p.previous_half.store(0);
        p.stop_requested.store(false);
        p.stream_ended.store(false);
        p.capture_enabled.store(true);
        p.refill_observer = observe_lost;
        lost_run = LostRun();
        // The worker's polls, with the buffer lost after four refills.
        for (int poll = 0; poll < 100 && !p.stop_requested.load(); poll++) {
            if (lost_run.halves.size() == 4 && !buffer.was_lost) buffer.lose();
            buffer.advance();
            refill_poll();
        }
        p.refill_observer = nullptr;
        p.capture_enabled.store(false);
        p.buffer = nullptr;
        ov_clear(&p.decoder);

        EXPECT_TRUE(p.stop_requested.load() && p.stream_ended.load()) << "the stream reaches its end";
        EXPECT_EQ(buffer.restores, 1);
        EXPECT_TRUE(buffer.playing && buffer.looping) << "a restored buffer comes back stopped: it is played again";
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
