// Tab and Shift+Tab focus moves between the controls of the active window.
#include "window_internal.h"

namespace {
struct FocusWalk {
    HWND start;    // the focused control, or null when no descendant has the focus
    bool passed;   // forward: start has been seen
    HWND previous; // backward: the last eligible control seen
    bool done;
};
} // namespace

static bool focus_eligible(HWND hwnd)
{
    return ::IsWindowEnabled(hwnd) && ::IsWindowVisible(hwnd) && (::GetWindowLongA(hwnd, GWL_STYLE) & WS_TABSTOP);
}

static HWND focus_start(HWND active)
{
    HWND focus = ::GetFocus();
    return focus && ::IsChild(active, focus) ? focus : nullptr;
}

static BOOL CALLBACK focus_next_visit(HWND hwnd, LPARAM data)
{
    auto* walk = reinterpret_cast<FocusWalk*>(data);
    if (!focus_eligible(hwnd)) return TRUE;
    if (walk->passed) {
        ::SetFocus(hwnd);
        walk->passed = false;
        return FALSE;
    }
    if (!walk->start) {
        ::SetFocus(hwnd);
        return FALSE;
    }
    if (hwnd == walk->start) walk->passed = true;
    return TRUE;
}

static BOOL CALLBACK focus_previous_visit(HWND hwnd, LPARAM data)
{
    auto* walk = reinterpret_cast<FocusWalk*>(data);
    if (!focus_eligible(hwnd)) return TRUE;
    if (hwnd == walk->start && walk->previous) {
        ::SetFocus(walk->previous);
        walk->done = true;
        return FALSE;
    }
    walk->previous = hwnd;
    return TRUE;
}

void focus_next_control()
{
    // With no active window the enumeration would walk the top-level windows.
    HWND active = ::GetActiveWindow();
    if (!active) return;
    FocusWalk walk{focus_start(active), false, nullptr, false};
    ::EnumChildWindows(active, focus_next_visit, reinterpret_cast<LPARAM>(&walk));
    if (walk.passed) // start was the last eligible control: wrap to the first
        ::EnumChildWindows(active, focus_next_visit, reinterpret_cast<LPARAM>(&walk));
}

void focus_previous_control()
{
    HWND active = ::GetActiveWindow();
    if (!active) return;
    FocusWalk walk{focus_start(active), false, nullptr, false};
    ::EnumChildWindows(active, focus_previous_visit, reinterpret_cast<LPARAM>(&walk));
    // The last eligible control: the wrap-around from the first, and the target
    // when no eligible control had the focus.
    if (!walk.done && walk.previous) ::SetFocus(walk.previous);
}
