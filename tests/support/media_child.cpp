#include "media_child.h"

#include <cstring>

static std::string variable_name(const std::string& entry)
{
    // Entries such as "=C:=C:\dir" keep their leading '=' as part of the name.
    size_t equals = entry.find('=', 1);
    return entry.substr(0, equals);
}

static std::vector<char> environment_block(const std::vector<std::string>& overrides)
{
    std::vector<char> block;
    char* inherited = ::GetEnvironmentStringsA();
    for (const char* entry = inherited; entry && *entry; entry += std::strlen(entry) + 1) {
        std::string name = variable_name(entry);
        bool replaced = false;
        for (const std::string& added : overrides)
            if (::lstrcmpiA(variable_name(added).c_str(), name.c_str()) == 0) replaced = true;
        if (!replaced) block.insert(block.end(), entry, entry + std::strlen(entry) + 1);
    }
    if (inherited) ::FreeEnvironmentStringsA(inherited);
    for (const std::string& added : overrides)
        block.insert(block.end(), added.c_str(), added.c_str() + added.size() + 1);
    block.push_back('\0');
    return block;
}

int media_child_run(const MediaChild& child)
{
    std::string program = child.program.empty() ? media_program_path() : child.program;
    std::string command = "\"" + program + "\" --gtest_also_run_disabled_tests --gtest_filter=" + child.test;
    std::vector<char> command_line(command.begin(), command.end());
    command_line.push_back('\0');
    std::vector<char> environment = environment_block(child.environment);

    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, TRUE, 0, environment.data(),
                          child.directory.empty() ? nullptr : child.directory.c_str(), &startup, &process))
        return -1;
    ::CloseHandle(process.hThread);
    int result = -2;
    if (::WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0) {
        DWORD code = 0;
        ::GetExitCodeProcess(process.hProcess, &code);
        result = static_cast<int>(code);
    } else {
        ::TerminateProcess(process.hProcess, 99);
    }
    ::CloseHandle(process.hProcess);
    return result;
}

std::string media_program_path()
{
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}

std::string media_program_folder()
{
    std::string path = media_program_path();
    return path.substr(0, path.find_last_of("\\/"));
}

int media_cursor_count()
{
    ::ShowCursor(TRUE);
    return ::ShowCursor(FALSE);
}

bool media_heap_holds(HANDLE heap, const void* block)
{
    PROCESS_HEAP_ENTRY entry{};
    bool found = false;
    while (!found && ::HeapWalk(heap, &entry))
        found = (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) && entry.lpData == block;
    return found;
}
