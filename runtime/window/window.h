// Numbered windows, the polling event pump and the shared window procedure.
// A window number is 0, 1, 2, ... or -1 for a dynamic window, whose identifier
// is then the address of its record.
#pragma once
#include <windows.h>
#include <cstdint>

using WindowId = intptr_t;

constexpr uint32_t WINDOW_CENTRE_SCREEN = 0x00000001;
constexpr uint32_t WINDOW_CENTRE_ACTIVE = 0x00000002;
constexpr uint32_t WINDOW_INVISIBLE = 0x10000000;

constexpr int32_t EVENT_MOVE = 3;
constexpr int32_t EVENT_SIZE = 5;
constexpr int32_t EVENT_CLOSE = 16;
constexpr int32_t EVENT_CONTROL = 13100;
constexpr int32_t EVENT_MENU = 13101;
constexpr int32_t EVENT_TRAY = 13102;
constexpr int32_t EVENT_ACTIVATE = 13104;

void windows_init();
// Returns the window handle (or, for number -1, the dynamic identifier); 0 on failure.
intptr_t window_open(WindowId number, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                     const char* title);
intptr_t window_open_parented(WindowId number, int32_t x, int32_t y, int32_t width, int32_t height,
                              uint32_t flags, const char* title, HWND parent);
void window_close(WindowId number);
void windows_close_all();
// The handle of the window that the last successful window_open created.
HWND window_current();

// At most one message per call, never blocks; 0 when nothing was waiting.
int32_t window_event();
