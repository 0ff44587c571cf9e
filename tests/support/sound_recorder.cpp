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

SoundRecorder::~SoundRecorder() { stop(); }

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
    return ::waveInStart(device_) == MMSYSERR_NOERROR;
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
            if (r->stopping_)
                return 0;
            h.dwFlags &= ~WHDR_DONE;
            ::waveInAddBuffer(r->device_, &h, sizeof(WAVEHDR));
            next = (next + 1) % BLOCK_COUNT;
        }
        if (r->stopping_)
            return 0;
    }
}

void SoundRecorder::stop()
{
    if (!device_)
        return;
    ::InterlockedExchange(&stopping_, 1);
    ::waveInStop(device_);
    ::WaitForSingleObject(thread_, 5000);
    ::CloseHandle(thread_);
    ::waveInReset(device_);
    for (WAVEHDR& h : headers_)
        ::waveInUnprepareHeader(device_, &h, sizeof(WAVEHDR));
    ::waveInClose(device_);
    ::CloseHandle(done_);
    device_ = nullptr;
}

double SoundRecorder::first_sound_ms(int threshold) const
{
    size_t begin = 0;
    for (size_t b = 0; b < block_ends_.size(); ++b) {
        for (size_t i = begin; i < block_ends_[b]; ++i)
            if (std::abs(samples_[i]) > threshold)
                return arrivals_[b];
        begin = block_ends_[b];
    }
    return -1;
}

namespace {
size_t first_loud_frame(const Pcm& pcm, int threshold)
{
    for (size_t i = 0; i < pcm.size(); ++i)
        if (std::abs(pcm[i]) > threshold)
            return i / CHANNELS;
    return size_t(-1);
}

// Squared error of reference frames [from, from + count) against the recording
// shifted by offset; frames outside the recording count as silence.
double squared_error(const Pcm& recording, const Pcm& reference, long offset, size_t from, size_t count)
{
    double error = 0;
    for (size_t f = from; f < from + count && f * CHANNELS < reference.size(); ++f) {
        long r = long(f) + offset;
        for (int c = 0; c < CHANNELS; ++c) {
            double got = (r >= 0 && size_t(r) * CHANNELS < recording.size()) ? recording[size_t(r) * CHANNELS + c] : 0;
            double d = got - reference[f * CHANNELS + c];
            error += d * d;
        }
    }
    return error;
}
} // namespace

RecordingMatch match_recording(const Pcm& recording, const Pcm& reference)
{
    RecordingMatch m;
    const int threshold = 1000;
    size_t ref_start = first_loud_frame(reference, threshold);
    size_t rec_start = first_loud_frame(recording, threshold);
    if (ref_start == size_t(-1) || rec_start == size_t(-1))
        return m;
    // The first loud sample gives a rough offset; the best fit over a short
    // window around it gives the exact one.
    long rough = long(rec_start) - long(ref_start);
    double best = -1;
    for (long d = -256; d <= 256; ++d) {
        double e = squared_error(recording, reference, rough + d, ref_start, 4096);
        if (best < 0 || e < best) {
            best = e;
            m.offset_frames = rough + d;
        }
    }
    m.found = true;
    size_t frames = reference.size() / CHANNELS;
    long recorded = long(recording.size() / CHANNELS);
    size_t first = m.offset_frames < 0 ? size_t(-m.offset_frames) : 0;
    long held = recorded - m.offset_frames; // reference frames the recording reaches
    size_t last = held <= 0 ? 0 : std::min(frames, size_t(held));
    if (last <= first)
        return m;
    double signal = 0;
    for (size_t i = first * CHANNELS; i < last * CHANNELS; ++i)
        signal += double(reference[i]) * reference[i];
    double error = squared_error(recording, reference, m.offset_frames, first, last - first);
    m.compared_frames = last - first;
    m.snr_db = error == 0 ? 200.0 : 10.0 * std::log10(signal / error);
    for (size_t i = size_t(m.offset_frames + long(frames)) * CHANNELS; i < recording.size(); ++i)
        m.loudest_after = std::max(m.loudest_after, std::abs(int(recording[i])));
    return m;
}
