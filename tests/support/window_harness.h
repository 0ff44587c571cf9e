// Shared by the window runtime's tests: start-up, pumping and real input.
#pragma once
#include "service_start.h"

#include <windows.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

// Xvfb runs no window manager, yet Wine waits up to 2 s for one whenever a
// visible window it thinks is managed is hidden or destroyed. Wine reads its
// per-program setting for that when the display driver loads, which the
// common controls library does before main: so the first run in a Wine prefix
// stores the setting and runs the program again as a child, passing on its
// exit code.
void window_test_without_window_manager();

// For a test file's static initialisation:
//   static auto* const environment = window_test_environment();
// Once per program, however many of its files ask.
inline ::testing::Environment* window_test_environment()
{
    static ::testing::Environment* const environment = [] {
        window_test_without_window_manager();
        return ::testing::AddGlobalTestEnvironment(new ServicesEnvironment<START_WINDOWS>);
    }();
    return environment;
}

// Calls window_event until it has returned 0 for settle_ms in a row (or
// limit_ms have passed) and returns every non-zero code, in order.
std::vector<int32_t> window_drain(DWORD settle_ms = 30, DWORD limit_ms = 2000);

// Each test starts and ends with no window open and the queue drained.
class FreshWindowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        windows_close_all();
        windows_init();
        window_drain(5, 300);
    }
    void TearDown() override
    {
        windows_close_all();
        window_drain(5, 300);
    }
};

// Pumps through window_event until done() holds; false on timeout.
bool window_pump_until(const std::function<bool()>& done, DWORD limit_ms = 2000);
// Pumps until the code comes; the codes seen before it go to *seen.
bool window_pump_for(int32_t code, DWORD limit_ms = 2000, std::vector<int32_t>* seen = nullptr);

// Real keyboard and mouse input through the system's input queue.
void input_key(WORD key, bool down);
void input_key_press(WORD key);
void input_chord(WORD modifier, WORD key);
void input_click(int32_t x, int32_t y, bool right = false);

// Brings a top-level window to the foreground and pumps until it is there.
bool window_foreground(HWND hwnd);
// Screen point at the centre of a window.
POINT window_centre(HWND hwnd);
