// A long run of the real program, watched from outside: a generated track,
// then silence, and every sample interval its GDI and USER objects, handles,
// threads and private bytes. Prints the series and the growth; target: flat.
//   bench_soak [seconds (default 1800)]
#include "app_process.h"
#include "tools/oggsynth.h"

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Sample {
    double seconds;
    DWORD gdi, user, handles, threads;
    SIZE_T private_bytes, working_set;
};

DWORD thread_count(DWORD process_id)
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return 0;
    DWORD count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == process_id;
    ::CloseHandle(snapshot);
    return count;
}

Sample sample(const Child& child, double seconds)
{
    Sample s{seconds, 0, 0, 0, 0, 0, 0};
    HANDLE process = child.info.hProcess;
    s.gdi = ::GetGuiResources(process, GR_GDIOBJECTS);
    s.user = ::GetGuiResources(process, GR_USEROBJECTS);
    ::GetProcessHandleCount(process, &s.handles);
    s.threads = thread_count(child.info.dwProcessId);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory))
        s.private_bytes = memory.PrivateUsage, s.working_set = memory.WorkingSetSize;
    return s;
}

void print(const Sample& s)
{
    std::printf("soak t=%6.0f s  GDI %4lu  USER %4lu  handles %5lu  threads %3lu  private %8lu KiB  "
                "working set %8lu KiB\n",
                s.seconds, static_cast<unsigned long>(s.gdi), static_cast<unsigned long>(s.user),
                static_cast<unsigned long>(s.handles), static_cast<unsigned long>(s.threads),
                static_cast<unsigned long>(s.private_bytes / 1024), static_cast<unsigned long>(s.working_set / 1024));
    std::fflush(stdout);
}

bool alive(const Child& child) { return ::WaitForSingleObject(child.info.hProcess, 0) == WAIT_TIMEOUT; }

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
        if (int(due - now) > 0)
            ::Sleep(due - now);
        series.push_back(sample(child, t));
        print(series.back());
    }
    if (!alive(child))
        std::printf("soak: the program ended by itself\n");

    if (series.size() >= 2) {
        const Sample& first = series.front();
        const Sample& last = series.back();
        std::printf("soak: growth over %.0f s: GDI %+ld, USER %+ld, handles %+ld, threads %+ld, private %+ld KiB, "
                    "working set %+ld KiB (target: none)\n",
                    last.seconds - first.seconds, long(last.gdi) - long(first.gdi),
                    long(last.user) - long(first.user), long(last.handles) - long(first.handles),
                    long(last.threads) - long(first.threads),
                    (long(last.private_bytes) - long(first.private_bytes)) / 1024,
                    (long(last.working_set) - long(first.working_set)) / 1024);
    }
    // Some platforms (Wine among them) answer 0 for counts they do not keep.
    std::printf("soak: a column that stays 0 is one the platform does not report for another process\n");
    ::PostMessageA(window, WM_CLOSE, 0, 0);
    long code = wait_child(child, 15000);
    if (code == -1)
        kill_child(child);
    std::printf("soak: exit code %ld\n", code);
    remove_folder(folder);
    return 0;
}
