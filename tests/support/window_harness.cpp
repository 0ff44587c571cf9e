#include "window_harness.h"
#include "app_process.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

static bool window_manager_off_stored(const char* key_path)
{
    char value[8] = {};
    DWORD size = sizeof value - 1;
    return ::RegGetValueA(HKEY_CURRENT_USER, key_path, "Managed", RRF_RT_REG_SZ, nullptr, value, &size) ==
               ERROR_SUCCESS &&
           (value[0] == 'N' || value[0] == 'n');
}

static DWORD run_again_as_child()
{
    // The same arguments: everything after the program's own name.
    const std::string line = ::GetCommandLineA();
    const size_t end = std::min(line.find(line[0] == '"' ? '"' : ' ', 1), line.size());
    const size_t start = std::min(line.find_first_not_of("\" ", end), line.size());
    Child child = start_child(test_program_path(), "", {}, line.substr(start), true);
    return child.started ? static_cast<DWORD>(wait_child(child, INFINITE)) : 1;
}

void window_test_without_window_manager()
{
    char exe[MAX_PATH];
    ::GetModuleFileNameA(nullptr, exe, sizeof exe);
    const char* slash = std::strrchr(exe, '\\');
    char key_path[MAX_PATH + 64];
    std::snprintf(key_path, sizeof key_path, "Software\\Wine\\AppDefaults\\%s\\X11 Driver", slash ? slash + 1 : exe);
    if (window_manager_off_stored(key_path)) return;
    HKEY key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, key_path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return; // the tests still run, only slower
    bool stored = ::RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    if (stored && window_manager_off_stored(key_path)) ::ExitProcess(run_again_as_child());
}

std::vector<int32_t> window_drain(DWORD settle_ms, DWORD limit_ms)
{
    std::vector<int32_t> codes;
    const DWORD start = ::GetTickCount();
    DWORD quiet_since = start;
    while (::GetTickCount() - start < limit_ms) {
        int32_t code = window_event();
        if (code != 0) {
            codes.push_back(code);
            quiet_since = ::GetTickCount();
            continue;
        }
        if (::GetTickCount() - quiet_since >= settle_ms) break;
        ::Sleep(1);
    }
    return codes;
}

bool window_pump_until(const std::function<bool()>& done, DWORD limit_ms)
{
    const DWORD start = ::GetTickCount();
    while (!done()) {
        if (::GetTickCount() - start >= limit_ms) return false;
        if (window_event() == 0) ::Sleep(1);
    }
    return true;
}

bool window_pump_for(int32_t code, DWORD limit_ms, std::vector<int32_t>* seen)
{
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < limit_ms) {
        int32_t got = window_event();
        if (got == code) return true;
        if (got == 0)
            ::Sleep(1);
        else if (seen)
            seen->push_back(got);
    }
    return false;
}

void input_key(WORD key, bool down)
{
    INPUT in{};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = key;
    in.ki.wScan = static_cast<WORD>(::MapVirtualKeyA(key, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
    ::SendInput(1, &in, sizeof in);
}

void input_key_press(WORD key)
{
    input_key(key, true);
    input_key(key, false);
}

void input_chord(WORD modifier, WORD key)
{
    input_key(modifier, true);
    input_key_press(key);
    input_key(modifier, false);
}

void input_click(int32_t x, int32_t y, bool right)
{
    ::SetCursorPos(x, y);
    INPUT in[2]{};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = right ? MOUSEEVENTF_RIGHTDOWN : MOUSEEVENTF_LEFTDOWN;
    in[1].mi.dwFlags = right ? MOUSEEVENTF_RIGHTUP : MOUSEEVENTF_LEFTUP;
    ::SendInput(2, in, sizeof in[0]);
}

bool window_foreground(HWND hwnd)
{
    ::SetForegroundWindow(hwnd);
    return window_pump_until([&] { return ::GetForegroundWindow() == hwnd && ::GetActiveWindow() == hwnd; }, 2000);
}

POINT window_centre(HWND hwnd)
{
    RECT r;
    ::GetWindowRect(hwnd, &r);
    return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}
