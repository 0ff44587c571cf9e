#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

uint64_t fuzz_seed(uint64_t fixed)
{
    uint64_t seed = fixed;
    char text[64];
    DWORD length = ::GetEnvironmentVariableA("SONDREL_FUZZ_SEED", text, sizeof text);
    if (length > 0 && length < sizeof text) seed = std::strtoull(text, nullptr, 0);
    std::printf("fuzz seed 0x%llx (set SONDREL_FUZZ_SEED to repeat another run)\n",
                static_cast<unsigned long long>(seed));
    std::fflush(stdout);
    return seed;
}

uint64_t FuzzRandom::next()
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

static size_t page_size()
{
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    return system.dwPageSize;
}

GuardedCopy::GuardedCopy(const std::vector<uint8_t>& bytes)
{
    const size_t page = page_size();
    const size_t pages = (bytes.size() + page - 1) / page + 1;
    base_ =
        static_cast<uint8_t*>(::VirtualAlloc(nullptr, (pages + 1) * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!base_) return;
    DWORD old = 0;
    ::VirtualProtect(base_ + pages * page, page, PAGE_NOACCESS, &old);
    start_ = base_ + pages * page - bytes.size();
    size_ = bytes.size();
    if (size_) std::memcpy(start_, bytes.data(), size_);
}

GuardedCopy::~GuardedCopy()
{
    if (base_) ::VirtualFree(base_, 0, MEM_RELEASE);
}

FencedRegion::FencedRegion(size_t bytes)
{
    const size_t page = page_size();
    const size_t pages = (bytes + page - 1) / page;
    base_ =
        static_cast<uint8_t*>(::VirtualAlloc(nullptr, (pages + 2) * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    if (!base_) return;
    DWORD old = 0;
    ::VirtualProtect(base_, page, PAGE_NOACCESS, &old);
    ::VirtualProtect(base_ + (pages + 1) * page, page, PAGE_NOACCESS, &old);
    // Flush with the fence after it; when the size is not whole pages the
    // fence before it is a few bytes away, and the sentinels see those.
    start_ = base_ + (pages + 1) * page - bytes;
    size_ = bytes;
}

FencedRegion::~FencedRegion()
{
    if (base_) ::VirtualFree(base_, 0, MEM_RELEASE);
}

// Written by the fuzzing thread, read by the watchdog and the exception
// filter: guarded by one critical section.
static struct FuzzGuard {
    CRITICAL_SECTION lock;
    bool started;
    std::string description;
    std::vector<uint8_t> input;
    bool running;
    DWORD began;
    const char* dump_name;
    DWORD limit_ms;
} guard;

static void dump_case(const char* why)
{
    ::EnterCriticalSection(&guard.lock);
    std::fprintf(stdout, "\n%s while trying: %s\n", why, guard.description.c_str());
    FILE* file = std::fopen(guard.dump_name, "wb");
    if (file) {
        if (!guard.input.empty()) std::fwrite(guard.input.data(), 1, guard.input.size(), file);
        std::fclose(file);
        std::fprintf(stdout, "its input (%zu bytes) is in %s\n", guard.input.size(), guard.dump_name);
    }
    // The case's name beside it, for a parent process that restarts the run.
    file = std::fopen((std::string(guard.dump_name) + ".txt").c_str(), "wb");
    if (file) {
        std::fprintf(file, "%s\n%s\n", why, guard.description.c_str());
        std::fclose(file);
    }
    std::fflush(stdout);
    ::LeaveCriticalSection(&guard.lock);
}

static LONG WINAPI unhandled(EXCEPTION_POINTERS* exception)
{
    // Which module faulted tells ours from the platform's.
    char module[MAX_PATH] = "?";
    HMODULE owner = nullptr;
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                             static_cast<LPCSTR>(exception->ExceptionRecord->ExceptionAddress), &owner))
        ::GetModuleFileNameA(owner, module, MAX_PATH);
    char why[MAX_PATH + 96];
    std::snprintf(why, sizeof why, "exception 0x%08lx at %p in %s",
                  static_cast<unsigned long>(exception->ExceptionRecord->ExceptionCode),
                  exception->ExceptionRecord->ExceptionAddress, module);
    dump_case(why);
    // Ending here spares a wait for the system's debugger, which nobody reads.
    ::TerminateProcess(::GetCurrentProcess(), 3);
    return EXCEPTION_CONTINUE_SEARCH;
}

static DWORD WINAPI watchdog(void*)
{
    for (;;) {
        ::Sleep(250);
        ::EnterCriticalSection(&guard.lock);
        bool stuck = guard.running && ::GetTickCount() - guard.began > guard.limit_ms;
        ::LeaveCriticalSection(&guard.lock);
        if (stuck) {
            dump_case("no end");
            ::TerminateProcess(::GetCurrentProcess(), 3);
        }
    }
}

void fuzz_guard_start(const char* dump_name, DWORD limit_ms)
{
    if (guard.started) return;
    ::InitializeCriticalSection(&guard.lock);
    guard.started = true;
    guard.dump_name = dump_name;
    guard.limit_ms = limit_ms;
    ::SetUnhandledExceptionFilter(unhandled);
    HANDLE thread = ::CreateThread(nullptr, 0, watchdog, nullptr, 0, nullptr);
    if (thread) ::CloseHandle(thread);
}

void fuzz_case_begin(const std::string& description, const std::vector<uint8_t>& input)
{
    if (!guard.started) return;
    ::EnterCriticalSection(&guard.lock);
    guard.description = description;
    guard.input = input;
    guard.running = true;
    guard.began = ::GetTickCount();
    ::LeaveCriticalSection(&guard.lock);
}

void fuzz_case_end()
{
    if (!guard.started) return;
    ::EnterCriticalSection(&guard.lock);
    guard.running = false;
    ::LeaveCriticalSection(&guard.lock);
}

const char* fuzz_dump_name()
{
    return guard.started ? guard.dump_name : "";
}
