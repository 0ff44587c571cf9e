// What the screenshot tool and the tests that drive the real program from
// outside read of the desktop: another process's window by its title, and the
// pixels the screen shows.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <vector>

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

// A rectangle of the screen as 0x00RRGGBB pixels, top row first; false (and
// no pixels) when it could not be copied.
inline bool capture_screen_area(int left, int top, int width, int height, std::vector<uint32_t>& pixels)
{
    pixels.clear();
    if (width <= 0 || height <= 0) return false;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HDC memory = screen ? ::CreateCompatibleDC(screen) : nullptr;
    HBITMAP bitmap = memory ? ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0) : nullptr;
    bool copied = false;
    if (bitmap) {
        HGDIOBJ old = ::SelectObject(memory, bitmap);
        copied = ::BitBlt(memory, 0, 0, width, height, screen, left, top, SRCCOPY) != 0;
        ::GdiFlush();
        ::SelectObject(memory, old);
    }
    if (copied) {
        const auto* values = static_cast<const uint32_t*>(bits);
        pixels.assign(values, values + size_t(width) * size_t(height));
        for (uint32_t& p : pixels) p &= 0x00FFFFFF;
    }
    if (bitmap) ::DeleteObject(bitmap);
    if (memory) ::DeleteDC(memory);
    if (screen) ::ReleaseDC(nullptr, screen);
    return copied;
}
