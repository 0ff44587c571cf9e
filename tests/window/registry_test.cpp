// Window table, placement, classes, accelerators and the close order.
#include "core/object_heap.h"
#include "core/runtime.h"
#include "window/window.h"
#include "window_internal.h"
#include "window_harness.h"
#include "debug_lines.h"
#include "table_census.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

static auto* const environment = window_test_environment();

namespace {

class WindowRegistry : public ::testing::Test {
protected:
    // Every test starts from a fresh table.
    void SetUp() override
    {
        windows_close_all();
        windows_init();
    }
    void TearDown() override
    {
        window_callback_set(nullptr);
        windows_close_all();
        window_drain(5, 200);
    }
};

std::string class_of(HWND hwnd)
{
    char name[64] = {};
    ::GetClassNameA(hwnd, name, sizeof name);
    return name;
}

std::string title_of(HWND hwnd)
{
    char text[128] = {};
    ::GetWindowTextA(hwnd, text, sizeof text);
    return text;
}

bool class_registered(const char* name)
{
    WNDCLASSA info;
    return ::GetClassInfoA(runtime_instance(), name, &info) != FALSE;
}

HWND as_hwnd(intptr_t value)
{
    return reinterpret_cast<HWND>(value);
}

} // namespace

TEST(WindowPlacement, ShiftsEachHalfSeparately)
{
    // 683 - 503 = 180, where halving the difference would give 179.
    POINT at = window_centre_on_screen(1007, 625, 1366, 768);
    EXPECT_EQ(at.x, 180);
    EXPECT_EQ(at.y, 384 - 312);
    // Larger than the screen: the window's own size is clamped, so it starts at 0.
    at = window_centre_on_screen(2000, 900, 1366, 768);
    EXPECT_EQ(at.x, 0);
    EXPECT_EQ(at.y, 0);

    RECT active{100, 50, 401, 251}; // 301 x 201
    at = window_centre_on_rect(101, 51, active);
    EXPECT_EQ(at.x, 100 - 50 + 150);
    EXPECT_EQ(at.y, 50 - 25 + 100);
    RECT off_screen{-400, -300, -100, -100};
    at = window_centre_on_rect(500, 400, off_screen);
    EXPECT_EQ(at.x, 0) << "a negative x is raised to 0";
    EXPECT_EQ(at.y, 0) << "a negative y is raised to 0";
    RECT right_edge{1300, 700, 1400, 800};
    at = window_centre_on_rect(50, 50, right_edge);
    EXPECT_EQ(at.x, 1325) << "no limit at the right edge";
    EXPECT_EQ(at.y, 725) << "no limit at the bottom edge";
}

TEST(WindowPlacement, FlagsDecodeIntoStyleAndMode)
{
    WindowStyle s = window_style_decode(0x00C80001);
    EXPECT_EQ(s.style, 0x10C80000u);
    EXPECT_EQ(s.placement, Placement::centre_screen);
    EXPECT_FALSE(s.maximise);

    s = window_style_decode(0);
    EXPECT_EQ(s.style, static_cast<DWORD>(WS_VISIBLE | WS_CAPTION));
    EXPECT_EQ(s.placement, Placement::none);

    s = window_style_decode(WINDOW_INVISIBLE);
    EXPECT_EQ(s.style, static_cast<DWORD>(WS_CAPTION)) << "hidden, with a caption";

    s = window_style_decode(WINDOW_CENTRE_SCREEN | WINDOW_CENTRE_ACTIVE);
    EXPECT_EQ(s.placement, Placement::centre_active) << "centring on the active window wins";
    EXPECT_EQ(s.style, static_cast<DWORD>(WS_VISIBLE | WS_CAPTION));

    s = window_style_decode(WINDOW_INVISIBLE | WS_MAXIMIZE);
    EXPECT_FALSE(s.maximise) << "an invisible window is never maximised";
    s = window_style_decode(WS_MAXIMIZE | WS_CAPTION);
    EXPECT_TRUE(s.maximise);
    EXPECT_TRUE(s.style & WS_MAXIMIZE);
}

TEST(WindowPlacement, ClassNamesAreSignedDecimal)
{
    char name[CLASS_NAME_BYTES];
    window_class_format(name, sizeof name, 0);
    EXPECT_STREQ(name, "WindowClass_0");
    window_class_format(name, sizeof name, 4021);
    EXPECT_STREQ(name, "WindowClass_4021");
    window_class_format(name, sizeof name, -2147483647 - 1);
    EXPECT_STREQ(name, "WindowClass_-2147483648");
    window_class_format(name, 8, 12345);
    EXPECT_STREQ(name, "WindowC") << "cut short, never overrun";
}

TEST_F(WindowRegistry, ApplicationWindowIsCentredWithExactClientArea)
{
    intptr_t result = window_open(0, 0, 0, 1000, 600, 0xC80001, " Sondrel by Tavik");
    HWND hwnd = as_hwnd(result);
    ASSERT_TRUE(::IsWindow(hwnd)) << "expected window_open to return the new handle";
    EXPECT_EQ(window_current(), hwnd);

    RECT client;
    ::GetClientRect(hwnd, &client);
    EXPECT_EQ(client.right, 1000);
    EXPECT_EQ(client.bottom, 600);
    // The system adds WS_CLIPSIBLINGS to an overlapped window.
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongA(hwnd, GWL_STYLE)) & ~WS_CLIPSIBLINGS, 0x10C80000u);
    EXPECT_EQ(class_of(hwnd), "WindowClass_0");
    EXPECT_EQ(title_of(hwnd), " Sondrel by Tavik");
    EXPECT_TRUE(::IsWindowVisible(hwnd));

    RECT outer{0, 0, 1000, 600};
    ::AdjustWindowRect(&outer, 0x10C80000, FALSE);
    const int w = outer.right - outer.left, h = outer.bottom - outer.top;
    RECT r;
    ::GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.right - r.left, w);
    EXPECT_EQ(r.bottom - r.top, h);
    EXPECT_EQ(r.left, 683 - (w >> 1)) << "outer width " << w;
    EXPECT_EQ(r.top, 384 - (h >> 1)) << "outer height " << h;
    if (w == 1006 && h == 625) {
        EXPECT_EQ(r.left, 180);
        EXPECT_EQ(r.top, 72);
    }

    WindowRecord* record = window_find(0);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(record->handle, hwnd);
    ASSERT_EQ(record->accelerator_count, 2);
    ACCEL copied[4] = {};
    ASSERT_EQ(::CopyAcceleratorTableA(record->accelerator_table, copied, 4), 2);
    EXPECT_EQ(copied[0].fVirt & ~0x80, FVIRTKEY | FNOINVERT);
    EXPECT_EQ(copied[0].key, VK_TAB);
    EXPECT_EQ(copied[0].cmd, 1212);
    EXPECT_EQ(copied[1].fVirt & ~0x80, FVIRTKEY | FNOINVERT | FSHIFT);
    EXPECT_EQ(copied[1].key, VK_TAB);
    EXPECT_EQ(copied[1].cmd, 1213);
    EXPECT_TRUE(class_registered("TemplateClass")) << "the template class stays registered";
}

TEST_F(WindowRegistry, OtherFlagsPlaceAndShowAsDecoded)
{
    // No placement bit: exactly at x, y, with a caption added.
    HWND plain = as_hwnd(window_open(1, 37, 41, 200, 100, 0, "plain"));
    ASSERT_TRUE(::IsWindow(plain));
    RECT r;
    ::GetWindowRect(plain, &r);
    EXPECT_EQ(r.left, 37);
    EXPECT_EQ(r.top, 41);
    EXPECT_TRUE(::GetWindowLongA(plain, GWL_STYLE) & WS_CAPTION);
    RECT client;
    ::GetClientRect(plain, &client);
    EXPECT_EQ(client.right, 200);
    EXPECT_EQ(client.bottom, 100);

    // Invisible with a maximise bit: stays hidden, so it was not shown maximised.
    HWND hidden = as_hwnd(window_open(2, 10, 10, 200, 100, WINDOW_INVISIBLE | WS_MAXIMIZE | WS_CAPTION, "hidden"));
    ASSERT_TRUE(::IsWindow(hidden));
    EXPECT_FALSE(::IsWindowVisible(hidden));
    EXPECT_EQ(window_current(), hidden);

    HWND maximised = as_hwnd(window_open(3, 10, 10, 200, 100, WS_MAXIMIZE | WS_CAPTION | WS_SYSMENU, "max"));
    ASSERT_TRUE(::IsWindow(maximised));
    EXPECT_TRUE(::IsWindowVisible(maximised));
    EXPECT_TRUE(::IsZoomed(maximised));
    window_close(3);

    // Centring on the active window: odd sizes show the separate shifts.
    HWND anchor = as_hwnd(window_open(4, 101, 77, 301, 201, WS_POPUP | WS_BORDER, "anchor"));
    ASSERT_TRUE(window_foreground(anchor));
    RECT a;
    ::GetWindowRect(anchor, &a);
    HWND centred = as_hwnd(window_open(5, 0, 0, 101, 51, WINDOW_CENTRE_ACTIVE | WS_POPUP, "centred"));
    ASSERT_TRUE(::IsWindow(centred));
    ::GetWindowRect(centred, &r);
    EXPECT_EQ(r.left, a.left - (101 >> 1) + ((a.right - a.left) >> 1));
    EXPECT_EQ(r.top, a.top - (51 >> 1) + ((a.bottom - a.top) >> 1));

    // An active window partly off the top-left: negative positions become 0.
    HWND off = as_hwnd(window_open(6, -300, -250, 400, 300, WS_POPUP, "off"));
    ASSERT_TRUE(window_foreground(off));
    HWND raised = as_hwnd(window_open(7, 500, 500, 500, 400, WINDOW_CENTRE_ACTIVE | WS_POPUP, "raised"));
    ::GetWindowRect(raised, &r);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
}

TEST_F(WindowRegistry, CentreOnActiveWithoutActiveWindowCentresOnScreen)
{
    window_drain(5, 200);
    ASSERT_EQ(::GetActiveWindow(), nullptr) << "no window of this thread should be active";
    HWND hwnd = as_hwnd(window_open(0, 5, 5, 301, 201, WINDOW_CENTRE_ACTIVE | WS_POPUP, "screen"));
    ASSERT_TRUE(::IsWindow(hwnd));
    RECT r;
    ::GetWindowRect(hwnd, &r);
    EXPECT_EQ(r.left, 683 - 150);
    EXPECT_EQ(r.top, 384 - 100);
}

TEST_F(WindowRegistry, TableGrowsAndKeepsOpenWindows)
{
    HWND three = as_hwnd(window_open(3, 0, 0, 50, 50, WINDOW_INVISIBLE, "three"));
    HWND nine = as_hwnd(window_open(9, 0, 0, 50, 50, WINDOW_INVISIBLE, "nine"));

    HWND fifteen = as_hwnd(window_open(15, 0, 0, 50, 50, WINDOW_INVISIBLE, "fifteen"));
    ASSERT_TRUE(::IsWindow(fifteen));
    ASSERT_NE(window_find(3), nullptr);
    EXPECT_EQ(window_find(3)->handle, three);
    EXPECT_EQ(window_find(9)->handle, nine);
    EXPECT_EQ(window_find(15)->handle, fifteen);
    EXPECT_EQ(window_find(4), nullptr);
    EXPECT_EQ(class_of(fifteen), "WindowClass_15");

    // Closing shuts down the number and leaves the capacity as it is.
    window_close(15);
    EXPECT_FALSE(::IsWindow(fifteen));
    EXPECT_EQ(window_find(15), nullptr);
    EXPECT_FALSE(class_registered("WindowClass_15"));
}

TEST_F(WindowRegistry, NumberAtCapacityAlsoGrows)
{
    HWND ten = as_hwnd(window_open(10, 0, 0, 50, 50, WINDOW_INVISIBLE, "ten"));
    ASSERT_TRUE(::IsWindow(ten));
    EXPECT_EQ(window_find(10)->handle, ten);
}

TEST_F(WindowRegistry, ReopeningReplacesTheWindowAndItsClass)
{
    HWND first = as_hwnd(window_open(0, 0, 0, 100, 100, WINDOW_INVISIBLE, "first"));
    ASSERT_TRUE(::IsWindow(first));
    WindowRecord* record = window_find(0);
    ACCEL* first_entries = record->accelerators;
    ASSERT_NE(first_entries, nullptr);

    // Watch the old window go before the new one arrives.
    static std::vector<std::pair<UINT, HWND>> seen;
    seen.clear();
    window_callback_set([](HWND hwnd, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_DESTROY || message == WM_NCCREATE) seen.emplace_back(message, hwnd);
        return CALLBACK_DEFAULT;
    });
    HWND second = as_hwnd(window_open(0, 0, 0, 120, 80, WINDOW_INVISIBLE, "second"));
    window_callback_set(nullptr);
    ASSERT_TRUE(::IsWindow(second));
    EXPECT_FALSE(::IsWindow(first)) << "the first window is destroyed";
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].first, static_cast<UINT>(WM_DESTROY));
    EXPECT_EQ(seen[0].second, first);
    EXPECT_EQ(seen[1].first, static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(class_of(second), "WindowClass_0");
    EXPECT_EQ(title_of(second), "second");
    EXPECT_EQ(window_find(0)->handle, second);
    EXPECT_EQ(window_find(0)->accelerator_count, 2);
    EXPECT_NE(window_find(0)->accelerator_table, nullptr);

    window_close(0);
    EXPECT_FALSE(class_registered("WindowClass_0")) << "closing unregisters the window's class";
    EXPECT_EQ(window_find(0), nullptr);
    window_close(0); // already closed: nothing happens
    window_close(7); // never opened
    EXPECT_EQ(window_find(7), nullptr);
}

TEST_F(WindowRegistry, DynamicWindowsAreKnownByTheirRecordAddress)
{
    intptr_t id = window_open(-1, 0, 0, 80, 60, WINDOW_INVISIBLE, "dynamic");
    ASSERT_NE(id, 0);
    WindowRecord* record = window_find(id);
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(reinterpret_cast<intptr_t>(record), id);
    EXPECT_EQ(table_dynamic_records(&window_runtime().windows), 1);
    HWND hwnd = record->handle;
    EXPECT_EQ(window_current(), hwnd);
    EXPECT_EQ(class_of(hwnd), "WindowClass_" + std::to_string(static_cast<long long>(id)));
    EXPECT_EQ(record->accelerator_count, 2);

    const std::string name = class_of(hwnd);
    window_close(id);
    EXPECT_FALSE(::IsWindow(hwnd));
    EXPECT_FALSE(class_registered(name.c_str()));
    EXPECT_EQ(table_dynamic_records(&window_runtime().windows), 0) << "the record is freed";
    EXPECT_EQ(window_find(id), nullptr) << "a closed dynamic identifier is no longer a window";
    window_close(id); // and closing it again does nothing
    EXPECT_EQ(window_current(), nullptr) << "a closed window is no longer current: its handle may be reused";
}

TEST_F(WindowRegistry, UnknownNumbersAreRefusedOrIgnored)
{
    HWND keep = as_hwnd(window_open(0, 0, 0, 50, 50, WINDOW_INVISIBLE, "keep"));
    EXPECT_EQ(window_open(-2, 0, 0, 50, 50, WINDOW_INVISIBLE, "negative"), 0);
    EXPECT_EQ(window_open(INTPTR_MIN, 0, 0, 50, 50, WINDOW_INVISIBLE, "negative"), 0);
    EXPECT_FALSE(class_registered("WindowClass_-2"));
    EXPECT_EQ(window_current(), keep);

    // Values beyond the table that are no live dynamic identifier.
    int on_stack = 0;
    const intptr_t bogus[] = {-2, 11, 12345678, reinterpret_cast<intptr_t>(&on_stack),
                              reinterpret_cast<intptr_t>(window_find(0) + 3)};
    for (intptr_t number : bogus) {
        EXPECT_EQ(window_find(number), nullptr) << number;
        EXPECT_EQ(window_accelerators_create(number), nullptr) << number;
        window_close(number);
    }
    EXPECT_EQ(window_find(0)->handle, keep);
    EXPECT_TRUE(::IsWindow(keep));
}

TEST_F(WindowRegistry, NumbersPastTheLimitAreRefusedAndHarmNoWindow)
{
    HWND last = as_hwnd(window_open(0xFFFE, 0, 0, 50, 50, WINDOW_INVISIBLE, "last"));
    ASSERT_TRUE(::IsWindow(last)) << "expected the highest number to open";
    window_close(0xFFFE);
    HWND keep = as_hwnd(window_open(0, 0, 0, 50, 50, WINDOW_INVISIBLE, "keep"));
    // 0x10000000 records of 16 bytes would wrap a 32-bit size to a 512-byte table.
    for (intptr_t number : {intptr_t{0xFFFF}, intptr_t{0x0FFFFFE0}, intptr_t{0x10000000}, intptr_t{INT32_MAX}}) {
        EXPECT_EQ(window_open(number, 0, 0, 50, 50, WINDOW_INVISIBLE, "far"), 0)
            << "expected number " << number << " refused";
        EXPECT_TRUE(::IsWindow(keep)) << "opening number " << number << " closed window 0";
        ASSERT_NE(window_find(0), nullptr);
        EXPECT_EQ(window_find(0)->handle, keep);
    }
    EXPECT_EQ(window_current(), keep) << "a refused open changed the current window";

    // A dynamic identifier is no number: it finds the dynamic window, never a table record.
    intptr_t id = window_open(-1, 0, 0, 50, 50, WINDOW_INVISIBLE, "dynamic");
    ASSERT_NE(id, 0);
    HWND dynamic = window_find(id)->handle;
    EXPECT_EQ(window_open(id, 0, 0, 50, 50, WINDOW_INVISIBLE, "fixed"), 0) << "expected the identifier refused";
    ASSERT_NE(window_find(id), nullptr) << "the dynamic window is lost";
    EXPECT_EQ(reinterpret_cast<intptr_t>(window_find(id)), id);
    EXPECT_EQ(window_find(id)->handle, dynamic);
    window_close(id);
    EXPECT_FALSE(::IsWindow(dynamic)) << "closing the identifier did not close the dynamic window";
}

TEST_F(WindowRegistry, FailedCreationLeavesNoClassOrRecord)
{
    HWND keep = as_hwnd(window_open(0, 0, 0, 50, 50, WINDOW_INVISIBLE, "keep"));
    // A child window needs a real parent: the system refuses this one.
    HWND no_parent = reinterpret_cast<HWND>(static_cast<intptr_t>(0x7ffe1234));
    DebugLines debug;
    EXPECT_EQ(window_open_parented(5, 0, 0, 50, 50, WS_CHILD, "child", no_parent), 0);
    EXPECT_TRUE(debug.contains("sondrel: the platform made no window \"child\" (error 1400)\n")) << debug.all();
    EXPECT_EQ(window_find(5), nullptr);
    EXPECT_FALSE(class_registered("WindowClass_5"));
    EXPECT_EQ(window_open_parented(-1, 0, 0, 50, 50, WS_CHILD, "child", no_parent), 0);
    EXPECT_EQ(table_dynamic_records(&window_runtime().windows), 0) << "the dynamic record is released";
    EXPECT_EQ(window_current(), keep) << "a failed open leaves the current window";

    // Without an object heap no dynamic record can be made.
    object_heap_destroy();
    EXPECT_EQ(window_open(-1, 0, 0, 50, 50, WINDOW_INVISIBLE, "no heap"), 0);
    EXPECT_TRUE(debug.contains("sondrel: window -1 refused: no such number, or no room for it\n")) << debug.all();
    ASSERT_TRUE(object_heap_create());
    EXPECT_EQ(table_dynamic_records(&window_runtime().windows), 0);
    EXPECT_EQ(window_current(), keep);
}

TEST_F(WindowRegistry, ChildWindowsOpenInsideTheirParent)
{
    HWND parent = as_hwnd(window_open(0, 100, 100, 300, 200, WS_POPUP, "parent"));
    HWND child = as_hwnd(window_open_parented(1, 20, 30, 50, 40, WS_CHILD, "child", parent));
    ASSERT_TRUE(::IsWindow(child));
    EXPECT_EQ(::GetParent(child), parent);
    RECT r;
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 20);
    EXPECT_EQ(r.top, 30);
    EXPECT_TRUE(::IsWindowVisible(child));

    // The system takes children with their parent; their numbers must not
    // keep handles it may give to some other window later.
    intptr_t dynamic = window_open_parented(-1, 0, 0, 20, 20, WS_CHILD, "dynamic child", parent);
    ASSERT_NE(window_find(dynamic), nullptr);
    window_close(0);
    EXPECT_FALSE(::IsWindow(child));
    EXPECT_EQ(window_find(1), nullptr) << "the child's number is free once its window is gone";
    EXPECT_EQ(window_find(dynamic), nullptr);
    EXPECT_EQ(table_dynamic_records(&window_runtime().windows), 0) << "the dynamic child's record is released";
    EXPECT_EQ(window_current(), nullptr) << "the child went with its parent: it is no longer current";
    HWND again = as_hwnd(window_open(1, 0, 0, 50, 50, WINDOW_INVISIBLE, "again"));
    EXPECT_TRUE(::IsWindow(again));
    EXPECT_EQ(class_of(again), "WindowClass_1");
}

TEST_F(WindowRegistry, ExtremeSizesDoNotWrapAround)
{
    // The outer size is the client size plus the frame; it must not wrap to a
    // negative size that centring would throw far off the screen.
    HWND huge = as_hwnd(window_open(0, 0, 0, INT32_MAX, INT32_MAX, WINDOW_CENTRE_SCREEN | WINDOW_INVISIBLE, "huge"));
    ASSERT_TRUE(::IsWindow(huge));
    RECT r;
    ::GetWindowRect(huge, &r);
    EXPECT_EQ(r.left, 0) << "wider than the screen: centred at its left edge";
    EXPECT_EQ(r.top, 0);
    EXPECT_GT(r.right - r.left, 0);
}

TEST_F(WindowRegistry, CloseAllTakesDynamicWindowsFirstThenNumbersDownward)
{
    HWND n2 = as_hwnd(window_open(2, 0, 0, 40, 40, WINDOW_INVISIBLE, "2"));
    intptr_t d1 = window_open(-1, 0, 0, 40, 40, WINDOW_INVISIBLE, "d1");
    HWND n0 = as_hwnd(window_open(0, 0, 0, 40, 40, WINDOW_INVISIBLE, "0"));
    intptr_t d2 = window_open(-1, 0, 0, 40, 40, WINDOW_INVISIBLE, "d2");
    HWND n7 = as_hwnd(window_open(7, 0, 0, 40, 40, WINDOW_INVISIBLE, "7"));
    HWND h1 = window_find(d1)->handle, h2 = window_find(d2)->handle;

    static std::vector<HWND> destroyed;
    destroyed.clear();
    window_callback_set([](HWND hwnd, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_DESTROY) destroyed.push_back(hwnd);
        return CALLBACK_DEFAULT;
    });
    windows_close_all();
    window_callback_set(nullptr);
    const std::vector<HWND> expected{h2, h1, n7, n2, n0};
    EXPECT_EQ(destroyed, expected) << "newest dynamic window first, then numbers from the top";
    EXPECT_EQ(table_dynamic_records(&window_runtime().windows), 0);
    EXPECT_FALSE(class_registered("WindowClass_7"));
}
