// Tab focus moves through the accelerator table, and keyboard-driven live sizing.
#include "window/window.h"
#include "window_internal.h"
#include "window_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

static auto* const environment = window_test_environment();

namespace {

HWND control(HWND parent, const char* cls, DWORD style, int id, int y)
{
    return ::CreateWindowExA(0, cls, "", WS_CHILD | WS_VISIBLE | style, 10, y, 120, 24, parent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

class WindowFocus : public ::testing::Test {
protected:
    void SetUp() override
    {
        windows_close_all();
        windows_init();
        top = reinterpret_cast<HWND>(window_open(0, 100, 100, 300, 320, WS_CAPTION | WS_SYSMENU, "focus"));
        ASSERT_TRUE(::IsWindow(top));
    }
    void TearDown() override
    {
        windows_close_all();
        window_drain(5, 300);
    }
    // A real key press through the pump; true once the focus is on expected.
    static bool press_reaches(WORD modifier, HWND expected)
    {
        if (modifier)
            input_chord(modifier, VK_TAB);
        else
            input_key_press(VK_TAB);
        bool reached = window_pump_until([&] { return ::GetFocus() == expected; }, 1000);
        window_drain(20, 500);
        return reached && ::GetFocus() == expected;
    }
    static bool tab_to(HWND expected) { return press_reaches(0, expected); }
    static bool back_to(HWND expected) { return press_reaches(VK_SHIFT, expected); }
    HWND top = nullptr;
};

} // namespace

TEST_F(WindowFocus, TabVisitsEligibleControlsAndWraps)
{
    HWND first = control(top, "BUTTON", WS_TABSTOP, 1, 10);
    HWND no_stop = control(top, "BUTTON", 0, 2, 40);
    control(top, "BUTTON", WS_TABSTOP | WS_DISABLED, 3, 70);
    HWND hidden = control(top, "BUTTON", WS_TABSTOP, 4, 100);
    ::ShowWindow(hidden, SW_HIDE);
    HWND edit = control(top, "EDIT", WS_TABSTOP | WS_BORDER, 5, 130);
    HWND last = control(top, "BUTTON", WS_TABSTOP, 6, 160);
    ASSERT_TRUE(window_foreground(top));
    window_drain();

    ::SetFocus(top);
    EXPECT_TRUE(tab_to(first)) << "no focused control: Tab takes the first eligible one";
    EXPECT_TRUE(tab_to(edit)) << "skips a control without a tab stop, a disabled and a hidden one";
    EXPECT_TRUE(tab_to(last));
    EXPECT_TRUE(tab_to(first)) << "Tab on the last eligible control wraps to the first";

    EXPECT_TRUE(back_to(last)) << "Shift+Tab on the first wraps to the last";
    EXPECT_TRUE(back_to(edit));
    EXPECT_TRUE(back_to(first));
    ::SetFocus(top);
    EXPECT_TRUE(back_to(last)) << "no focused control: Shift+Tab takes the last eligible one";

    ::SetFocus(no_stop);
    ASSERT_EQ(::GetFocus(), no_stop);
    EXPECT_TRUE(tab_to(no_stop)) << "an ineligible focused control keeps the focus on Tab";
    EXPECT_TRUE(back_to(last)) << "Shift+Tab from an ineligible control goes to the last eligible one";
}

TEST_F(WindowFocus, ControlsInsideAChildWindowTakePart)
{
    HWND panel =
        ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 150, 0, 140, 200, top, nullptr, nullptr, nullptr);
    HWND outer = control(top, "BUTTON", WS_TABSTOP, 1, 10);
    HWND inner = control(panel, "BUTTON", WS_TABSTOP, 2, 10);
    ASSERT_TRUE(window_foreground(top));
    window_drain();
    ::SetFocus(outer);
    // The panel comes before the button in the child order, so its control is first.
    EXPECT_TRUE(tab_to(inner));
    EXPECT_TRUE(tab_to(outer));
    EXPECT_TRUE(back_to(inner));
}

TEST_F(WindowFocus, PlainTabBelongsToARichEditControl)
{
    ASSERT_NE(::LoadLibraryA("riched20.dll"), nullptr) << "expected the rich-edit library";
    HWND button = control(top, "BUTTON", WS_TABSTOP, 1, 10);
    HWND rich = control(top, "RichEdit20A", WS_TABSTOP | WS_BORDER | ES_MULTILINE | ES_WANTRETURN, 2, 40);
    ASSERT_TRUE(::IsWindow(rich));
    ASSERT_TRUE(window_foreground(top));
    window_drain();

    ::SetFocus(rich);
    ASSERT_EQ(::GetFocus(), rich);
    input_key_press(VK_TAB);
    window_drain(40, 1000);
    EXPECT_EQ(::GetFocus(), rich) << "Tab is a key of the rich-edit control";
    char text[16] = {};
    ::GetWindowTextA(rich, text, sizeof text);
    EXPECT_STREQ(text, "\t") << "the control received the Tab itself";

    EXPECT_TRUE(back_to(button)) << "Shift+Tab still moves the focus backwards";
    EXPECT_TRUE(tab_to(rich));
}

namespace {

class LiveSizing : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::SystemParametersInfoA(SPI_GETDRAGFULLWINDOWS, 0, &full_drag_before, 0);
        ::SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, TRUE, nullptr, 0);
        windows_close_all();
        windows_init();
        hwnd = reinterpret_cast<HWND>(
            window_open(0, 200, 150, 400, 300, WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, "sizing"));
        ASSERT_TRUE(::IsWindow(hwnd));
        ASSERT_TRUE(window_foreground(hwnd));
        window_drain();
        ::GetWindowRect(hwnd, &start);
    }
    void TearDown() override
    {
        if (sizing_state().active) post_and_pump(WM_KEYDOWN, VK_ESCAPE);
        windows_close_all();
        window_drain(5, 300);
        ::SystemParametersInfoA(SPI_SETDRAGFULLWINDOWS, full_drag_before, nullptr, 0);
    }
    // Pumps until the posted message itself has been handled; what sizing
    // posts itself (WM_ENTERSIZEMOVE) may come first.
    void post_and_pump(UINT message, WPARAM wparam, LPARAM lparam = 0)
    {
        MSG& got = window_runtime().events.retrieved;
        got.message = 0; // the same message may have been the last one
        ::PostMessageA(hwnd, message, wparam, lparam);
        ASSERT_TRUE(window_pump_until([&] { return got.message == message && got.wParam == wparam; }, 1000))
            << "message " << message << " never came";
    }
    RECT rect() const
    {
        RECT r;
        ::GetWindowRect(hwnd, &r);
        return r;
    }
    static POINT cursor()
    {
        POINT p;
        ::GetCursorPos(&p);
        return p;
    }
    BOOL full_drag_before = TRUE;
    HWND hwnd = nullptr;
    RECT start{};
};

bool same(const RECT& a, const RECT& b)
{
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string text(const RECT& r)
{
    return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom) + ")";
}

} // namespace

TEST_F(LiveSizing, ArrowKeysPickAnEdgeThenACornerThenSize)
{
    ::SetCursorPos(start.left + 50, start.top + 60);
    post_and_pump(WM_SYSCOMMAND, SC_SIZE);
    ASSERT_TRUE(sizing_state().active) << "the Size command starts live sizing";
    EXPECT_EQ(sizing_state().edge, 0);
    EXPECT_EQ(::GetCapture(), hwnd);
    EXPECT_TRUE(same(rect(), start)) << "the pump keeps running and nothing has moved yet";

    post_and_pump(WM_KEYDOWN, VK_RIGHT);
    EXPECT_EQ(sizing_state().edge, WMSZ_RIGHT);
    EXPECT_EQ(cursor().x, start.right - 2) << "the cursor goes onto the right edge";
    EXPECT_TRUE(same(rect(), start)) << "picking an edge does not size: " << text(rect());

    post_and_pump(WM_KEYDOWN, VK_RIGHT);
    RECT r = rect();
    EXPECT_EQ(r.right, start.right + 10) << text(r);
    EXPECT_EQ(r.left, start.left);
    EXPECT_EQ(r.bottom, start.bottom);

    post_and_pump(WM_KEYDOWN, VK_DOWN);
    EXPECT_EQ(sizing_state().edge, WMSZ_BOTTOMRIGHT) << "the other axis turns the edge into a corner";
    POINT at = cursor();
    EXPECT_EQ(at.x, start.right + 10 - 2);
    EXPECT_EQ(at.y, start.bottom - 2);
    EXPECT_TRUE(same(rect(), r)) << text(rect());

    post_and_pump(WM_KEYDOWN, VK_DOWN);
    r = rect();
    EXPECT_EQ(r.bottom, start.bottom + 10) << text(r);
    EXPECT_EQ(r.right, start.right + 10) << text(r);

    post_and_pump(WM_KEYDOWN, VK_ESCAPE);
    EXPECT_FALSE(sizing_state().active);
    EXPECT_NE(::GetCapture(), hwnd);
    EXPECT_TRUE(same(rect(), start)) << "Escape restores the starting rectangle: " << text(rect());
    std::vector<int32_t> after = window_drain();
    EXPECT_NE(std::find(after.begin(), after.end(), static_cast<int32_t>(WM_EXITSIZEMOVE)), after.end());
}

TEST_F(LiveSizing, EnterKeepsTheNewRectangle)
{
    const POINT before{start.left + 70, start.top + 40};
    ::SetCursorPos(before.x, before.y);
    window_drain();
    post_and_pump(WM_SYSCOMMAND, SC_SIZE);
    ASSERT_TRUE(sizing_state().active);
    post_and_pump(WM_KEYDOWN, VK_UP);
    EXPECT_EQ(sizing_state().edge, WMSZ_TOP);
    EXPECT_EQ(cursor().y, start.top);
    post_and_pump(WM_KEYDOWN, VK_LEFT);
    EXPECT_EQ(sizing_state().edge, WMSZ_TOPLEFT);
    post_and_pump(WM_KEYDOWN, VK_UP);
    post_and_pump(WM_KEYDOWN, VK_LEFT);
    RECT r = rect();
    EXPECT_EQ(r.top, start.top - 10) << text(r);
    EXPECT_EQ(r.left, start.left - 10) << text(r);
    EXPECT_EQ(r.right, start.right);
    EXPECT_EQ(r.bottom, start.bottom);

    post_and_pump(WM_KEYDOWN, VK_RETURN);
    EXPECT_FALSE(sizing_state().active);
    EXPECT_EQ(cursor().x, before.x) << "a keyboard start puts the cursor back at the end";
    EXPECT_EQ(cursor().y, before.y);
    window_drain();
    EXPECT_TRUE(same(rect(), r)) << "Enter keeps the new size: " << text(rect());

    // Further keys are ordinary keys again.
    post_and_pump(WM_KEYDOWN, VK_LEFT);
    EXPECT_TRUE(same(rect(), r));
}

TEST_F(LiveSizing, MinimumTrackSizeHoldsAtTheDraggedEdge)
{
    // A press on the right border starts with that edge already picked.
    post_and_pump(WM_SYSCOMMAND, SC_SIZE | WMSZ_RIGHT);
    ASSERT_TRUE(sizing_state().active);
    EXPECT_EQ(sizing_state().edge, WMSZ_RIGHT);
    const LONG min_width = sizing_state().limits.ptMinTrackSize.x;
    ASSERT_GT(min_width, 0);

    // Drag far past the left edge (client coordinates, signed words).
    post_and_pump(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(-600), 20));
    RECT r = rect();
    EXPECT_EQ(r.left, start.left) << "the opposite edge stays";
    EXPECT_EQ(r.right - r.left, min_width) << text(r);
    EXPECT_EQ(r.top, start.top);
    EXPECT_EQ(r.bottom, start.bottom);

    POINT client{start.left + 250, start.top + 20};
    ::ScreenToClient(hwnd, &client);
    post_and_pump(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(static_cast<WORD>(client.x), static_cast<WORD>(client.y)));
    EXPECT_EQ(rect().right, start.left + 252) << "the right edge follows the pointer: " << text(rect());

    post_and_pump(WM_LBUTTONUP, 0);
    EXPECT_FALSE(sizing_state().active) << "releasing the button ends sizing";
    EXPECT_EQ(rect().right, start.left + 252);
}

TEST(SizingRect, LimitsHoldAtTheDraggedEdgeOnly)
{
    MINMAXINFO limits{};
    limits.ptMinTrackSize = POINT{100, 80};
    limits.ptMaxTrackSize = POINT{500, 400};
    RECT r{200, 200, 400, 350};

    sizing_drag_edges(r, WMSZ_LEFT, 390, 0, limits);
    EXPECT_EQ(r.left, 300) << "too narrow: widened leftwards from the fixed right edge";
    EXPECT_EQ(r.right, 400);
    sizing_drag_edges(r, WMSZ_LEFT, -500, 0, limits);
    EXPECT_EQ(r.left, -100) << "too wide: held at the maximum";

    r = RECT{200, 200, 400, 350};
    sizing_drag_edges(r, WMSZ_BOTTOMRIGHT, 210, 210, limits);
    EXPECT_EQ(r.right, 300);
    EXPECT_EQ(r.bottom, 280);
    EXPECT_EQ(r.left, 200);
    EXPECT_EQ(r.top, 200);

    r = RECT{200, 200, 400, 350};
    sizing_drag_edges(r, WMSZ_TOPLEFT, 152, 102, limits);
    EXPECT_EQ(r.left, 150) << "the top-left corner sits 2 pixels inside the cursor";
    EXPECT_EQ(r.top, 100);
    sizing_drag_edges(r, 0, 0, 0, limits);
    EXPECT_EQ(r.left, 150) << "no edge picked: nothing moves";
}
