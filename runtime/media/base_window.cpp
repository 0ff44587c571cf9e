#include "multimedia_internal.h"

#include "core/runtime.h"

static const char BASE_WINDOW_CLASS[] = "MultimediaBase Class";

int base_window_create()
{
    if (multimedia().base_window_created || multimedia().display_window) return multimedia().base_window_created;

    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof(WNDCLASSEXA);
    window_class.lpfnWndProc = base_window_procedure;
    window_class.hInstance = runtime_instance();
    window_class.hbrBackground = static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH));
    window_class.lpszClassName = BASE_WINDOW_CLASS;
    if (!::RegisterClassExA(&window_class)) return multimedia().base_window_created;

    // No WS_VISIBLE: the window only anchors display and input; nothing shows it.
    multimedia().display_window = ::CreateWindowExA(0, BASE_WINDOW_CLASS, "", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0,
                                                    1, 1, nullptr, nullptr, runtime_instance(), nullptr);
    if (multimedia().display_window) multimedia().base_window_created = 1;
    return multimedia().base_window_created;
}

LRESULT CALLBACK base_window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    switch (message) {
    case WM_ACTIVATE: return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        ::BeginPaint(window, &paint);
        ::EndPaint(window, &paint);
        return 1;
    }
    case WM_ERASEBKGND: return 1; // display operations own every pixel
    default: return ::DefWindowProcA(window, message, wparam, lparam);
    }
}
