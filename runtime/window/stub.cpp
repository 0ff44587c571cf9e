// Placeholder until the window runtime lands.
#include "runtime/window/window.h"
#include "runtime/window/message_box.h"
#include <commctrl.h>
void windows_init() {}
intptr_t window_open(WindowId, int32_t, int32_t, int32_t, int32_t, uint32_t, const char*) { return 0; }
void window_close(WindowId) {}
void windows_close_all() {}
HWND window_current() { return nullptr; }
int32_t window_event() { return 0; }
void common_controls_init() { ::InitCommonControls(); }
int32_t message_box(const char* title, const char* text) { return ::MessageBoxA(nullptr, text, title, 0); }
