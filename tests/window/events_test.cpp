// Event codes from the polling pump, driven by real messages and real input.
#include "fuzz_support.h"
#include "window/window.h"
#include "window_harness.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

static auto* const environment = window_test_environment();

namespace {

struct Seen {
    int32_t code;
    int32_t type;
    int32_t item;
    HWND window;
};

// Every non-zero event until the queue has been quiet for a moment.
std::vector<Seen> collect(DWORD settle_ms = 40)
{
    std::vector<Seen> seen;
    const DWORD start = ::GetTickCount();
    DWORD quiet_since = start;
    while (::GetTickCount() - start < 3000) {
        int32_t code = window_event();
        if (code != 0) {
            seen.push_back(Seen{code, window_event_type(), window_event_item(), window_event_window()});
            quiet_since = ::GetTickCount();
        } else if (::GetTickCount() - quiet_since >= settle_ms) {
            break;
        } else {
            ::Sleep(1);
        }
    }
    return seen;
}

bool has_code(const std::vector<Seen>& seen, int32_t code)
{
    return std::any_of(seen.begin(), seen.end(), [&](const Seen& s) { return s.code == code; });
}

const Seen* find_event(const std::vector<Seen>& seen, int32_t code, int32_t item)
{
    for (const Seen& s : seen)
        if (s.code == code && s.item == item) return &s;
    return nullptr;
}

constexpr uint32_t FRAME = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

class WindowEvents : public FreshWindowsTest {
protected:
    HWND open(WindowId number, uint32_t flags, int32_t x = 100, int32_t y = 100, int32_t w = 400, int32_t h = 300)
    {
        return reinterpret_cast<HWND>(window_open(number, x, y, w, h, flags, "events"));
    }
    static HWND control(HWND parent, const char* cls, DWORD style, int id, int x, int y, int w, int h,
                        const char* text = "")
    {
        return ::CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
    }
};

} // namespace

TEST_F(WindowEvents, PendingEventComesFirstAfterOpen)
{
    HWND hwnd = open(0, FRAME);
    ASSERT_TRUE(::IsWindow(hwnd));
    int32_t first = window_event();
    EXPECT_TRUE(first == EVENT_ACTIVATE || first == EVENT_SIZE) << "expected a pending size or activate, got " << first;
    EXPECT_EQ(window_event_window(), hwnd);
    EXPECT_EQ(window_event_type(), EVENT_TYPE_NONE);
    std::vector<int32_t> rest = window_drain();
    EXPECT_EQ(std::count(rest.begin(), rest.end(), EVENT_SIZE), 0) << "no second size event without a resize";
    EXPECT_EQ(window_event(), 0) << "an empty queue gives 0";

    // Hidden: creation sends no size; the first showing does, and returning
    // the pending size drops the move stored with it as the current event.
    HWND hidden = open(1, WINDOW_INVISIBLE);
    EXPECT_EQ(window_event(), 0);
    ::ShowWindow(hidden, SW_SHOWNA);
    EXPECT_EQ(window_event(), EVENT_SIZE);
    EXPECT_EQ(window_event_window(), hidden);
    ::PostMessageA(hidden, WM_APP, 0, 0);
    EXPECT_EQ(window_event(), static_cast<int32_t>(WM_APP)) << "the stored move is gone";
}

TEST_F(WindowEvents, EmptyQueueKeepsAnEventForTheNextMessage)
{
    HWND hwnd = open(0, WINDOW_INVISIBLE);
    window_drain();
    ::SendMessageA(hwnd, WM_CLOSE, 0, 0); // handled at once, between pump calls
    EXPECT_EQ(window_event(), 0);
    EXPECT_EQ(window_event(), 0);
    ::PostMessageA(hwnd, WM_APP + 1, 7, 9);
    EXPECT_EQ(window_event(), EVENT_CLOSE) << "the stored close comes with the next retrieved message";
    EXPECT_TRUE(::IsWindow(hwnd));
    ::PostMessageA(hwnd, WM_APP + 1, 7, 9);
    EXPECT_EQ(window_event(), static_cast<int32_t>(WM_APP + 1)) << "raw messages give their identifier";
    EXPECT_EQ(window_event_wparam(), 7u);
    EXPECT_EQ(window_event_lparam(), 9);

    // A pending event wins over a stored close, which is then lost.
    ::SendMessageA(hwnd, WM_CLOSE, 0, 0);
    ::MoveWindow(hwnd, 0, 0, 321, 123, FALSE);
    EXPECT_EQ(window_event(), EVENT_SIZE);
    ::PostMessageA(hwnd, WM_APP, 0, 0);
    EXPECT_EQ(window_event(), static_cast<int32_t>(WM_APP));
}

TEST_F(WindowEvents, CloseRequestsGive16AndLeaveTheWindowOpen)
{
    HWND hwnd = open(0, FRAME);
    ASSERT_TRUE(window_foreground(hwnd));
    window_drain();

    ::PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(window_event(), EVENT_CLOSE) << "the call that dispatches the close command returns 16";
    EXPECT_TRUE(::IsWindow(hwnd));
    EXPECT_TRUE(::IsWindowVisible(hwnd));
    window_drain();

    ::PostMessageA(hwnd, WM_CLOSE, 0, 0);
    EXPECT_EQ(window_event(), EVENT_CLOSE);
    EXPECT_TRUE(::IsWindow(hwnd));

    std::vector<int32_t> before;
    input_chord(VK_MENU, VK_F4);
    EXPECT_TRUE(window_pump_for(EVENT_CLOSE, 2000, &before)) << "Alt+F4 should reach the pump as 16";
    EXPECT_TRUE(::IsWindow(hwnd));
    window_drain();
}

TEST_F(WindowEvents, OtherMessagesComeBackRaw)
{
    HWND hwnd = open(0, WINDOW_INVISIBLE);
    window_drain();
    ::SetTimer(hwnd, 1, 10, nullptr);
    std::vector<int32_t> seen;
    EXPECT_TRUE(window_pump_for(WM_TIMER, 2000, &seen)) << "expected 275 from the timer";
    ::KillTimer(hwnd, 1);
    window_drain();
    ::PostMessageA(hwnd, WM_KEYDOWN, 'A', 0);
    EXPECT_EQ(window_event(), static_cast<int32_t>(WM_KEYDOWN));
}

TEST_F(WindowEvents, MinimiseGivesNoSizeEventRestoreDoes)
{
    HWND hwnd = open(0, FRAME);
    window_drain();
    ::ShowWindow(hwnd, SW_MINIMIZE);
    std::vector<Seen> seen = collect();
    ASSERT_TRUE(::IsIconic(hwnd));
    EXPECT_FALSE(has_code(seen, EVENT_SIZE));

    ::ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    ASSERT_FALSE(::IsIconic(hwnd));
    EXPECT_EQ(window_event(), EVENT_SIZE);
    EXPECT_EQ(window_event_window(), hwnd);
}

TEST_F(WindowEvents, ActivationReportsOnceDeactivationNever)
{
    HWND a = open(0, FRAME, 50, 50);
    HWND b = open(1, FRAME, 500, 50);
    ASSERT_TRUE(window_foreground(a));
    window_drain();
    ::SetForegroundWindow(b);
    std::vector<Seen> seen = collect();
    ASSERT_EQ(::GetActiveWindow(), b);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen[0].code, EVENT_ACTIVATE);
    EXPECT_EQ(seen[0].window, b);
    EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const Seen& s) { return s.code == EVENT_ACTIVATE; }), 1);
}

TEST_F(WindowEvents, ButtonsAndMenusReportTheirSource)
{
    HWND hwnd = open(0, FRAME);
    HWND button = control(hwnd, "BUTTON", BS_PUSHBUTTON, 41, 10, 10, 100, 30, "ok");
    HWND menu_button = control(hwnd, "BUTTON", BS_PUSHBUTTON, MENU_SOURCE_ID, 10, 60, 100, 30, "menu");
    ASSERT_TRUE(window_foreground(hwnd));
    window_drain();

    POINT at = window_centre(button);
    input_click(at.x, at.y);
    std::vector<Seen> seen = collect();
    const Seen* click = find_event(seen, EVENT_CONTROL, 41);
    ASSERT_NE(click, nullptr) << "expected a control event from the button";
    EXPECT_EQ(click->type, BN_CLICKED);
    EXPECT_EQ(click->window, hwnd);

    at = window_centre(menu_button);
    input_click(at.x, at.y);
    seen = collect();
    const Seen* menu = find_event(seen, EVENT_MENU, static_cast<WORD>(MENU_SOURCE_ID));
    ASSERT_NE(menu, nullptr) << "expected the menu-source button to report a menu event";
    EXPECT_FALSE(has_code(seen, EVENT_CONTROL));

    ::PostMessageA(hwnd, WM_COMMAND, 42, 0);
    EXPECT_EQ(window_event(), EVENT_MENU);
    EXPECT_EQ(window_event_item(), 42);
    ::PostMessageA(hwnd, WM_COMMAND, MAKEWPARAM(500, 1), 0);
    EXPECT_EQ(window_event(), EVENT_MENU) << "an accelerator command other than the focus moves";
    EXPECT_EQ(window_event_item(), 500);
    ::PostMessageA(hwnd, MSG_CONTROL_EVENT, 12, 3);
    EXPECT_EQ(window_event(), EVENT_CONTROL);
    EXPECT_EQ(window_event_item(), 12);
    EXPECT_EQ(window_event_type(), 3);
}

TEST_F(WindowEvents, ListBoxReportsSelectionAndDoubleClickOnly)
{
    HWND hwnd = open(0, FRAME);
    HWND list = control(hwnd, "LISTBOX", LBS_NOTIFY | WS_BORDER, 55, 10, 10, 200, 150);
    for (const char* item : {"one", "two", "three"})
        ::SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item));
    ASSERT_TRUE(window_foreground(hwnd));
    window_drain();

    RECT item;
    ::SendMessageA(list, LB_GETITEMRECT, 1, reinterpret_cast<LPARAM>(&item));
    POINT at{(item.left + item.right) / 2, (item.top + item.bottom) / 2};
    ::ClientToScreen(list, &at);
    input_click(at.x, at.y);
    std::vector<Seen> seen = collect();
    ASSERT_EQ(::SendMessageA(list, LB_GETCURSEL, 0, 0), 1);
    std::vector<const Seen*> controls;
    for (const Seen& s : seen)
        if (s.code == EVENT_CONTROL) controls.push_back(&s);
    ASSERT_EQ(controls.size(), 1u) << "the focus notification gives no event, the selection change one";
    EXPECT_EQ(controls[0]->type, EVENT_TYPE_LEFT_CLICK);
    EXPECT_EQ(controls[0]->item, 55);

    ::Sleep(600); // so the next two clicks are a double click of their own
    input_click(at.x, at.y);
    input_click(at.x, at.y);
    seen = collect();
    bool double_click = false;
    for (const Seen& s : seen)
        double_click = double_click || (s.code == EVENT_CONTROL && s.type == EVENT_TYPE_LEFT_DOUBLE_CLICK);
    EXPECT_TRUE(double_click) << "expected a double-click event from the list box";
}

TEST_F(WindowEvents, NotificationsFromCommonControls)
{
    HWND hwnd = open(0, FRAME);
    HWND updown = control(hwnd, UPDOWN_CLASSA, 0, 71, 300, 10, 30, 60);
    ::SendMessageA(updown, UDM_SETRANGE32, 0, 100);
    ::SendMessageA(updown, UDM_SETPOS32, 0, 50);
    HWND view = control(hwnd, WC_LISTVIEWA, LVS_LIST, 72, 10, 10, 250, 200);
    ASSERT_TRUE(window_foreground(hwnd));
    window_drain();

    // Up arrow: the delta is the event type.
    RECT r;
    ::GetWindowRect(updown, &r);
    input_click((r.left + r.right) / 2, r.top + (r.bottom - r.top) / 4);
    std::vector<Seen> seen = collect();
    const Seen* delta = find_event(seen, EVENT_CONTROL, 71);
    ASSERT_NE(delta, nullptr) << "expected a control event from the up-down control";
    EXPECT_EQ(delta->type, 1);
    EXPECT_EQ(::SendMessageA(updown, UDM_GETPOS32, 0, 0), 51);
    ::GetWindowRect(updown, &r);
    input_click((r.left + r.right) / 2, r.bottom - (r.bottom - r.top) / 4);
    seen = collect();
    delta = find_event(seen, EVENT_CONTROL, 71);
    ASSERT_NE(delta, nullptr);
    EXPECT_EQ(delta->type, -1);

    // Inserting an item notifies without an event; a selection change is one.
    LVITEMA item{};
    item.mask = LVIF_TEXT;
    item.pszText = const_cast<char*>("first");
    ::SendMessageA(view, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
    ::PostMessageA(hwnd, WM_APP, 0, 0);
    EXPECT_EQ(window_event(), static_cast<int32_t>(WM_APP));
    item.stateMask = LVIS_SELECTED;
    item.state = LVIS_SELECTED;
    ::SendMessageA(view, LVM_SETITEMSTATE, 0, reinterpret_cast<LPARAM>(&item));
    ::PostMessageA(hwnd, WM_APP, 0, 0);
    EXPECT_EQ(window_event(), EVENT_CONTROL);
    EXPECT_EQ(window_event_item(), 72);
    EXPECT_EQ(window_event_window(), hwnd);
}

TEST_F(WindowEvents, MalformedNotificationsAreIgnored)
{
    HWND hwnd = open(0, WINDOW_INVISIBLE);
    window_drain();
    ::SendMessageA(hwnd, WM_NOTIFY, 5, 0);
    // A bare header with an up-down code, from a window that is no up-down
    // control, ending where readable memory ends.
    NMHDR header{hwnd, 5, UINT(UDN_DELTAPOS)};
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&header);
    GuardedCopy block(std::vector<uint8_t>(bytes, bytes + sizeof header));
    ::SendMessageA(hwnd, WM_NOTIFY, 5, reinterpret_cast<LPARAM>(block.data()));
    ::PostMessageA(hwnd, WM_APP, 0, 0);
    EXPECT_EQ(window_event(), static_cast<int32_t>(WM_APP)) << "neither is a control event";

    // A sound up-down notification is an event from this thread, and ignored
    // from another: its pointer could as well point into another process.
    HWND updown = control(hwnd, UPDOWN_CLASSA, 0, 71, 0, 0, 20, 20);
    NMUPDOWN change{{updown, 71, UINT(UDN_DELTAPOS)}, 0, 1};
    ::SendMessageA(hwnd, WM_NOTIFY, 71, reinterpret_cast<LPARAM>(&change));
    ::PostMessageA(hwnd, WM_APP, 0, 0);
    EXPECT_EQ(window_event(), EVENT_CONTROL) << "expected the notification from this thread to count";
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        ::SendMessageA(hwnd, WM_NOTIFY, 71, reinterpret_cast<LPARAM>(&change));
        sent = true;
    });
    std::vector<int32_t> codes;
    while (!sent) {
        codes.push_back(window_event()); // takes the sent message in
        ::Sleep(1);
    }
    sender.join();
    ::PostMessageA(hwnd, WM_APP, 0, 0);
    codes.push_back(window_event());
    EXPECT_EQ(std::count(codes.begin(), codes.end(), EVENT_CONTROL), 0)
        << "a notification sent from another thread became a control event";
}

TEST_F(WindowEvents, ScrollBarsReportToTheTopLevelWindow)
{
    HWND top = open(0, FRAME);
    HWND inner = reinterpret_cast<HWND>(window_open_parented(1, 10, 10, 300, 200, WS_CHILD, "inner", top));
    ASSERT_TRUE(::IsWindow(inner));
    HWND bar = control(inner, "SCROLLBAR", SBS_HORZ, 77, 10, 10, 200, 20);
    ::SetScrollRange(bar, SB_CTL, 0, 10, FALSE);
    ASSERT_TRUE(window_foreground(top));
    window_drain();

    RECT r;
    ::GetWindowRect(bar, &r);
    input_click(r.left + 5, (r.top + r.bottom) / 2);
    std::vector<Seen> seen = collect();
    ASSERT_NE(find_event(seen, EVENT_CONTROL, 77), nullptr) << "expected a control event from the scroll bar";

    // The event window is the outermost window of the one the scroll bar told.
    ::SendMessageA(inner, WM_HSCROLL, SB_LINERIGHT, reinterpret_cast<LPARAM>(bar));
    EXPECT_EQ(window_event_window(), top);
    EXPECT_EQ(window_event_item(), 77);
    ::SendMessageA(inner, WM_VSCROLL, SB_LINEDOWN, 0);
    EXPECT_EQ(window_event_item(), 0) << "a window's own scroll bar has no identifier";
    ::PostMessageA(top, WM_APP, 0, 0);
    EXPECT_EQ(window_event(), EVENT_CONTROL);
}

TEST_F(WindowEvents, TrayClicksComeBackThroughTheQueue)
{
    HWND hwnd = open(0, WINDOW_INVISIBLE);
    window_drain();
    ::PostMessageA(hwnd, MSG_TRAY_CALLBACK, 9, WM_RBUTTONUP);
    EXPECT_EQ(window_event(), static_cast<int32_t>(MSG_TRAY_CALLBACK)) << "the callback itself sets no event";
    EXPECT_EQ(window_event(), EVENT_TRAY);
    EXPECT_EQ(window_event_item(), 9);
    EXPECT_EQ(window_event_type(), EVENT_TYPE_RIGHT_CLICK);

    const std::pair<LPARAM, int32_t> clicks[] = {{WM_LBUTTONUP, EVENT_TYPE_LEFT_CLICK},
                                                 {WM_LBUTTONDBLCLK, EVENT_TYPE_LEFT_DOUBLE_CLICK},
                                                 {WM_RBUTTONDBLCLK, EVENT_TYPE_RIGHT_DOUBLE_CLICK}};
    for (const auto& click : clicks) {
        ::PostMessageA(hwnd, MSG_TRAY_EVENT, 3, click.first);
        EXPECT_EQ(window_event(), EVENT_TRAY);
        EXPECT_EQ(window_event_type(), click.second);
    }
    ::PostMessageA(hwnd, MSG_TRAY_EVENT, 3, WM_MOUSEMOVE);
    EXPECT_EQ(window_event(), static_cast<int32_t>(MSG_TRAY_EVENT)) << "a move over the icon is no event";
}

TEST_F(WindowEvents, CallbackCanTakeOverAMessage)
{
    HWND hwnd = open(0, WINDOW_INVISIBLE);
    window_drain();
    window_callback_set([](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        return message == MSG_CONTROL_EVENT ? 0 : CALLBACK_DEFAULT;
    });
    ::PostMessageA(hwnd, MSG_CONTROL_EVENT, 1, 2);
    EXPECT_EQ(window_event(), static_cast<int32_t>(MSG_CONTROL_EVENT)) << "taken by the callback: raw, no event";
    ::PostMessageA(hwnd, MSG_TRAY_EVENT, 4, WM_LBUTTONUP);
    EXPECT_EQ(window_event(), EVENT_TRAY) << "the runtime's handling goes on for the rest";
    window_callback_set(nullptr);
}
