// Finds another process's visible window by its exact title; shared by the
// screenshot tool and the tests that drive the real program from outside.
#pragma once
#include <windows.h>

#include <cstring>

namespace process_window_detail {
struct Search {
    DWORD process_id;
    const char* title;
    HWND found;
};

inline BOOL CALLBACK match(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<Search*>(parameter);
    DWORD owner = 0;
    ::GetWindowThreadProcessId(window, &owner);
    char title[256] = "";
    ::GetWindowTextA(window, title, sizeof title);
    if (owner != search->process_id || !::IsWindowVisible(window) || std::strcmp(title, search->title) != 0)
        return TRUE;
    search->found = window;
    return FALSE;
}
} // namespace process_window_detail

// The window as it is now, or null.
inline HWND process_window(DWORD process_id, const char* title)
{
    process_window_detail::Search search{process_id, title, nullptr};
    ::EnumWindows(process_window_detail::match, reinterpret_cast<LPARAM>(&search));
    return search.found;
}
