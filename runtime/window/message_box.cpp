// Message boxes that are modal for every window of the calling thread, not only
// for their owner.
#include "window/message_box.h"

#include "core/object_heap.h"
#include "window_internal.h"

#include <windows.h>
#include <commctrl.h>

struct DisabledWindow {
    DWORD thread; // whose message box disabled the window
    HWND window;
};
#ifndef _WIN64
static_assert(sizeof(DisabledWindow) == 8, "a disabled-window record is two 32-bit fields");
#endif

static struct MessageBoxState {
    ObjectNode* disabled; // records of every thread that has a box up
    SRWLOCK lock;         // zero is the unlocked state: usable before any start-up
} message_boxes;

void common_controls_init()
{
    ::InitCommonControls();
}

static BOOL CALLBACK modal_disable_visit(HWND hwnd, LPARAM data)
{
    const DWORD thread = ::GetCurrentThreadId();
    if (::GetWindowThreadProcessId(hwnd, nullptr) != thread || !::IsWindowVisible(hwnd) || !::IsWindowEnabled(hwnd) ||
        hwnd == ::GetForegroundWindow())
        return TRUE;
    // Only a window that has its record is disabled, so none stays disabled for good.
    ::AcquireSRWLockExclusive(&message_boxes.lock);
    auto* record =
        static_cast<DisabledWindow*>(object_alloc(&message_boxes.disabled, object_node_size<DisabledWindow>()));
    if (record) {
        record->thread = thread;
        record->window = hwnd;
    }
    ::ReleaseSRWLockExclusive(&message_boxes.lock);
    if (record) {
        ::EnableWindow(hwnd, FALSE);
        ++*reinterpret_cast<size_t*>(data);
    }
    return TRUE;
}

size_t modal_disable_windows()
{
    size_t count = 0;
    ::EnumWindows(modal_disable_visit, reinterpret_cast<LPARAM>(&count));
    return count;
}

static HWND foreground_owner()
{
    HWND window = ::GetForegroundWindow();
    DWORD process = 0;
    if (window) ::GetWindowThreadProcessId(window, &process);
    return process == ::GetCurrentProcessId() ? window : nullptr;
}

// Takes this thread's first record (most recently made first) off the list.
static HWND modal_take_record(DWORD thread)
{
    HWND window = nullptr;
    ::AcquireSRWLockExclusive(&message_boxes.lock);
    for (ObjectNode* node = message_boxes.disabled; node; node = node->next) {
        auto* record = static_cast<DisabledWindow*>(object_payload(node));
        if (record->thread == thread) {
            window = record->window;
            object_free(&message_boxes.disabled, record);
            break;
        }
    }
    ::ReleaseSRWLockExclusive(&message_boxes.lock);
    return window;
}

void modal_restore_windows(size_t count)
{
    const DWORD thread = ::GetCurrentThreadId();
    // The lock is not held while enabling: EnableWindow sends messages, and a
    // window procedure may show a box of its own.
    for (HWND window; count > 0 && (window = modal_take_record(thread)) != nullptr; --count)
        ::EnableWindow(window, TRUE); // fails quietly for a window destroyed meanwhile
}

int32_t message_box_flags(const char* title, const char* text, uint32_t flags)
{
    const size_t disabled = modal_disable_windows();
    HWND owner = foreground_owner();
    int32_t result = ::MessageBoxA(owner, text, title, flags);
    modal_restore_windows(disabled);
    return result;
}

int32_t message_box(const char* title, const char* text)
{
    return message_box_flags(title, text, 0);
}
