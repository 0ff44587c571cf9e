// Recording what the sound card plays: the test harness makes the null sink's
// monitor the default recording source, so waveIn hears the program.
#pragma once
#include "tools/oggsynth.h"

#include <windows.h>
#include <mmsystem.h>

#include <cstddef>
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

// Where reference (stereo) is heard in recording, followed block by block.
struct RecordingMatch {
    bool found = false;
    long offset_frames = 0; // recording frame of reference frame 0
    int blocks = 0;         // audible 2048-frame blocks of the reference heard
    int clean_blocks = 0;   // of those, the ones matching within 30 dB
    long drift_frames = 0;  // lag at the end less lag at the start: a gap or repeat
    int loudest_after = 0;  // largest magnitude recorded after the reference ends
};
RecordingMatch match_recording(const Pcm& recording, const Pcm& reference);
