// A long run of the real program, watched from outside: a generated track,
// then silence, and every sample interval its GDI and USER objects, handles,
// threads and private bytes (resident anonymous memory under Wine). Prints the series and the growth; target: flat.
//   bench_soak [seconds (default 1800)]
#include "app_process.h"
#include "process_probe.h"
#include "tools/oggsynth.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Sample {
    double seconds;
    ProcessReadings r;
};

std::string figure(long long value)
{
    return value < 0 ? "n/a" : std::to_string(value);
}

void print(const Sample& s)
{
    std::printf("soak t=%6.0f s  GDI %4s  USER %4s  handles %5s  threads %3s  private %8s KiB\n", s.seconds,
                figure(s.r.gdi_objects).c_str(), figure(s.r.user_objects).c_str(), figure(s.r.handles).c_str(),
                figure(s.r.threads).c_str(), figure(s.r.private_kib).c_str());
    std::fflush(stdout);
}

std::string growth(long long first, long long last)
{
    return first < 0 || last < 0 ? "n/a" : (last >= first ? "+" : "") + std::to_string(last - first);
}

bool alive(const Child& child)
{
    return ::WaitForSingleObject(child.info.hProcess, 0) == WAIT_TIMEOUT;
}

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 && std::atoi(argv[1]) > 0 ? std::atoi(argv[1]) : 1800;
    // Every minute over a long run; ten samples at least over a short one.
    const int step = seconds >= 600 ? 60 : seconds >= 20 ? seconds / 10 : 2;
    // Music for the first third (at most ten minutes), silence after it: both
    // the playing and the drained player are watched.
    const double music = seconds / 3.0 < 600.0 ? seconds / 3.0 : 600.0;
    std::printf("soak: %d s run, a sample every %d s, %.0f s of music then silence\n", seconds, step, music);
    std::fflush(stdout);

    std::string folder = make_temp_folder("soak");
    if (!write_file(folder + "\\Orlenwade.ogg", ogg_encode(pcm_demo_music(44100, music), 2, 44100))) {
        std::printf("soak: could not write the track\n");
        return 0;
    }
    Child child = start_child(program_path("sondrel.exe"), folder);
    HWND window = child.started ? find_process_window(child.info.dwProcessId, " Sondrel by Tavik", 30000) : nullptr;
    if (!window) {
        std::printf("soak: the program showed no window\n");
        kill_child(child);
        remove_folder(folder);
        return 0;
    }
    ::Sleep(2000); // past start-up: the first sample is the baseline
    std::vector<Sample> series;
    const DWORD begin = ::GetTickCount();
    for (int t = 0; t <= seconds && alive(child); t += step) {
        DWORD due = begin + DWORD(t) * 1000;
        DWORD now = ::GetTickCount();
        if (int(due - now) > 0) ::Sleep(due - now);
        series.push_back({double(t), read_process(child.info.hProcess, child.info.dwProcessId, "sondrel.exe")});
        print(series.back());
    }
    if (!alive(child)) std::printf("soak: the program ended by itself\n");

    if (series.size() >= 2) {
        const Sample& first = series.front();
        const Sample& last = series.back();
        std::printf(
            "soak: growth over %.0f s: GDI %s, USER %s, handles %s, threads %s, private %s KiB (target: none)\n",
            last.seconds - first.seconds, growth(first.r.gdi_objects, last.r.gdi_objects).c_str(),
            growth(first.r.user_objects, last.r.user_objects).c_str(), growth(first.r.handles, last.r.handles).c_str(),
            growth(first.r.threads, last.r.threads).c_str(), growth(first.r.private_kib, last.r.private_kib).c_str());
    }
    std::printf("soak: n/a is a count the platform does not report for another process\n");
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    long code = wait_child(child, 15000);
    if (code == -1) kill_child(child);
    std::printf("soak: exit code %ld\n", code);
    remove_folder(folder);
    return 0;
}
