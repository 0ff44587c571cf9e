// The polling event pump and the window procedure shared by every runtime window.
#include "window_internal.h"

#include <commctrl.h>
#include <cstring>

static EventState& events()
{
    return window_runtime().events;
}

static bool key_down(int key)
{
    return (::GetKeyState(key) & 0x80) != 0;
}

static bool class_name_starts(const char* name, const char* prefix)
{
    return std::strncmp(name, prefix, std::strlen(prefix)) == 0;
}

// Reads the class name of a window into the event state's scratch buffer.
static const char* event_class_name(HWND hwnd)
{
    EventState& e = events();
    e.class_name[0] = '\0';
    ::GetClassNameA(hwnd, e.class_name, sizeof e.class_name);
    return e.class_name;
}

static HWND top_level_ancestor(HWND hwnd)
{
    HWND last = hwnd;
    for (HWND parent = ::GetParent(hwnd); parent; parent = ::GetParent(parent)) last = parent;
    return last;
}

static HACCEL window_accelerator_find(HWND hwnd)
{
    // A plain Tab belongs to a rich-edit control as a key of its own.
    if (key_down(VK_TAB) && !key_down(VK_CONTROL) && !key_down(VK_SHIFT) && !key_down(VK_MENU)) {
        static const char RICH_EDIT_PREFIX[] = "Rich";
        char name[sizeof RICH_EDIT_PREFIX] = {};
        ::GetClassNameA(::GetFocus(), name, sizeof name);
        if (class_name_starts(name, RICH_EDIT_PREFIX)) return nullptr;
    }
    auto* record = static_cast<WindowRecord*>(table_find_handle(&window_runtime().windows, hwnd));
    return record ? record->accelerator_table : nullptr;
}

int32_t window_event()
{
    EventState& e = events();
    e.event_type = EVENT_TYPE_NONE;
    if (e.pending_event != 0) {
        int32_t code = e.pending_event;
        e.event_window = e.pending_window;
        e.pending_event = 0;
        e.current_event = 0;
        return code;
    }
    if (!::PeekMessageA(&e.retrieved, nullptr, 0, 0, PM_REMOVE))
        return 0; // an event set between calls waits for the next message

    HWND active = ::GetActiveWindow();
    HACCEL table = window_accelerator_find(active);
    if (!table || !::TranslateAcceleratorA(active, table, &e.retrieved)) {
        ::TranslateMessage(&e.retrieved);
        ::DispatchMessageA(&e.retrieved);
    }

    int32_t code = e.current_event;
    if (code == 0) {
        code = static_cast<int32_t>(e.retrieved.message);
        e.wparam = e.retrieved.wParam;
        e.lparam = e.retrieved.lParam;
    }
    e.current_event = 0;
    return code;
}

HWND window_event_window()
{
    return events().event_window;
}
int32_t window_event_item()
{
    return events().event_item;
}
int32_t window_event_type()
{
    return events().event_type;
}
WPARAM window_event_wparam()
{
    return events().wparam;
}
LPARAM window_event_lparam()
{
    return events().lparam;
}
void window_callback_set(WindowCallback callback)
{
    events().callback = callback;
}

static void control_event(int32_t item)
{
    EventState& e = events();
    e.current_event = EVENT_CONTROL;
    e.event_item = item;
    e.event_window = top_level_ancestor(e.event_window);
}

static int32_t notify_click_type(UINT code)
{
    switch (code) {
    case NM_CLICK: return EVENT_TYPE_LEFT_CLICK;
    case NM_DBLCLK: return EVENT_TYPE_LEFT_DOUBLE_CLICK;
    case NM_RCLICK: return EVENT_TYPE_RIGHT_CLICK;
    case NM_RDBLCLK: return EVENT_TYPE_RIGHT_DOUBLE_CLICK;
    case LVN_ITEMACTIVATE: return EVENT_TYPE_LEFT_DOUBLE_CLICK;
    default: return EVENT_TYPE_NONE;
    }
}

static void handle_notify(const NMHDR* header)
{
    EventState& e = events();
    const char* name = event_class_name(header->hwndFrom);
    const UINT code = header->code;
    const auto item = static_cast<int32_t>(header->idFrom);
    if (class_name_starts(name, "SysT") || class_name_starts(name, "SysL")) {
        // Judged on this notification alone: a type left from an earlier event
        // must not turn an unrelated notification into a click.
        int32_t type = notify_click_type(code);
        if (type != EVENT_TYPE_NONE || code == TVN_SELCHANGEDA || code == LVN_ITEMCHANGED) {
            e.event_type = type;
            control_event(item);
        }
    } else if (class_name_starts(name, "SysD") && code == DTN_DATETIMECHANGE) {
        control_event(item);
    } else if (class_name_starts(name, "SysM") && code == MCN_SELCHANGE) {
        control_event(item);
    } else if (code == UDN_DELTAPOS && std::strcmp(name, UPDOWN_CLASSA) == 0) {
        // Only an up-down control's notification is the longer record read here.
        e.event_type = reinterpret_cast<const NMUPDOWN*>(header)->iDelta;
        control_event(item);
    }
}

static void handle_command(WPARAM wparam, LPARAM lparam)
{
    EventState& e = events();
    auto control = reinterpret_cast<HWND>(lparam);
    if (control) {
        e.current_event = EVENT_CONTROL;
        e.event_type = HIWORD(wparam);
        e.event_item = static_cast<int32_t>(::GetWindowLongA(control, GWL_ID));
        if (e.event_item == MENU_SOURCE_ID) {
            e.current_event = EVENT_MENU;
            e.event_item = LOWORD(wparam);
        }
        if (class_name_starts(event_class_name(control), "List")) {
            if (e.event_type == LBN_SELCHANGE)
                e.event_type = EVENT_TYPE_LEFT_CLICK;
            else if (e.event_type != LBN_DBLCLK)
                e.current_event = 0;
        }
    } else if (HIWORD(wparam) == 0) {
        e.current_event = EVENT_MENU;
        e.event_item = static_cast<int32_t>(wparam);
    } else if (LOWORD(wparam) == CMD_FOCUS_NEXT) {
        focus_next_control();
    } else if (LOWORD(wparam) == CMD_FOCUS_PREVIOUS) {
        focus_previous_control();
    } else {
        e.current_event = EVENT_MENU;
        e.event_item = LOWORD(wparam);
    }
}

static void handle_tray_event(WPARAM wparam, LPARAM lparam)
{
    EventState& e = events();
    e.current_event = 0;
    e.event_item = static_cast<int32_t>(wparam);
    int32_t type;
    switch (lparam) {
    case WM_LBUTTONUP: type = EVENT_TYPE_LEFT_CLICK; break;
    case WM_RBUTTONUP: type = EVENT_TYPE_RIGHT_CLICK; break;
    case WM_LBUTTONDBLCLK: type = EVENT_TYPE_LEFT_DOUBLE_CLICK; break;
    case WM_RBUTTONDBLCLK: type = EVENT_TYPE_RIGHT_DOUBLE_CLICK; break;
    default: return; // moves and anything else are no event
    }
    e.current_event = EVENT_TRAY;
    e.event_type = type;
}

static LRESULT window_message_handler(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    EventState& e = events();
    e.event_window = hwnd;
    e.message = message;
    e.wparam = wparam;
    e.lparam = lparam;

    // A message live sizing consumed goes no further: the Size command in
    // particular would otherwise start the system's own modal sizing loop,
    // which takes the keys and stops the caller's polling until it ends.
    if (live_sizing_filter(hwnd, message, wparam, lparam) == 0) return 0;

    if (e.callback) {
        LRESULT result = e.callback(hwnd, message, wparam, lparam);
        if (result != CALLBACK_DEFAULT) return result;
    }

    switch (message) {
    case MSG_CONTROL_EVENT:
        e.current_event = EVENT_CONTROL;
        e.event_item = static_cast<int32_t>(wparam);
        e.event_type = static_cast<int32_t>(lparam);
        return 0;
    case WM_NOTIFY:
        // Our controls notify on our own thread; from another thread the pointer
        // is passed on as it is, and sent from another process it points into that process.
        if (lparam && !::InSendMessage()) handle_notify(reinterpret_cast<const NMHDR*>(lparam));
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
        control_event(static_cast<int32_t>(::GetWindowLongA(reinterpret_cast<HWND>(lparam), GWL_ID)));
        return 0;
    case WM_COMMAND: handle_command(wparam, lparam); return 0;
    case MSG_TRAY_EVENT: handle_tray_event(wparam, lparam); return 0;
    case MSG_TRAY_CALLBACK:
        // Back through the queue, so the click reaches window_event.
        ::PostMessageA(hwnd, MSG_TRAY_EVENT, wparam, lparam);
        return 0;
    case WM_MOVE: e.current_event = EVENT_MOVE; return 0;
    case WM_CLOSE:
        e.current_event = EVENT_CLOSE; // the application decides; the window stays
        return 0;
    case WM_SIZE:
        if (wparam == SIZE_MINIMIZED) return NOT_HANDLED;
        e.pending_event = EVENT_SIZE;
        e.pending_window = hwnd;
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wparam) != WA_INACTIVE) {
            e.pending_event = EVENT_ACTIVATE;
            e.pending_window = hwnd;
        }
        return 1;
    default: return NOT_HANDLED;
    }
}

LRESULT CALLBACK window_procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_NCDESTROY) window_forget(hwnd);
    LRESULT result = window_message_handler(hwnd, message, wparam, lparam);
    if (result == NOT_HANDLED) return ::DefWindowProcA(hwnd, message, wparam, lparam);
    return result;
}
