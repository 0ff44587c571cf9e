// Live sizing: the system's Size command handled through ordinary messages so
// the application's polling loop keeps running while a window is resized.
#include "window_internal.h"

static SizingState sizing;

// The cursor is put this far inside a right or bottom edge (and the top-left
// corner), where it still lies on the sizing border; dragging adds it back, so
// that picking an edge does not move it.
constexpr int32_t CURSOR_INSET = 2;
// Pixels an arrow key moves the cursor once its axis has an edge.
constexpr int32_t ARROW_STEP = 10;

const SizingState& sizing_state()
{
    return sizing;
}

// Moves a dragged edge to `to`; its span from the fixed edge (sign +1 when it
// lies after it) stays within the limits.
static void edge_drag(LONG& edge, LONG fixed, LONG to, LONG sign, LONG min_span, LONG max_span)
{
    LONG span = (to - fixed) * sign;
    span = span < min_span ? min_span : span > max_span ? max_span : span;
    edge = fixed + sign * span;
}

void sizing_drag_edges(RECT& rect, int32_t edge, int32_t x, int32_t y, const MINMAXINFO& limits)
{
    const POINT min = limits.ptMinTrackSize, max = limits.ptMaxTrackSize;
    // Limits hold at the dragged edge; the opposite edge stays put.
    if (edge == WMSZ_LEFT || edge == WMSZ_TOPLEFT || edge == WMSZ_BOTTOMLEFT)
        edge_drag(rect.left, rect.right, edge == WMSZ_TOPLEFT ? x - CURSOR_INSET : x, -1, min.x, max.x);
    if (edge == WMSZ_RIGHT || edge == WMSZ_TOPRIGHT || edge == WMSZ_BOTTOMRIGHT)
        edge_drag(rect.right, rect.left, x + CURSOR_INSET, 1, min.x, max.x);
    if (edge == WMSZ_TOP || edge == WMSZ_TOPLEFT || edge == WMSZ_TOPRIGHT)
        edge_drag(rect.top, rect.bottom, edge == WMSZ_TOPLEFT ? y - CURSOR_INSET : y, -1, min.y, max.y);
    if (edge == WMSZ_BOTTOM || edge == WMSZ_BOTTOMLEFT || edge == WMSZ_BOTTOMRIGHT)
        edge_drag(rect.bottom, rect.top, y + CURSOR_INSET, 1, min.y, max.y);
}

static void sizing_apply_rect(HWND hwnd, const RECT& rect)
{
    RECT r = rect;
    if (::GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD)
        ::MapWindowPoints(HWND_DESKTOP, ::GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
    ::MoveWindow(hwnd, r.left, r.top, r.right - r.left, r.bottom - r.top, TRUE);
}

static void sizing_set_cursor(LPCSTR cursor, int32_t x, int32_t y)
{
    ::SetCursorPos(x, y);
    ::SetCursor(static_cast<HCURSOR>(::LoadImageA(nullptr, cursor, IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE)));
}

// The sized window's rectangle, and the window with it, follow the cursor to (x, y).
static void sizing_follow_cursor(int32_t x, int32_t y)
{
    sizing_drag_edges(sizing.current_rect, sizing.edge, x, y, sizing.limits);
    ::SendMessageA(sizing.window, WM_SIZING, static_cast<WPARAM>(sizing.edge),
                   reinterpret_cast<LPARAM>(&sizing.current_rect));
    sizing_apply_rect(sizing.window, sizing.current_rect);
}

static void sizing_limits(HWND hwnd)
{
    MINMAXINFO& m = sizing.limits;
    m = MINMAXINFO{};
    m.ptMaxSize = POINT{::GetSystemMetrics(SM_CXMAXIMIZED), ::GetSystemMetrics(SM_CYMAXIMIZED)};
    if (::GetWindowLongA(hwnd, GWL_STYLE) & WS_BORDER)
        m.ptMaxPosition = POINT{::GetSystemMetrics(SM_CXBORDER), ::GetSystemMetrics(SM_CYBORDER)};
    else if (::GetWindowLongA(hwnd, GWL_EXSTYLE) & WS_EX_WINDOWEDGE)
        m.ptMaxPosition = POINT{::GetSystemMetrics(SM_CXEDGE), ::GetSystemMetrics(SM_CYEDGE)};
    m.ptMinTrackSize = POINT{::GetSystemMetrics(SM_CXMINTRACK), ::GetSystemMetrics(SM_CYMINTRACK)};
    m.ptMaxTrackSize = POINT{::GetSystemMetrics(SM_CXMAXTRACK), ::GetSystemMetrics(SM_CYMAXTRACK)};
    ::SendMessageA(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&m));
}

static LRESULT sizing_begin(HWND hwnd, WPARAM wparam)
{
    BOOL full_drag = FALSE;
    if (!::SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &full_drag, 0) || !full_drag) return NOT_HANDLED;
    sizing.active = true;
    sizing.window = hwnd;
    sizing.edge = static_cast<int32_t>(wparam & 0xF);
    ::GetWindowRect(hwnd, &sizing.starting_rect);
    sizing.current_rect = sizing.starting_rect;
    sizing_limits(hwnd);
    if (::GetKeyState(VK_LBUTTON) == 0) ::SendMessageA(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
    ::SetCapture(hwnd);
    ::PostMessageA(hwnd, WM_ENTERSIZEMOVE, 0, 0);
    sizing.restore_cursor = sizing.edge == 0;
    if (sizing.restore_cursor) {
        ::GetCursorPos(&sizing.saved_cursor);
        ::SetCursor(
            static_cast<HCURSOR>(::LoadImageA(nullptr, IDC_SIZEALL, IMAGE_CURSOR, 0, 0, LR_SHARED | LR_DEFAULTSIZE)));
    }
    return 0;
}

static void sizing_finish(bool restore_rect, bool release)
{
    // Inactive first: releasing the capture and moving the window send
    // messages that come back through the filter.
    sizing.active = false;
    if (release) ::ReleaseCapture();
    if (restore_rect) sizing_apply_rect(sizing.window, sizing.starting_rect);
    ::PostMessageA(sizing.window, WM_EXITSIZEMOVE, 0, 0);
    if (sizing.restore_cursor) ::SetCursorPos(sizing.saved_cursor.x, sizing.saved_cursor.y);
}

// Makes `edge` the dragged edge and puts the sizing cursor on it.
static void sizing_pick(int32_t edge, POINT pt)
{
    const RECT& r = sizing.current_rect;
    sizing.edge = edge;
    switch (edge) {
    case WMSZ_LEFT: return sizing_set_cursor(IDC_SIZEWE, r.left, pt.y);
    case WMSZ_RIGHT: return sizing_set_cursor(IDC_SIZEWE, r.right - CURSOR_INSET, pt.y);
    case WMSZ_TOP: return sizing_set_cursor(IDC_SIZENS, pt.x, r.top);
    case WMSZ_BOTTOM: return sizing_set_cursor(IDC_SIZENS, pt.x, r.bottom - CURSOR_INSET);
    case WMSZ_TOPLEFT: return sizing_set_cursor(IDC_SIZENWSE, r.left + CURSOR_INSET, r.top + CURSOR_INSET);
    case WMSZ_TOPRIGHT: return sizing_set_cursor(IDC_SIZENESW, r.right - CURSOR_INSET, r.top);
    case WMSZ_BOTTOMLEFT: return sizing_set_cursor(IDC_SIZENESW, r.left, r.bottom - CURSOR_INSET);
    default: return sizing_set_cursor(IDC_SIZENWSE, r.right - CURSOR_INSET, r.bottom - CURSOR_INSET);
    }
}

// An arrow key first picks an edge (or turns an edge into a corner) and puts
// the cursor on it; once the axis has an edge, it moves the cursor and sizes.
static void sizing_arrow(WPARAM key)
{
    struct Arrow {
        WPARAM key;
        int32_t side, from_a, corner_a, from_b, corner_b, dx, dy;
    };
    static const Arrow arrows[] = {
        {VK_LEFT, WMSZ_LEFT, WMSZ_TOP, WMSZ_TOPLEFT, WMSZ_BOTTOM, WMSZ_BOTTOMLEFT, -ARROW_STEP, 0},
        {VK_RIGHT, WMSZ_RIGHT, WMSZ_TOP, WMSZ_TOPRIGHT, WMSZ_BOTTOM, WMSZ_BOTTOMRIGHT, ARROW_STEP, 0},
        {VK_UP, WMSZ_TOP, WMSZ_RIGHT, WMSZ_TOPRIGHT, WMSZ_LEFT, WMSZ_TOPLEFT, 0, -ARROW_STEP},
        {VK_DOWN, WMSZ_BOTTOM, WMSZ_RIGHT, WMSZ_BOTTOMRIGHT, WMSZ_LEFT, WMSZ_BOTTOMLEFT, 0, ARROW_STEP},
    };
    POINT pt;
    ::GetCursorPos(&pt);
    for (const Arrow& a : arrows) {
        if (a.key != key) continue;
        if (sizing.edge == 0)
            sizing_pick(a.side, pt);
        else if (sizing.edge == a.from_a)
            sizing_pick(a.corner_a, pt);
        else if (sizing.edge == a.from_b)
            sizing_pick(a.corner_b, pt);
        else {
            ::SetCursorPos(pt.x + a.dx, pt.y + a.dy);
            sizing_follow_cursor(pt.x + a.dx, pt.y + a.dy);
        }
    }
}

LRESULT live_sizing_filter(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (!sizing.active) {
        if (message == WM_SYSCOMMAND && (wparam & 0xFFF0) == SC_SIZE) return sizing_begin(hwnd, wparam);
        return NOT_HANDLED;
    }
    switch (message) {
    case WM_MOUSEMOVE: {
        sizing.restore_cursor = false;
        POINT pt{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))};
        ::MapWindowPoints(hwnd, HWND_DESKTOP, &pt, 1);
        sizing_follow_cursor(pt.x, pt.y);
        return 0;
    }
    case WM_LBUTTONUP: sizing_finish(false, true); return 0;
    case WM_CAPTURECHANGED:
        // Another window took the mouse: end here, keeping the size reached,
        // rather than go on sizing without the capture.
        if (reinterpret_cast<HWND>(lparam) != sizing.window) {
            sizing_finish(false, false);
            return 0;
        }
        return NOT_HANDLED;
    case WM_KEYDOWN:
        if (wparam == VK_RETURN) {
            sizing_finish(false, true);
            return 0;
        }
        if (wparam == VK_ESCAPE) {
            sizing_finish(true, true);
            return 0;
        }
        if (wparam == VK_LEFT || wparam == VK_RIGHT || wparam == VK_UP || wparam == VK_DOWN) sizing_arrow(wparam);
        return NOT_HANDLED;
    default: return NOT_HANDLED;
    }
}
