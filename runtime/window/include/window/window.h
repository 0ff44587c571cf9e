// Numbered windows, the polling event pump and the shared window procedure.
// A window number is 0, 1, 2, ... or -1 for a dynamic window, whose identifier
// is then the address of its record.
#pragma once
#include <windows.h>
#include <cstdint>

using WindowId = intptr_t;

constexpr uint32_t WINDOW_CENTRE_SCREEN = 0x00000001, WINDOW_CENTRE_ACTIVE = 0x00000002, WINDOW_INVISIBLE = 0x10000000;

constexpr int32_t EVENT_MOVE = 3, EVENT_SIZE = 5, EVENT_CLOSE = 16;
constexpr int32_t EVENT_CONTROL = 13100, EVENT_MENU = 13101, EVENT_TRAY = 13102, EVENT_ACTIVATE = 13104;

// Detail of a control, menu or tray event; -1 for every other event.
constexpr int32_t EVENT_TYPE_NONE = -1;
constexpr int32_t EVENT_TYPE_LEFT_CLICK = 0;
constexpr int32_t EVENT_TYPE_RIGHT_CLICK = 1;
constexpr int32_t EVENT_TYPE_LEFT_DOUBLE_CLICK = 2;
constexpr int32_t EVENT_TYPE_RIGHT_DOUBLE_CLICK = 3;

// Messages a runtime window understands beyond the system's own.
constexpr UINT MSG_TRAY_CALLBACK = 12501; // notification-area callback message
constexpr UINT MSG_TRAY_EVENT = 12502;
constexpr UINT MSG_CONTROL_EVENT = 13103; // EVENT_CONTROL with item wParam, type lParam
// A control with this identifier reports EVENT_MENU instead of EVENT_CONTROL.
constexpr int32_t MENU_SOURCE_ID = -10000;

// A hook that sees every message of the runtime's windows first; returning
// anything but CALLBACK_DEFAULT makes that the message's result.
constexpr LRESULT CALLBACK_DEFAULT = static_cast<LRESULT>(static_cast<int32_t>(0xE0E0E0E1u));
using WindowCallback = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

void windows_init();
// Returns the window handle (or, for number -1, the dynamic identifier); 0 on
// failure. Negative numbers other than -1 are refused.
intptr_t window_open(WindowId number, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                     const char* title);
intptr_t window_open_parented(WindowId number, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                              const char* title, HWND parent);
void window_close(WindowId number);
void windows_close_all();
// The handle of the window that the last successful window_open created.
HWND window_current();

// At most one message per call, never blocks; 0 when nothing was waiting.
int32_t window_event();
// Details of the event window_event returned last.
HWND window_event_window();
int32_t window_event_item();
int32_t window_event_type();
WPARAM window_event_wparam();
LPARAM window_event_lparam();
void window_callback_set(WindowCallback callback);
