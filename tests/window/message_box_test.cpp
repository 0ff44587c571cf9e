// The modal message box: its owner, the windows it disables and restores, and
// dismissal by a helper thread pressing OK as a user would.
#include "window/message_box.h"
#include "window/window.h"
#include "window_internal.h"
#include "app_process.h"
#include "window_harness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

// Before the test environment, so the child never starts the runtime.
[[maybe_unused]] static const bool is_child = foreground_child_requested();
static auto* const environment = window_test_environment();

namespace {

// What a helper thread saw while the box was up.
struct BoxSighting {
    bool found = false;
    std::string title;
    std::vector<std::string> texts;
    HWND owner = nullptr;
    std::vector<bool> enabled; // of the watched windows, in order
    bool ok_pressed = false;
};

BOOL CALLBACK collect_text(HWND child, LPARAM data)
{
    char text[256] = {};
    ::GetWindowTextA(child, text, sizeof text);
    reinterpret_cast<std::vector<std::string>*>(data)->push_back(text);
    return TRUE;
}

// Waits for the box titled `title` on another thread, notes what it sees, then
// presses OK.
std::thread dismiss_box(const char* title, std::vector<HWND> watched, BoxSighting* seen)
{
    return std::thread([title, watched, seen] {
        HWND dialog = nullptr;
        for (int i = 0; i < 500 && !dialog; ++i) {
            dialog = ::FindWindowA("#32770", title);
            if (!dialog || !::IsWindowVisible(dialog)) {
                dialog = nullptr;
                ::Sleep(10);
            }
        }
        if (!dialog) return;
        seen->found = true;
        char text[256] = {};
        ::GetWindowTextA(dialog, text, sizeof text);
        seen->title = text;
        ::EnumChildWindows(dialog, collect_text, reinterpret_cast<LPARAM>(&seen->texts));
        seen->owner = ::GetWindow(dialog, GW_OWNER);
        for (HWND w : watched) seen->enabled.push_back(::IsWindowEnabled(w) != FALSE);
        HWND ok = ::GetDlgItem(dialog, IDOK);
        seen->ok_pressed = ok && ::PostMessageA(ok, BM_CLICK, 0, 0);
        if (!seen->ok_pressed) ::PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    });
}

bool has_text(const BoxSighting& seen, const char* text)
{
    for (const std::string& t : seen.texts)
        if (t == text) return true;
    return false;
}

class MessageBoxTest : public FreshWindowsTest {
protected:
    static HWND open(WindowId number, uint32_t flags, int32_t x)
    {
        return reinterpret_cast<HWND>(window_open(number, x, 100, 200, 150, flags, "box test"));
    }
};

} // namespace

TEST_F(MessageBoxTest, OurForegroundWindowOwnsTheBoxAndTheOthersWait)
{
    HWND front = open(0, WS_CAPTION | WS_SYSMENU, 50);
    HWND other = open(1, WS_CAPTION, 300);
    HWND disabled = open(2, WS_CAPTION | WS_DISABLED, 550);
    HWND hidden = open(3, WINDOW_INVISIBLE, 800);
    ASSERT_TRUE(window_foreground(front));
    ASSERT_TRUE(::IsWindowVisible(other));
    ASSERT_FALSE(::IsWindowEnabled(disabled));

    BoxSighting seen;
    std::thread helper = dismiss_box("ov:Lib", {front, other, disabled, hidden}, &seen);
    int32_t result = message_box("ov:Lib", "Couldn't open Vantrel.ogg");
    helper.join();

    ASSERT_TRUE(seen.found) << "expected the box to be shown";
    EXPECT_EQ(result, IDOK) << "pressing OK";
    EXPECT_TRUE(seen.ok_pressed);
    EXPECT_EQ(seen.title, "ov:Lib");
    EXPECT_TRUE(has_text(seen, "Couldn't open Vantrel.ogg"));
    EXPECT_EQ(seen.owner, front) << "our foreground window owns the box";
    ASSERT_EQ(seen.enabled.size(), 4u);
    EXPECT_FALSE(seen.enabled[0]) << "the owner waits on its box";
    EXPECT_FALSE(seen.enabled[1]) << "another window of the thread is disabled while the box is up";
    EXPECT_FALSE(seen.enabled[2]);
    EXPECT_TRUE(seen.enabled[3]) << "a hidden window is not touched";

    EXPECT_TRUE(::IsWindowEnabled(front)) << "the owner is enabled again";
    EXPECT_TRUE(::IsWindowEnabled(other)) << "and so is the window the box disabled";
    EXPECT_FALSE(::IsWindowEnabled(disabled)) << "a window disabled before stays disabled";
    EXPECT_TRUE(::IsWindowEnabled(hidden));
    EXPECT_FALSE(::IsWindowVisible(hidden));
}

TEST_F(MessageBoxTest, AnotherProgramInTheForegroundLeavesTheBoxWithoutOwner)
{
    HWND first = open(0, WS_CAPTION, 50);
    HWND second = open(1, WS_CAPTION, 300);

    Child child = start_child(test_program_path(), "", {}, FOREGROUND_CHILD_ARG);
    ASSERT_TRUE(child.started);
    HWND foreign = nullptr;
    ASSERT_TRUE(window_pump_until(
        [&] {
            foreign = ::FindWindowA("STATIC", FOREGROUND_CHILD_TITLE);
            if (foreign && ::GetForegroundWindow() != foreign) ::SetForegroundWindow(foreign);
            return foreign && ::GetForegroundWindow() == foreign;
        },
        10000))
        << "expected the other program's window in the foreground";

    BoxSighting seen;
    std::thread helper = dismiss_box("no owner", {first, second}, &seen);
    int32_t result = message_box("no owner", "body");
    helper.join();

    ::PostMessageA(foreign, WM_CLOSE, 0, 0);
    if (wait_child(child, 10000) == -1) kill_child(child);

    ASSERT_TRUE(seen.found);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(seen.owner, nullptr) << "a window of another process never owns the box";
    ASSERT_EQ(seen.enabled.size(), 2u);
    EXPECT_FALSE(seen.enabled[0]) << "every visible window of the thread waits";
    EXPECT_FALSE(seen.enabled[1]);
    EXPECT_TRUE(::IsWindowEnabled(first));
    EXPECT_TRUE(::IsWindowEnabled(second));
}

TEST_F(MessageBoxTest, EachThreadRestoresOnlyWhatItsOwnBoxDisabled)
{
    HWND ours = open(0, WS_CAPTION, 50);
    ASSERT_TRUE(window_foreground(ours));

    HWND theirs = nullptr;
    HANDLE disabled_event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE restore_event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool enabled_after_own_restore = false;
    std::thread other([&] {
        HWND w = ::CreateWindowExA(0, "STATIC", "other thread", WS_POPUP | WS_BORDER, 400, 400, 100, 50, nullptr,
                                   nullptr, nullptr, nullptr);
        ::ShowWindow(w, SW_SHOWNA);
        theirs = w;
        const size_t disabled = modal_disable_windows();
        ::SetEvent(disabled_event);
        ::WaitForSingleObject(restore_event, 10000);
        modal_restore_windows(disabled);
        enabled_after_own_restore = ::IsWindowEnabled(w) != FALSE;
        ::DestroyWindow(w);
    });
    ASSERT_EQ(::WaitForSingleObject(disabled_event, 10000), WAIT_OBJECT_0);
    EXPECT_FALSE(::IsWindowEnabled(theirs)) << "the other thread's box disabled its own window";
    EXPECT_TRUE(::IsWindowEnabled(ours)) << "and left this thread's windows alone";

    modal_restore_windows(SIZE_MAX);
    EXPECT_FALSE(::IsWindowEnabled(theirs)) << "this thread's restore leaves the other thread's record alone";
    ::SetEvent(restore_event);
    other.join();
    EXPECT_TRUE(enabled_after_own_restore) << "the record was still there for its own thread";
    ::CloseHandle(disabled_event);
    ::CloseHandle(restore_event);
}

TEST_F(MessageBoxTest, AWindowDestroyedWhileTheBoxIsUpIsForgotten)
{
    HWND front = open(0, WS_CAPTION, 50);
    HWND doomed = open(1, WS_CAPTION, 300);
    ASSERT_TRUE(window_foreground(front));
    // The box's own message loop dispatches this, destroying the disabled window.
    window_callback_set([](HWND hwnd, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_APP) {
            ::DestroyWindow(hwnd);
            return 0;
        }
        return CALLBACK_DEFAULT;
    });
    ::PostMessageA(doomed, WM_APP, 0, 0);
    BoxSighting seen;
    std::thread helper = dismiss_box("doomed", {}, &seen);
    EXPECT_EQ(message_box("doomed", "body"), IDOK);
    helper.join();
    window_callback_set(nullptr);
    EXPECT_FALSE(::IsWindow(doomed));

    // Nothing of it is left over: the next box restores only its own windows.
    HWND later = open(2, WS_CAPTION, 550);
    ASSERT_TRUE(window_foreground(front));
    seen = BoxSighting{};
    std::thread again = dismiss_box("again", {later}, &seen);
    EXPECT_EQ(message_box("again", "body"), IDOK);
    again.join();
    EXPECT_TRUE(::IsWindowEnabled(later));
    EXPECT_TRUE(::IsWindowEnabled(front));
}

TEST_F(MessageBoxTest, ABoxShownWhileAnotherIsUpLeavesTheOuterBoxsWindowsDisabled)
{
    HWND front = open(0, WS_CAPTION, 50);
    HWND other = open(1, WS_CAPTION, 300);
    ASSERT_TRUE(window_foreground(front));
    // The outer box's own message loop dispatches this, and the inner box is
    // shown from inside it.
    static HWND watched;
    static bool enabled_after_inner;
    watched = other;
    enabled_after_inner = true;
    window_callback_set([](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message != WM_APP) return CALLBACK_DEFAULT;
        message_box("inner", "body");
        enabled_after_inner = ::IsWindowEnabled(watched) != FALSE;
        return 0;
    });
    ::PostMessageA(other, WM_APP, 0, 0);
    BoxSighting inner, outer;
    std::thread helper([&] {
        dismiss_box("inner", {}, &inner).join();
        dismiss_box("outer", {}, &outer).join();
    });
    EXPECT_EQ(message_box("outer", "body"), IDOK);
    helper.join();
    window_callback_set(nullptr);

    ASSERT_TRUE(inner.found) << "expected the inner box to be shown";
    ASSERT_TRUE(outer.found);
    EXPECT_FALSE(enabled_after_inner) << "the inner box re-enabled a window the outer box still holds disabled";
    EXPECT_TRUE(::IsWindowEnabled(other)) << "the outer box enables it again";
    EXPECT_TRUE(::IsWindowEnabled(front));
}
