#include "app_process.h"

#include "test_main.h"
#include "tools/desktop.h"

#include <cstdio>
#include <cstring>

std::string make_temp_folder(const char* tag)
{
    char base[MAX_PATH];
    ::GetTempPathA(MAX_PATH, base);
    static int counter = 0;
    char folder[MAX_PATH];
    std::snprintf(folder, sizeof folder, "%ssondrel-%s-%lu-%d", base, tag, ::GetCurrentProcessId(), ++counter);
    ::CreateDirectoryA(folder, nullptr);
    return folder;
}

void remove_folder(const std::string& folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (std::strcmp(found.cFileName, ".") && std::strcmp(found.cFileName, ".."))
                ::DeleteFileA((folder + "\\" + found.cFileName).c_str());
        } while (::FindNextFileA(search, &found));
        ::FindClose(search);
    }
    ::RemoveDirectoryA(folder.c_str());
}

std::string test_program_path()
{
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n);
}

std::string test_program_folder()
{
    std::string s = test_program_path();
    return s.substr(0, s.find_last_of("\\/") + 1);
}

std::string program_path(const char* name)
{
    return test_program_folder() + "..\\bin\\" + name;
}

static std::string variable_name(const std::string& entry)
{
    // Entries such as "=C:=C:\dir" keep their leading '=' as part of the name.
    return entry.substr(0, entry.find('=', 1));
}

// The inherited environment with some variables replaced, as a block.
static std::vector<char> environment_with(const std::vector<std::string>& extra)
{
    std::vector<char> block;
    char* inherited = ::GetEnvironmentStringsA();
    for (const char* entry = inherited; entry && *entry; entry += std::strlen(entry) + 1) {
        bool replaced = false;
        for (const std::string& e : extra)
            if (::lstrcmpiA(variable_name(e).c_str(), variable_name(entry).c_str()) == 0) replaced = true;
        if (!replaced) block.insert(block.end(), entry, entry + std::strlen(entry) + 1);
    }
    if (inherited) ::FreeEnvironmentStringsA(inherited);
    for (const std::string& e : extra) block.insert(block.end(), e.c_str(), e.c_str() + e.size() + 1);
    block.push_back(0);
    return block;
}

Child start_child(const std::string& program, const std::string& folder, const std::vector<std::string>& extra_env,
                  const std::string& arguments, bool share_output)
{
    Child child;
    std::string command = "\"" + program + "\"" + (arguments.empty() ? "" : " " + arguments);
    std::vector<char> command_line(command.begin(), command.end());
    command_line.push_back(0);
    std::vector<char> environment;
    if (!extra_env.empty()) environment = environment_with(extra_env);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (share_output) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        HANDLE* ends[3] = {&startup.hStdInput, &startup.hStdOutput, &startup.hStdError};
        const DWORD which[3] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
        for (int i = 0; i < 3; ++i) {
            *ends[i] = ::GetStdHandle(which[i]);
            if (*ends[i] && *ends[i] != INVALID_HANDLE_VALUE)
                ::SetHandleInformation(*ends[i], HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
        }
    }
    child.started = ::CreateProcessA(program.c_str(), command_line.data(), nullptr, nullptr, share_output, 0,
                                     environment.empty() ? nullptr : environment.data(),
                                     folder.empty() ? nullptr : folder.c_str(), &startup, &child.info) != 0;
    return child;
}

std::string child_test_arguments(const std::string& filter)
{
    return "--gtest_also_run_disabled_tests --gtest_filter=" + filter + " " + CHILD_RUN_ARG;
}

long wait_child(Child& child, DWORD timeout_ms)
{
    if (!child.started) return -1;
    if (::WaitForSingleObject(child.info.hProcess, timeout_ms) != WAIT_OBJECT_0) return -1;
    DWORD code = 0;
    ::GetExitCodeProcess(child.info.hProcess, &code);
    ::CloseHandle(child.info.hProcess);
    ::CloseHandle(child.info.hThread);
    child.started = false;
    return static_cast<long>(code);
}

void kill_child(Child& child)
{
    if (!child.started) return;
    ::TerminateProcess(child.info.hProcess, 1);
    wait_child(child, 5000);
}

const char FOREGROUND_CHILD_ARG[] = "--foreground-child";
const char FOREGROUND_CHILD_TITLE[] = "another program";

// Run as a second process: holds one visible window until asked to close it.
static void run_foreground_child()
{
    HWND hwnd = ::CreateWindowExA(0, "STATIC", FOREGROUND_CHILD_TITLE, WS_POPUP | WS_VISIBLE | WS_BORDER, 900, 500, 200,
                                  100, nullptr, nullptr, nullptr, nullptr);
    ::SetForegroundWindow(hwnd);
    const DWORD start = ::GetTickCount();
    MSG msg;
    while (::IsWindow(hwnd) && ::GetTickCount() - start < 30000) {
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_CLOSE && msg.hwnd == hwnd) ::DestroyWindow(hwnd);
            ::DispatchMessageA(&msg);
        }
        ::Sleep(5);
    }
    ::ExitProcess(0);
}

bool foreground_child_requested()
{
    if (std::strstr(::GetCommandLineA(), FOREGROUND_CHILD_ARG)) run_foreground_child();
    return false;
}

HWND find_process_window(DWORD process_id, const char* title, DWORD timeout_ms)
{
    DWORD start = ::GetTickCount();
    for (;;) {
        HWND found = process_window(process_id, title);
        if (found || ::GetTickCount() - start > timeout_ms) return found;
        ::Sleep(50);
    }
}

Screenshot capture_screen(int left, int top, int width, int height)
{
    Screenshot shot;
    shot.width = width;
    shot.height = height;
    // A failed copy reads as black, so that comparisons fail rather than crash.
    if (!capture_screen_area(left, top, width, height, shot.pixels) && width > 0 && height > 0)
        shot.pixels.assign(size_t(width) * height, 0);
    return shot;
}

Screenshot capture_client(HWND window)
{
    RECT client;
    ::GetClientRect(window, &client);
    POINT origin{0, 0};
    ::ClientToScreen(window, &origin);
    return capture_screen(origin.x, origin.y, client.right, client.bottom);
}

void send_key(WORD virtual_key, bool down)
{
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtual_key;
    input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    ::SendInput(1, &input, sizeof(INPUT));
}
