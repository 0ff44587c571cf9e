// Private to the window runtime (and its tests): the runtime's state records,
// the window records and the operations its files share. Each record is a
// static of the file that owns it; the others reach it through its accessor.
#pragma once
#include "core/numbered_table.h"
#include "window/window.h"

#include <windows.h>
#include <cstdint>

struct WindowRecord {
    HWND handle; // null: the record is free
    int32_t accelerator_count;
    ACCEL* accelerators; // main heap
    HACCEL accelerator_table;
};
static_assert(sizeof(void*) == 8 || sizeof(WindowRecord) == 16, "a window record is four 32-bit fields");

constexpr uint32_t INITIAL_WINDOW_CAPACITY = 10;
constexpr uint32_t WINDOW_CAPACITY_GROWTH = 30;
constexpr size_t CLASS_NAME_BYTES = 50;

constexpr WORD CMD_FOCUS_NEXT = 1212;
constexpr WORD CMD_FOCUS_PREVIOUS = 1213;
constexpr LRESULT NOT_HANDLED = static_cast<LRESULT>(static_cast<int32_t>(0xD0D0D0D1u));

struct EventState {
    int32_t current_event;
    int32_t event_type;
    HWND event_window;
    int32_t event_item;
    uint32_t message;
    WPARAM wparam;
    LPARAM lparam;
    int32_t pending_event;
    HWND pending_window;
    MSG retrieved;
    char class_name[CLASS_NAME_BYTES];
    WindowCallback callback;
};

struct WindowRuntime {
    NumberedTable windows; // numbered windows and dynamic ones
    WNDCLASSA template_class;
    char class_name[CLASS_NAME_BYTES];
    HWND current_window;
    EventState events;
};

WindowRuntime& window_runtime(); // windows.cpp
// The window runtime's "sondrel: " line of debug output (runtime_report_args).
void window_report(const char* format, ...) __attribute__((format(printf, 1, 2)));

enum class Placement { none, centre_screen, centre_active };

struct WindowStyle {
    DWORD style;
    Placement placement;
    bool maximise;
};

// Placement arithmetic: each half is shifted separately, so the result can be
// one less than halving the difference.
WindowStyle window_style_decode(uint32_t flags);
POINT window_centre_on_screen(int32_t width, int32_t height, int32_t screen_width, int32_t screen_height);
POINT window_centre_on_rect(int32_t width, int32_t height, const RECT& active);
// Writes "WindowClass_<number>" (signed decimal) into buffer.
void window_class_format(char* buffer, size_t size, intptr_t number);

WindowRecord* window_find(WindowId number);
// For a window the system destroyed without window_close (a child goes with
// its parent): its number must not keep a handle the system may reuse.
void window_forget(HWND hwnd);
HACCEL window_accelerators_create(WindowId number);

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);

void focus_next_control();
void focus_previous_control();

struct SizingState {
    bool active;
    HWND window;  // the window being sized
    int32_t edge; // WMSZ_ value, 0 until a key picks one
    RECT starting_rect;
    RECT current_rect;
    MINMAXINFO limits;
    bool restore_cursor;
    POINT saved_cursor;
};

LRESULT live_sizing_filter(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
const SizingState& sizing_state(); // live_sizing.cpp
// Moves the dragged edges of any rectangle to (x, y) within the track limits.
void sizing_drag_edges(RECT& rect, int32_t edge, int32_t x, int32_t y, const MINMAXINFO& limits);

// The message box's steps, around MessageBoxA. Restoring takes back the given
// number of this thread's newest records: those of the box being closed, so a
// box shown while another is up leaves the outer box's windows disabled.
size_t modal_disable_windows(); // the number of windows disabled
void modal_restore_windows(size_t count);
