// Recording what the sound card plays: the test harness makes the null sink's
// monitor the default recording source, so waveIn hears the program.
#pragma once
#include "tools/oggsynth.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
#include <string>
#include <vector>

// Milliseconds on the performance counter.
double now_ms();

// 44100 Hz stereo 16-bit recording in 20 ms blocks, each stamped on arrival.
class SoundRecorder {
public:
    ~SoundRecorder();
    bool start();
    void stop();
    const Pcm& samples() const { return samples_; }
    // Arrival time (now_ms) of the first block holding a sample whose
    // magnitude exceeds threshold, or a negative value if none did.
    double first_sound_ms(int threshold) const;

private:
    static DWORD WINAPI run(void* self);
    HWAVEIN device_ = nullptr;
    HANDLE thread_ = nullptr, done_ = nullptr;
    volatile LONG stopping_ = 0;
    volatile LONG blocks_done_ = 0;
    std::vector<WAVEHDR> headers_;
    std::vector<std::vector<short>> blocks_;
    Pcm samples_;
    std::vector<double> arrivals_; // one per finished block, in order
    std::vector<size_t> block_ends_;
};

// How a recording follows the reference (both 44100 Hz stereo), in blocks of
// 10 ms: where it keeps step, where it jumps ahead (music lost), where other
// sound stands in for the music until it comes back late (a dropout: the
// mixer starved) and where it falls back (music played again).
struct Continuity {
    long blocks = 0, matched = 0, unmatched = 0;
    long skips = 0, dropouts = 0, repeats = 0;
    long frames_skipped = 0, frames_repeated = 0, frames_delayed = 0;
    long farthest_back = 0;   // how far back the music went at its farthest repeat
    long longest_skip = 0;    // the most music lost at one place
    long longest_gap = 0;     // the longest the music stopped before it went on
    long first_recorded = -1; // recording frame of the first music found
    bool reached_end = false; // followed to the reference's last frame
    int loudest_after = 0;    // largest magnitude recorded after that, a few ms on
    std::vector<std::string> events;
};
Continuity follow(const Pcm& recording, const Pcm& reference);
// The figures and the first events, for a message.
std::string describe(const Continuity& c);
// Expects the recording to hold the whole reference, then nothing louder than
// `silence`. Where Wine's mixer starves, other sound stands in for the music,
// or a few ms are lost or come again, as for a player that streams nothing; a
// refill in the wrong place or at the wrong time loses or repeats a half.
Continuity expect_heard_whole(const Pcm& recording, const Pcm& reference, int silence);
