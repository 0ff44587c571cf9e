#include "sound_recorder.h"

#include <gtest/gtest.h>

#include <mmsystem.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
constexpr int RATE = 44100, CHANNELS = 2;
constexpr size_t BLOCK_FRAMES = RATE / 50;
constexpr size_t BLOCK_COUNT = 100; // two seconds queued: a busy machine loses nothing
} // namespace

double now_ms()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return double(counter.QuadPart) * 1000.0 / double(frequency.QuadPart);
}

SoundRecorder::~SoundRecorder()
{
    stop();
}

bool SoundRecorder::start()
{
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = CHANNELS;
    format.nSamplesPerSec = RATE;
    format.wBitsPerSample = 16;
    format.nBlockAlign = CHANNELS * 2;
    format.nAvgBytesPerSec = RATE * format.nBlockAlign;
    done_ = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (::waveInOpen(&device_, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(done_), 0, CALLBACK_EVENT) !=
        MMSYSERR_NOERROR) {
        device_ = nullptr;
        return false;
    }
    headers_.assign(BLOCK_COUNT, WAVEHDR{});
    blocks_.assign(BLOCK_COUNT, std::vector<short>(BLOCK_FRAMES * CHANNELS));
    for (size_t i = 0; i < BLOCK_COUNT; ++i) {
        headers_[i].lpData = reinterpret_cast<char*>(blocks_[i].data());
        headers_[i].dwBufferLength = DWORD(BLOCK_FRAMES * CHANNELS * 2);
        ::waveInPrepareHeader(device_, &headers_[i], sizeof(WAVEHDR));
        ::waveInAddBuffer(device_, &headers_[i], sizeof(WAVEHDR));
    }
    thread_ = ::CreateThread(nullptr, 0, run, this, 0, nullptr);
    ::SetThreadPriority(thread_, THREAD_PRIORITY_TIME_CRITICAL);
    if (::waveInStart(device_) != MMSYSERR_NOERROR) return false;
    // The capture takes a while to run steadily: until then blocks come late
    // and in bursts, which would blur when the first sound arrived.
    for (int i = 0; i < 300 && blocks_done_ < 15; ++i) ::Sleep(10);
    return blocks_done_ >= 15;
}

// Takes the blocks back in order as they fill and hands each straight back.
DWORD WINAPI SoundRecorder::run(void* self)
{
    auto* r = static_cast<SoundRecorder*>(self);
    size_t next = 0;
    for (;;) {
        ::WaitForSingleObject(r->done_, 50);
        while (r->headers_[next].dwFlags & WHDR_DONE) {
            WAVEHDR& h = r->headers_[next];
            const short* data = r->blocks_[next].data();
            r->samples_.insert(r->samples_.end(), data, data + h.dwBytesRecorded / 2);
            r->arrivals_.push_back(now_ms());
            r->block_ends_.push_back(r->samples_.size());
            ::InterlockedIncrement(&r->blocks_done_);
            if (r->stopping_) return 0;
            h.dwFlags &= ~WHDR_DONE;
            ::waveInAddBuffer(r->device_, &h, sizeof(WAVEHDR));
            next = (next + 1) % BLOCK_COUNT;
        }
        if (r->stopping_) return 0;
    }
}

void SoundRecorder::stop()
{
    if (!device_) return;
    ::InterlockedExchange(&stopping_, 1);
    ::waveInStop(device_);
    ::WaitForSingleObject(thread_, 5000);
    ::CloseHandle(thread_);
    ::waveInReset(device_);
    for (WAVEHDR& h : headers_) ::waveInUnprepareHeader(device_, &h, sizeof(WAVEHDR));
    ::waveInClose(device_);
    ::CloseHandle(done_);
    device_ = nullptr;
}

double SoundRecorder::first_sound_ms(int threshold) const
{
    size_t begin = 0;
    for (size_t b = 0; b < block_ends_.size(); ++b) {
        for (size_t i = begin; i < block_ends_[b]; ++i)
            if (std::abs(samples_[i]) > threshold) return arrivals_[b];
        begin = block_ends_[b];
    }
    return -1;
}

namespace {
constexpr long BLOCK = 441;  // 10 ms
constexpr int TOLERANCE = 8; // Wine plays 44100 Hz stereo sample for sample
constexpr long KEY_FRAMES = 4;

// The first of recording frames [at, at + frames) that differs from the
// reference's from ref_at on, or -1 when they all match. Frames outside either
// differ.
long first_difference(const Pcm& rec, long at, const Pcm& ref, long ref_at, long frames)
{
    if (at < 0 || ref_at < 0 || size_t(2 * (at + frames)) > rec.size() || size_t(2 * (ref_at + frames)) > ref.size())
        return at;
    const int16_t* a = &rec[2 * at];
    const int16_t* b = &ref[2 * ref_at];
    for (long i = 0; i < 2 * frames; ++i)
        if (std::abs(int(a[i]) - int(b[i])) > TOLERANCE) return at + i / 2;
    return -1;
}

bool block_matches(const Pcm& rec, long at, const Pcm& ref, long ref_at, long frames)
{
    return first_difference(rec, at, ref, ref_at, frames) < 0;
}

bool quiet(const int16_t* p)
{
    for (long i = 0; i < 2 * KEY_FRAMES; ++i)
        if (std::abs(int(p[i])) > 64) return false;
    return true;
}

uint64_t key_of(const int16_t* p)
{
    uint64_t h = 1469598103934665603ull;
    for (long i = 0; i < 2 * KEY_FRAMES; ++i) h = (h ^ uint16_t(p[i])) * 1099511628211ull;
    return h;
}

// One line of what happened, for a failure's message.
__attribute__((format(printf, 2, 3))) void event(Continuity& c, const char* format, ...)
{
    char text[160];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    c.events.push_back(text);
}

bool loud(const Pcm& pcm, long from, long to, int above)
{
    for (long i = 2 * std::max(0L, from); i < 2 * to && i < long(pcm.size()); ++i)
        if (std::abs(int(pcm[i])) > above) return true;
    return false;
}

// Every loud position of the reference by the exact samples of its first
// frames, so that any recorded stretch is found wherever it came from.
struct ReferenceIndex {
    std::vector<std::pair<uint64_t, uint32_t>> entries;
    explicit ReferenceIndex(const Pcm& ref)
    {
        for (long f = 0; f + KEY_FRAMES <= long(ref.size() / 2); ++f)
            if (!quiet(&ref[2 * f])) entries.push_back({key_of(&ref[2 * f]), uint32_t(f)});
        std::sort(entries.begin(), entries.end());
    }
    // The reference frame that recording frames [at, at + frames) come from,
    // or -1. The music may come back inside them, from their first loud frame
    // on (set in `begins`).
    long find(const Pcm& rec, long at, long frames, const Pcm& ref, long* begins = nullptr) const
    {
        const long ref_frames = long(ref.size() / 2);
        for (long j = at; j + KEY_FRAMES <= at + frames; ++j) {
            // Keyed from a loud frame, the key holds no frame from before the
            // music came back.
            if (!loud(rec, j, j + 1, 64)) continue;
            auto range = std::equal_range(entries.begin(), entries.end(), std::make_pair(key_of(&rec[2 * j]), 0u),
                                          [](const std::pair<uint64_t, uint32_t>& x,
                                             const std::pair<uint64_t, uint32_t>& y) { return x.first < y.first; });
            for (auto it = range.first; it != range.second; ++it) {
                const long from = long(it->second), q = from - (j - at);
                // Too few frames left to tell the music by, unless they end it.
                const long rest = std::min(at + frames - j, ref_frames - from);
                if (rest < std::min(32L, ref_frames - from)) continue;
                if (q + frames <= ref_frames && block_matches(rec, at, ref, q, frames)) {
                    if (begins) *begins = at;
                    return q;
                }
                if (block_matches(rec, j, ref, from, rest)) {
                    if (begins) *begins = j;
                    return q;
                }
            }
            return -1;
        }
        return -1;
    }
};

// Music heard from `moved` frames further on (or back, when negative) than
// where it was.
void jumped(Continuity& c, double seconds, long moved)
{
    if (moved > 0) {
        ++c.skips;
        c.frames_skipped += moved;
        c.longest_skip = std::max(c.longest_skip, moved);
        event(c, "at %.3f s: %ld frames of music skipped", seconds, moved);
    } else {
        ++c.repeats;
        c.frames_repeated -= moved;
        c.farthest_back = std::max(c.farthest_back, -moved);
        event(c, "at %.3f s: %ld frames played again", seconds, -moved);
    }
}

// What came after the music: the first loud stretch, and whether it was music.
void after_the_end(Continuity& c, const Pcm& rec, long end, const ReferenceIndex& index, const Pcm& ref)
{
    // Silence from a block on, but for a few ms of the mixer's slips.
    const long from = end + BLOCK;
    for (long i = 2 * std::max(0L, from); i < long(rec.size()); ++i)
        c.loudest_after = std::max(c.loudest_after, std::abs(int(rec[i])));
    for (long at = std::max(0L, from); at + BLOCK <= long(rec.size() / 2); at += BLOCK) {
        if (!loud(rec, at, at + BLOCK, 64)) continue;
        const long found = index.find(rec, at, BLOCK, ref);
        if (found >= 0) {
            ++c.repeats;
            // How far back the music playing then lies from where it was.
            c.farthest_back = std::max(c.farthest_back, long(ref.size() / 2) - found + (at - end));
            event(c, "%.3f s after the end: the music from %.3f s again", double(at - from) / 44100.0,
                  double(found) / 44100.0);
        } else {
            event(c, "%.3f s after the end: other sound", double(at - from) / 44100.0);
        }
        return;
    }
}
} // namespace

Continuity follow(const Pcm& rec, const Pcm& ref)
{
    Continuity c;
    const ReferenceIndex index(ref);
    const long rec_frames = long(rec.size() / 2), ref_frames = long(ref.size() / 2);
    bool locked = false;
    // heard: the reference frames heard in step so far, up to the first that
    // differed.
    long shift = 0, unmatched_run = 0, heard = 0;
    for (long at = 0; at + BLOCK <= rec_frames; at += BLOCK) {
        if (locked && heard >= ref_frames) { // the music is over
            c.reached_end = true;
            after_the_end(c, rec, ref_frames + shift, index, ref);
            break;
        }
        const long r = at - shift;
        if (locked && r < ref_frames) {
            const long frames = std::min(BLOCK, ref_frames - r);
            ++c.blocks;
            const long broke = first_difference(rec, at, ref, r, frames);
            if (broke < 0) {
                if (unmatched_run > 0)
                    event(c, "at %.3f s: %ld ms of other sound in place of the music", double(r) / 44100.0,
                          unmatched_run * 10);
                ++c.matched;
                unmatched_run = 0;
                heard = std::max(heard, r + frames);
                continue;
            }
            if (unmatched_run == 0) heard = std::max(heard, broke - shift);
            // Music that goes on from elsewhere right where it broke off
            // jumped; anything else is other sound until the music is back.
            if (unmatched_run == 0 && broke + BLOCK <= rec_frames) {
                const long found = index.find(rec, broke, BLOCK, ref);
                if (found >= 0) {
                    // A few frames unlike the music (a click) leave it in step.
                    if (found != broke - shift) jumped(c, double(r) / 44100.0, found - (broke - shift));
                    ++c.matched;
                    shift = broke - found;
                    heard = found + std::min(BLOCK, ref_frames - found);
                    at = broke; // the next block starts after the one just found
                    continue;
                }
            }
        }
        long begins = at;
        long found = index.find(rec, at, BLOCK, ref, &begins);
        if (found < 0) {
            if (locked) {
                ++c.unmatched;
                ++unmatched_run;
            }
            continue;
        }
        if (!locked) {
            locked = true;
            shift = at - found;
            heard = found + std::min(BLOCK, ref_frames - found);
            // The music may have begun in the block before.
            const long first = begins - shift;
            long back = 0;
            while (back < first && back < begins &&
                   first_difference(rec, begins - back - 1, ref, first - back - 1, 1) < 0)
                ++back;
            c.first_recorded = begins - back;
            if (loud(ref, 0, first - back, 64)) event(c, "the first %ld frames of music were not heard", first - back);
            continue;
        }
        // Music heard before is a repeat; music further on than the stream
        // had come was skipped; music that comes back where it left off, only
        // later, was held up: other sound played in its place while the
        // mixer starved.
        const long resumed = found + (begins - at);
        if (resumed < heard && loud(ref, resumed, heard, 2 * TOLERANCE)) {
            jumped(c, double(r) / 44100.0, resumed - heard);
        } else if (found > r || (found < r && unmatched_run == 0)) {
            jumped(c, double(r) / 44100.0, found - r);
        } else if (found < r) {
            ++c.dropouts;
            c.frames_delayed += r - found;
            c.longest_gap = std::max(c.longest_gap, r - found);
            event(c, "at %.3f s: %ld ms of other sound, then the music went on %ld frames late", double(r) / 44100.0,
                  unmatched_run * 10, r - found);
        }
        ++c.matched;
        unmatched_run = 0;
        shift = at - found;
        heard = std::max(heard, found + std::min(BLOCK, ref_frames - found));
    }
    return c;
}

std::string describe(const Continuity& c)
{
    char text[200];
    std::snprintf(text, sizeof text,
                  "%ld of %ld blocks of 10 ms in step; %ld skips (%ld frames lost), %ld dropouts (music %ld frames "
                  "late), %ld repeats (%ld frames again)",
                  c.matched, c.blocks, c.skips, c.frames_skipped, c.dropouts, c.frames_delayed, c.repeats,
                  c.frames_repeated);
    std::string out = text;
    if (c.first_recorded >= 0 && !c.reached_end) out += "; not heard to its end";
    for (size_t i = 0; i < c.events.size() && i < 10; ++i) out += "\n  " + c.events[i];
    return out;
}

Continuity expect_heard_whole(const Pcm& recording, const Pcm& reference, int silence)
{
    Continuity c = follow(recording, reference);
    EXPECT_GE(c.first_recorded, 0) << "the music was not heard";
    if (c.first_recorded < 0) return c;
    // The mixer may slip a few ms either way now and then; a refill's fault
    // loses, repeats or silences music by a half (4096 frames) or more. How many blocks
    // stay in step depends on the machine's load: the load benchmark reports
    // it. What the worker writes is checked byte for byte by the streaming
    // tests.
    EXPECT_LT(c.farthest_back, 1024) << "music played again: " << describe(c);
    EXPECT_LT(c.longest_skip, 1024) << "music lost: " << describe(c);
    EXPECT_LT(c.longest_gap, 1024) << "music interrupted: " << describe(c);
    EXPECT_TRUE(c.reached_end) << "the recording ends before the music: " << describe(c);
    EXPECT_LT(c.loudest_after, silence) << "only silence after the music ends: " << describe(c);
    return c;
}
