#include "process_probe.h"

#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
// Wine keeps GDI handles in a table the process block points to, as Windows
// does; an entry with a non-zero type holds a live object.
long gdi_from_shared_table(HANDLE process)
{
    PROCESS_BASIC_INFORMATION basic{};
    if (::NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 ||
        !basic.PebBaseAddress)
        return -1;
    const SIZE_T table_field = sizeof(void*) == 8 ? 0xF8 : 0x94;
    void* table = nullptr;
    if (!::ReadProcessMemory(process, reinterpret_cast<char*>(basic.PebBaseAddress) + table_field, &table, sizeof table,
                             nullptr) ||
        !table)
        return -1;
    constexpr size_t ENTRIES = 0x10000, ENTRY_BYTES = 24, TYPE_OFFSET = 14;
    std::vector<unsigned char> entries(ENTRIES * ENTRY_BYTES);
    if (!::ReadProcessMemory(process, table, entries.data(), entries.size(), nullptr)) return -1;
    long count = 0;
    for (size_t i = 0; i < ENTRIES; ++i) count += entries[i * ENTRY_BYTES + TYPE_OFFSET] != 0;
    return count;
}

long thread_count(DWORD process_id)
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    long count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == process_id;
    ::CloseHandle(snapshot);
    return count;
}

std::string read_small_file(const std::string& path)
{
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got) text.append(buffer, got);
    ::CloseHandle(file);
    return text;
}
// Under Wine the program is also a Unix process, visible through the Z:
// drive: the one whose command line names the program's file. Its anonymous
// resident memory (RssAnon) stands in for private bytes.
struct UnixReadings {
    long long private_kib = -1;
    double cpu_seconds = -1;
};

UnixReadings unix_readings(const char* program_name)
{
    UnixReadings r;
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return r;
    do {
        if (found.cFileName[0] < '0' || found.cFileName[0] > '9') continue;
        std::string folder = std::string("Z:\\proc\\") + found.cFileName;
        std::string command = read_small_file(folder + "\\cmdline");
        for (char& c : command)
            if (c == 0) c = ' ';
        if (command.find(program_name) == std::string::npos) continue;
        std::string status = read_small_file(folder + "\\status");
        size_t at = status.find("RssAnon:");
        if (at != std::string::npos) r.private_kib = std::atoll(status.c_str() + at + 8);
        // utime and stime are the 12th and 13th fields after the name, in
        // clock ticks of 1/100 s.
        std::string stat = read_small_file(folder + "\\stat");
        size_t name_end = stat.rfind(')');
        if (name_end != std::string::npos) {
            const char* p = stat.c_str() + name_end + 1;
            long long ticks = 0;
            for (int field = 1; field <= 13 && *p; ++field) {
                while (*p == ' ') ++p;
                if (field >= 12) ticks += std::atoll(p);
                while (*p && *p != ' ') ++p;
            }
            r.cpu_seconds = double(ticks) / 100.0;
        }
        break;
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return r;
}
} // namespace

ProcessReadings read_process(HANDLE process, DWORD process_id, const char* program_name)
{
    ProcessReadings r;
    r.gdi_objects = long(::GetGuiResources(process, GR_GDIOBJECTS));
    if (r.gdi_objects == 0) r.gdi_objects = gdi_from_shared_table(process);
    r.user_objects = long(::GetGuiResources(process, GR_USEROBJECTS));
    if (r.user_objects == 0) r.user_objects = -1;
    DWORD handles = 0;
    if (::GetProcessHandleCount(process, &handles) && handles) r.handles = long(handles);
    r.threads = thread_count(process_id);
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory) &&
        memory.PrivateUsage)
        r.private_kib = static_cast<long long>(memory.PrivateUsage / 1024);
    FILETIME created, exited, kernel, user;
    if (::GetProcessTimes(process, &created, &exited, &kernel, &user))
        r.cpu_seconds = (double(kernel.dwHighDateTime) * 4294967296.0 + kernel.dwLowDateTime +
                         double(user.dwHighDateTime) * 4294967296.0 + user.dwLowDateTime) /
                        1e7;
    // Wine's answers for another process are empty or partial; its Unix side
    // has the real figures.
    if (program_name) {
        UnixReadings unix_side = unix_readings(program_name);
        if (r.private_kib < 0) r.private_kib = unix_side.private_kib;
        if (unix_side.cpu_seconds >= 0) r.cpu_seconds = unix_side.cpu_seconds;
    }
    return r;
}
