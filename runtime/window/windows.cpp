// The window table, per-window classes and accelerators, opening and closing.
#include "core/runtime.h"
#include "window_internal.h"

static WindowRuntime runtime;

static const char TEMPLATE_CLASS_NAME[] = "TemplateClass";
static const char CLASS_NAME_PREFIX[] = "WindowClass_";

void window_class_format(char* buffer, size_t size, intptr_t number)
{
    if (size == 0) return;
    char digits[24];
    size_t count = 0;
    // Negate in unsigned arithmetic so the most negative value is safe.
    uintptr_t magnitude = number < 0 ? uintptr_t{0} - static_cast<uintptr_t>(number) : static_cast<uintptr_t>(number);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (number < 0) digits[count++] = '-';

    size_t at = 0;
    for (const char* p = CLASS_NAME_PREFIX; *p && at + 1 < size; ++p) buffer[at++] = *p;
    while (count > 0 && at + 1 < size) buffer[at++] = digits[--count];
    buffer[at] = '\0';
}

static void window_class_name(WindowId number)
{
    window_class_format(runtime.class_name, sizeof runtime.class_name, number);
}

WindowStyle window_style_decode(uint32_t flags)
{
    WindowStyle result{0, Placement::none, false};
    if (flags & WINDOW_CENTRE_SCREEN) {
        flags &= ~WINDOW_CENTRE_SCREEN;
        result.placement = Placement::centre_screen;
    }
    if (flags & WINDOW_CENTRE_ACTIVE) {
        flags &= ~WINDOW_CENTRE_ACTIVE;
        result.placement = Placement::centre_active;
    }
    if (flags == 0 || flags == WINDOW_INVISIBLE) flags |= WS_CAPTION;
    if (flags & WINDOW_INVISIBLE) {
        flags &= ~WINDOW_INVISIBLE; // hidden, and so never maximised
    } else {
        flags |= WS_VISIBLE;
        result.maximise = (flags & WS_MAXIMIZE) != 0;
    }
    result.style = flags;
    return result;
}

POINT window_centre_on_screen(int32_t width, int32_t height, int32_t screen_width, int32_t screen_height)
{
    POINT at;
    at.x = (screen_width >> 1) - ((width < screen_width ? width : screen_width) >> 1);
    at.y = (screen_height >> 1) - ((height < screen_height ? height : screen_height) >> 1);
    return at;
}

POINT window_centre_on_rect(int32_t width, int32_t height, const RECT& active)
{
    POINT at;
    at.x = active.left - (width >> 1) + ((active.right - active.left) >> 1);
    at.y = active.top - (height >> 1) + ((active.bottom - active.top) >> 1);
    if (at.x < 0) at.x = 0;
    if (at.y < 0) at.y = 0;
    return at;
}

void windows_init()
{
    runtime = WindowRuntime{};
    table_init(&runtime.windows, sizeof(WindowRecord), INITIAL_WINDOW_CAPACITY, WINDOW_CAPACITY_GROWTH);

    WNDCLASSA& c = runtime.template_class; // zeroed: no extra bytes, no menu
    c.style = CS_DBLCLKS;
    c.lpfnWndProc = window_procedure;
    c.hInstance = runtime_instance();
    c.hIcon = ::LoadIconA(runtime_instance(), MAKEINTRESOURCEA(1));
    c.hCursor = ::LoadCursorA(nullptr, IDC_ARROW);
    c.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    c.lpszClassName = TEMPLATE_CLASS_NAME;
    ::RegisterClassA(&c);
    // Every later registration takes its name from the class-name buffer.
    c.lpszClassName = runtime.class_name;
}

WindowRuntime& window_runtime()
{
    return runtime;
}

void window_report(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    runtime_report_args(format, args);
    va_end(args);
}

static WindowRecord* window_slot(WindowId number)
{
    return static_cast<WindowRecord*>(table_claim(&runtime.windows, number));
}

WindowRecord* window_find(WindowId number)
{
    return static_cast<WindowRecord*>(table_find(&runtime.windows, number));
}

HACCEL window_accelerators_create(WindowId number)
{
    WindowRecord* record = window_find(number);
    if (!record) return nullptr;
    auto* entries = static_cast<ACCEL*>(::HeapAlloc(main_heap(), 0, 2 * sizeof(ACCEL)));
    if (!entries) return nullptr;
    entries[0] = ACCEL{FVIRTKEY | FNOINVERT, VK_TAB, CMD_FOCUS_NEXT};
    entries[1] = ACCEL{FVIRTKEY | FNOINVERT | FSHIFT, VK_TAB, CMD_FOCUS_PREVIOUS};
    HACCEL table = ::CreateAcceleratorTableA(entries, 2);
    if (!table) {
        ::HeapFree(main_heap(), 0, entries);
        return nullptr;
    }
    record->accelerator_count = 2;
    record->accelerators = entries;
    record->accelerator_table = table;
    return table;
}

// The one way a window goes: the window itself (unless the system is already
// destroying it), its class, its accelerators and its record.
static void window_destroy(WindowId id, WindowRecord* record, bool system_destroying)
{
    HWND handle = record->handle;
    record->handle = nullptr; // so the WM_NCDESTROY that follows finds nothing to release
    // The system may give the handle to another window: drawing must not reach it.
    if (handle == runtime.current_window) runtime.current_window = nullptr;
    if (handle && !system_destroying) {
        // The owner becomes active first, so activation does not fall to some unrelated window.
        if (HWND owner = ::GetWindow(handle, GW_OWNER)) ::SetActiveWindow(owner);
        ::DestroyWindow(handle);
    }
    // A window the system is destroying still holds its class: the number's next open reuses it.
    if (!system_destroying) {
        window_class_name(id);
        ::UnregisterClassA(runtime.class_name, runtime_instance());
    }
    if (record->accelerator_count != 0) {
        ::HeapFree(main_heap(), 0, record->accelerators);
        ::DestroyAcceleratorTable(record->accelerator_table);
    }
    *record = WindowRecord{};
    table_release(&runtime.windows, id);
}

void window_forget(HWND hwnd)
{
    auto* record = static_cast<WindowRecord*>(table_find_handle(&runtime.windows, hwnd));
    if (record) window_destroy(table_id(&runtime.windows, record), record, true);
}

void window_close(WindowId number)
{
    if (WindowRecord* record = window_find(number)) window_destroy(number, record, false);
}

intptr_t window_open(WindowId number, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                     const char* title)
{
    return window_open_parented(number, x, y, width, height, flags, title, nullptr);
}

intptr_t window_open_parented(WindowId number, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                              const char* title, HWND parent)
{
    const bool dynamic = number == -1;
    WindowRecord* record = window_slot(number);
    if (!record) {
        window_report("window %ld refused: no such number, or no room for it", static_cast<long>(number));
        return 0;
    }
    if (dynamic)
        number = reinterpret_cast<WindowId>(record);
    else
        window_close(number);

    window_class_name(number);
    ::RegisterClassA(&runtime.template_class); // an existing class is used as it is

    WindowStyle decoded = window_style_decode(flags);
    // The frame alone, added to the client size without wrapping.
    RECT frame{0, 0, 0, 0};
    ::AdjustWindowRect(&frame, decoded.style, FALSE);
    const int32_t outer_width = coord_add(width, frame.right - frame.left);
    const int32_t outer_height = coord_add(height, frame.bottom - frame.top);

    POINT at{x, y};
    HWND active = decoded.placement == Placement::centre_active ? ::GetActiveWindow() : nullptr;
    if (active) {
        RECT r;
        ::GetWindowRect(active, &r);
        at = window_centre_on_rect(outer_width, outer_height, r);
    } else if (decoded.placement != Placement::none) {
        at = window_centre_on_screen(outer_width, outer_height, ::GetSystemMetrics(SM_CXSCREEN),
                                     ::GetSystemMetrics(SM_CYSCREEN));
    }

    record->handle = ::CreateWindowExA(0, runtime.class_name, title, decoded.style, at.x, at.y, outer_width,
                                       outer_height, parent, nullptr, runtime_instance(), nullptr);
    if (!record->handle)
        window_report("the platform made no window \"%s\" (error %lu)", title ? title : "", ::GetLastError());
    if (!record->handle || !window_accelerators_create(number)) {
        window_destroy(number, record, false); // a failure leaves no class or record
        return 0;
    }
    runtime.current_window = record->handle;
    if (decoded.maximise) ::ShowWindow(record->handle, SW_MAXIMIZE);
    return dynamic ? number : reinterpret_cast<intptr_t>(record->handle);
}

void windows_close_all()
{
    table_for_each(&runtime.windows, window_close, true);
}

HWND window_current()
{
    return runtime.current_window;
}
