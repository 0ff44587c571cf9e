// Playback under load, against a baseline. While a second process keeps the
// other core busy, the real program and a one-buffer player (the whole track
// decoded into one DirectSound buffer, nothing streamed) play the same
// generated track in turn, several times each. What the sound card played is
// recorded and walked against an independent decode, counting gaps and
// repeats: what the baseline loses is the platform's, not a refill's. Two last
// runs play the track in this process, under the program's own frame loop and
// with no drawing, and report how long after a half became free its refill
// was finished.
//   bench_load [seconds of music (default 60)] [runs of each player (default 3)]
// SONDREL_LOAD_VARIANT names a variant build of the program to play in each
// round as well, to try a change against both.
#include "app/program.h"
#include "app/visualizer.h"
#include "app_process.h"
#include "player/stream_player.h"
#include "stream_player_internal.h"
#include "window/window.h"
#include "sound_recorder.h"
#include "tools/oggsynth.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Written by the refill worker only, read once it has ended.
struct RefillTiming {
    uint32_t byte_rate = 0;
    uint32_t refills = 0;
    double worst_ms = 0; // from the half becoming free to its refill done
    double total_ms = 0;
    uint32_t over_deadline = 0;
    double deadline_ms = 0;
} timing;

// The worker calls this before it unlocks the half. The play cursor says how
// far playback has gone since it left that half: that is how long the half
// has been free.
void observe_refill(uint32_t half, const uint8_t*, uint32_t)
{
    StreamPlayer& p = stream_player();
    DWORD play = 0;
    if (!p.stream.buffer || p.stream.buffer->GetCurrentPosition(&play, nullptr) != DS_OK || !timing.byte_rate) return;
    const uint32_t buffer_bytes = 2 * p.half_size;
    const uint32_t freed_at = ((half + 1) % 2) * p.half_size;
    const uint32_t since = (play + buffer_bytes - freed_at) % buffer_bytes;
    const double ms = 1000.0 * since / timing.byte_rate;
    ++timing.refills;
    timing.total_ms += ms;
    if (ms > timing.worst_ms) timing.worst_ms = ms;
    if (ms > timing.deadline_ms) ++timing.over_deadline;
}

int busy(int seconds)
{
    const DWORD end = ::GetTickCount() + DWORD(seconds) * 1000;
    volatile uint64_t x = 1;
    while (::GetTickCount() < end)
        for (int i = 0; i < 100000; ++i) x = x * 6364136223846793005ull + 1;
    return 0;
}

Bytes pcm_bytes(const Pcm& pcm)
{
    Bytes out(pcm.size() * 2);
    std::memcpy(out.data(), pcm.data(), out.size());
    return out;
}

// Gaps and repeats of one recording, on one line, and the first few events.
void print_continuity(const char* label, const Continuity& c, size_t recorded_frames)
{
    if (c.first_recorded < 0) {
        std::printf("load: %s: the music was not found in the recording (%zu frames recorded)\n", label,
                    recorded_frames);
        return;
    }
    std::printf("load: %s: %s\n", label, describe(c).c_str());
    std::fflush(stdout);
}

struct PlayerUnderTest {
    const char* name;
    std::string program;
    const char* title;
    long runs = 0, unheard = 0, skips = 0, dropouts = 0, repeats = 0;
    long frames_skipped = 0, frames_delayed = 0, frames_repeated = 0, out_of_step = 0, blocks = 0, farthest_back = 0;
};

// One run of a player as a child process in `folder`, recorded from before it
// starts until it has ended. The real program plays on in silence after the
// music, so it is asked to close; the baseline ends with its music.
void play_child(PlayerUnderTest& player, const std::string& folder, int seconds, const Pcm& reference, int run)
{
    char label[64];
    std::snprintf(label, sizeof label, "run %d, %s", run, player.name);
    SoundRecorder recorder;
    if (!recorder.start()) {
        std::printf("load: %s: no recording device; nothing measured\n", label);
        return;
    }
    ::Sleep(300);
    Child child = start_child(player.program, folder);
    HWND window = find_process_window(child.info.dwProcessId, player.title, 30000);
    const double window_seen = now_ms();
    if (!window) {
        std::printf("load: %s: no window titled \"%s\" appeared\n", label, player.title);
        kill_child(child);
        return;
    }
    if (wait_child(child, DWORD(seconds) * 1000 + 2000) < 0) {
        ::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        if (wait_child(child, 15000) < 0) kill_child(child);
    }
    ::Sleep(300);
    recorder.stop();
    const Continuity c = follow(recorder.samples(), reference);
    print_continuity(label, c, recorder.samples().size() / 2);
    // Arrival times include the recording path's own latency (the monitor and
    // Wine's capture), about a quarter second here.
    const double first_sound = recorder.first_sound_ms(1000);
    if (first_sound >= 0)
        std::printf("load: %s: music heard %.0f ms after the window appeared (target < 750 ms)\n", label,
                    first_sound - window_seen);
    ++player.runs;
    if (c.first_recorded < 0) {
        ++player.unheard;
        return;
    }
    player.skips += c.skips;
    player.dropouts += c.dropouts;
    player.frames_delayed += c.frames_delayed;
    player.repeats += c.repeats;
    player.frames_skipped += c.frames_skipped;
    player.frames_repeated += c.frames_repeated;
    player.out_of_step += c.blocks - c.matched;
    player.blocks += c.blocks;
    player.farthest_back = std::max(player.farthest_back, c.farthest_back);
}

// The player in this process with the refill worker's timing observed, its
// main thread running the program's own frame loop, or only pumping events
// (as the baseline does) to tell the cost of drawing from that of streaming.
// The program's services are started once by the caller.
void play_in_process(int seconds, const Bytes& ogg, const Pcm& reference, bool draw)
{
    const char* label = draw ? "in this process, frame loop" : "in this process, no drawing";
    timing = RefillTiming{};
    spectrum_init();
    SoundRecorder recorder;
    if (!recorder.start()) {
        std::printf("load: %s: no recording device; nothing measured\n", label);
        return;
    }
    ::Sleep(300);
    if (!sound_device_open(nullptr) || !stream_open_memory(ogg.data(), uint32_t(ogg.size()))) {
        std::printf("load: %s: the stream did not open (no sound device?)\n", label);
        return;
    }
    StreamPlayer& player = stream_player();
    timing.byte_rate = uint32_t(player.stream.stream_rate) * uint32_t(player.stream.stream_channels) * 2;
    timing.deadline_ms = 1000.0 * player.half_size / timing.byte_rate;
    player.refill_observer = observe_refill;
    stream_play();

    // Until the music and its drain are over.
    const double start = now_ms();
    long frames = 0;
    double slowest_frame = 0, last = start;
    while (now_ms() - start < 1000.0 * seconds + 1500.0) {
        if (draw) {
            frame_run();
        } else {
            ::Sleep(10);
            window_event();
        }
        ++frames;
        double now = now_ms();
        if (now - last > slowest_frame) slowest_frame = now - last;
        last = now;
    }
    stream_close();
    player.refill_observer = nullptr;
    ::Sleep(300);
    recorder.stop();

    const double elapsed = (now_ms() - start) / 1000.0;
    std::printf("load: %s: %ld passes of the main loop in %.1f s (%.1f a second), slowest %.1f ms\n", label, frames,
                elapsed, frames / elapsed, slowest_frame);
    std::printf(
        "load: %s: %u refills; from a half becoming free to its refill done: worst %.1f ms, mean %.1f ms, "
        "deadline %.1f ms, %u over it\n",
        label, timing.refills, timing.worst_ms, timing.refills ? timing.total_ms / timing.refills : 0.0,
        timing.deadline_ms, timing.over_deadline);
    if (draw && ::GetEnvironmentVariableA("SONDREL_LOAD_KEEP", nullptr, 0)) {
        write_file("bench_load_recording.raw", pcm_bytes(recorder.samples()));
        write_file("bench_load_reference.raw", pcm_bytes(reference));
    }
    print_continuity(label, follow(recorder.samples(), reference), recorder.samples().size() / 2);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 2 && std::strcmp(argv[1], "busy") == 0) return busy(std::atoi(argv[2]));
    const int seconds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 60;
    const int runs = argc > 2 && std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : 3;

    std::printf("load: %d s of generated music at 44100 Hz stereo, %d runs of each player\n", seconds, runs);
    std::fflush(stdout);
    const Bytes ogg = ogg_encode(pcm_demo_music(44100, seconds), 2, 44100);
    const Pcm reference = ogg_decode(ogg);
    const std::string folder = make_temp_folder("load");
    write_file(folder + "\\Orlenwade.ogg", ogg);

    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    // One busy process per core but the first: the players and Wine's mixer
    // share what is left. They outlast every run and are ended at the end.
    const int busy_seconds = 2 * runs * (seconds + 20) + seconds + 60;
    std::vector<Child> busy_children;
    for (DWORD i = 1; i < system.dwNumberOfProcessors; ++i)
        busy_children.push_back(start_child(self, folder, {}, "busy " + std::to_string(busy_seconds)));
    std::printf("load: %zu busy process(es) on %lu cores\n", busy_children.size(),
                static_cast<unsigned long>(system.dwNumberOfProcessors));

    PlayerUnderTest ours{"ours", program_path("sondrel.exe"), " Sondrel by Tavik"};
    PlayerUnderTest baseline{"one-buffer baseline", test_program_folder() + "one_buffer_player.exe",
                             "One-buffer player"};
    char variant_path[MAX_PATH] = "";
    ::GetEnvironmentVariableA("SONDREL_LOAD_VARIANT", variant_path, MAX_PATH);
    PlayerUnderTest variant{"variant", variant_path, " Sondrel by Tavik"};
    // Turn about, so that neither player always meets the same moment of the
    // other work on the machine.
    for (int run = 1; run <= runs; ++run) {
        PlayerUnderTest& first = run % 2 ? ours : baseline;
        PlayerUnderTest& second = run % 2 ? baseline : ours;
        play_child(first, folder, seconds, reference, run);
        play_child(second, folder, seconds, reference, run);
        if (variant_path[0]) play_child(variant, folder, seconds, reference, run);
    }
    for (const PlayerUnderTest* p : {&ours, &baseline, &variant})
        if (p->runs)
            std::printf(
                "load: %s over %ld runs: %ld skips (%ld frames lost), %ld dropouts (music %ld frames late), "
                "%ld repeats (%ld frames again, at most %ld back), %ld blocks of 10 ms out of step (%.1f%% in step, "
                "target >= 75%%), %ld runs where the music was not found\n",
                p->name, p->runs, p->skips, p->frames_skipped, p->dropouts, p->frames_delayed, p->repeats,
                p->frames_repeated, p->farthest_back, p->out_of_step,
                p->blocks ? 100.0 * double(p->blocks - p->out_of_step) / double(p->blocks) : 0.0, p->unheard);
    std::fflush(stdout);

    program_start(::GetModuleHandleA(nullptr));
    application_start();
    play_in_process(seconds, ogg, reference, true);
    play_in_process(seconds, ogg, reference, false);
    for (Child& child : busy_children) kill_child(child);
    remove_folder(folder);
    return 0;
}
