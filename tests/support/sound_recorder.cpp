#include "sound_recorder.h"

#include <mmsystem.h>

#include <algorithm>
#include <cmath>
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
double energy(const Pcm& pcm, size_t frame, size_t frames)
{
    double e = 0;
    for (size_t i = frame * CHANNELS; i < (frame + frames) * CHANNELS; ++i) e += double(pcm[i]) * pcm[i];
    return e;
}

// Squared difference of `frames` reference frames at `at` from the recording
// `lag` frames later; negative when the recording does not hold them.
double difference(const Pcm& recording, const Pcm& reference, size_t at, size_t frames, long lag)
{
    long start = long(at) + lag;
    if (start < 0 || size_t(start) + frames > recording.size() / CHANNELS) return -1;
    double e = 0;
    for (size_t i = 0; i < frames * CHANNELS; ++i) {
        double d = double(recording[size_t(start) * CHANNELS + i]) - reference[at * CHANNELS + i];
        e += d * d;
    }
    return e;
}

long best_lag(const Pcm& recording, const Pcm& reference, size_t at, size_t frames, long low, long high, long keep)
{
    long best = keep;
    double best_error = -1;
    for (long lag = low; lag <= high; ++lag) {
        double e = difference(recording, reference, at, frames, lag);
        if (e >= 0 && (best_error < 0 || e < best_error)) {
            best_error = e;
            best = lag;
        }
    }
    return best;
}
} // namespace

RecordingMatch match_recording(const Pcm& recording, const Pcm& reference)
{
    RecordingMatch m;
    const size_t frames = reference.size() / CHANNELS, recorded = recording.size() / CHANNELS;
    const size_t block = 2048;
    if (frames < block || recorded < block) return m;
    // The loudest block of the music, looked for anywhere in the recording,
    // gives where the music starts.
    size_t loud = 0;
    for (size_t at = 0; at + block <= frames; at += block)
        if (energy(reference, at, block) > energy(reference, loud, block)) loud = at;
    long lag = best_lag(recording, reference, loud, 1024, -long(loud), long(recorded) - long(loud), 0);
    if (difference(recording, reference, loud, 1024, lag) > 0.01 * energy(reference, loud, 1024))
        return m; // nothing in the recording resembles the music
    m.found = true;
    // Then follow the music block by block: the mixer may slip a few frames;
    // a lost or repeated stretch moves the lag by much more.
    long first = -1;
    const double loudest_block = energy(reference, loud, block);
    for (size_t at = 0; at + block <= frames; at += block) {
        double e = energy(reference, at, block);
        if (e < 1e-3 * loudest_block) continue;
        lag = best_lag(recording, reference, at, block, lag - 64, lag + 64, lag);
        double noise = difference(recording, reference, at, block, lag);
        if (noise < 0) continue; // past the end of the recording
        if (first < 0) first = lag;
        ++m.blocks;
        m.clean_blocks += 10.0 * std::log10(e / (noise + 1)) > 30.0;
    }
    m.offset_frames = first;
    m.drift_frames = lag - first;
    // After the music (and a few ms for slips of the mixer): only silence.
    for (size_t i = (frames + size_t(std::max(0L, lag)) + 441) * CHANNELS; i < recording.size(); ++i)
        m.loudest_after = std::max(m.loudest_after, std::abs(int(recording[i])));
    return m;
}
