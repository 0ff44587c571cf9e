// Loading DirectInput and DirectDraw, their failures and the program end.
// Every Scenario needs a process of its own, often with a DLL switched off
// through WINEDLLOVERRIDES, which Wine reads only from the environment it
// starts with: each runs from its own ctest entry (see CMakeLists.txt), and
// the normal run skips them.
#include <gtest/gtest.h>

#include "service_start.h"
#include "multimedia_internal.h"
#include "media_child.h"
#include "debug_lines.h"

namespace {

bool ddraw_loaded()
{
    return ::GetModuleHandleA("ddraw.dll") != nullptr;
}

void start_runtime()
{
    ASSERT_TRUE(services_start<START_CORE>());
}

bool dll_switched_off(const char* name)
{
    HMODULE library = ::LoadLibraryA(name);
    if (library) ::FreeLibrary(library);
    return library == nullptr;
}

TEST(DISABLED_Scenario, WithoutDirectInput)
{
    ASSERT_TRUE(dll_switched_off("DINPUT.DLL")) << "run with WINEDLLOVERRIDES=dinput=d";
    start_runtime();
    ASSERT_FALSE(ddraw_loaded());
    int cursor = media_cursor_count();

    DebugLines debug;
    EXPECT_EQ(multimedia_init(), nullptr);
    EXPECT_TRUE(debug.contains("\\DINPUT.DLL (error ")) << debug.all();
    EXPECT_TRUE(debug.contains("sondrel: multimedia base off: no keyboard through DirectInput\n")) << debug.all();
    HWND base = multimedia().display_window;
    EXPECT_EQ(multimedia().base_window_created, 1);
    ASSERT_TRUE(::IsWindow(base));
    EXPECT_EQ(multimedia().directinput, nullptr);
    EXPECT_EQ(multimedia().directinput_users, 1);
    EXPECT_EQ(multimedia().keyboard, nullptr);
    EXPECT_EQ(multimedia().keyboard_state, 0);
    EXPECT_FALSE(multimedia().initialised);
    EXPECT_EQ(multimedia().directdraw_users, 0) << "DirectDraw was tried after the keyboard failed";
    EXPECT_FALSE(ddraw_loaded());

    // Shown on purpose, so that a hide would be seen.
    ::ShowWindow(base, SW_SHOWNA);
    multimedia_shutdown();
    EXPECT_EQ(media_cursor_count(), cursor) << "an uninitialised shutdown showed the cursor";
    EXPECT_TRUE(::IsWindowVisible(base)) << "an uninitialised shutdown hid the base window";
    EXPECT_EQ(multimedia().display_window, base);
    EXPECT_EQ(multimedia().directdraw_users, 0);
}

TEST(DISABLED_Scenario, WithoutDirectDraw)
{
    ASSERT_TRUE(dll_switched_off("DDRAW.DLL")) << "run with WINEDLLOVERRIDES=ddraw=d";
    start_runtime();
    ASSERT_FALSE(ddraw_loaded());

    DebugLines debug;
    EXPECT_EQ(multimedia_init(), nullptr);
    EXPECT_TRUE(debug.contains("\\DDRAW.DLL (error ")) << debug.all();
    EXPECT_TRUE(debug.contains("sondrel: multimedia base off: DirectDraw not loaded\n")) << debug.all();
    HWND base = multimedia().display_window;
    ASSERT_TRUE(::IsWindow(base));
    EXPECT_NE(multimedia().keyboard, nullptr);
    EXPECT_EQ(multimedia().keyboard_state, 1);
    EXPECT_TRUE(multimedia().initialised);
    EXPECT_EQ(multimedia().directdraw, nullptr);
    EXPECT_EQ(multimedia().directdraw_users, 1);
    EXPECT_EQ(multimedia().directdraw_library, nullptr);
    EXPECT_EQ(multimedia().recorded_base_window, nullptr);
    EXPECT_FALSE(ddraw_loaded());

    ::ShowWindow(base, SW_SHOWNA);
    int cursor = media_cursor_count();
    multimedia_shutdown();
    EXPECT_EQ(media_cursor_count(), cursor + 1) << "expected the cursor shown once";
    EXPECT_TRUE(::IsWindowVisible(base)) << "no base window was recorded, yet a window was hidden";
    EXPECT_EQ(multimedia().directdraw_users, 0);
    EXPECT_EQ(multimedia().keyboard, nullptr) << "the keyboard device was kept";
}

TEST(DISABLED_Scenario, StartUpAndProgramEnd)
{
    start_runtime();
    DisplayObject* table = multimedia_init();
    ASSERT_NE(table, nullptr);
    HWND base = multimedia().display_window;
    ASSERT_TRUE(ddraw_loaded());
    void* block = ::HeapAlloc(main_heap(), 0, 16);
    table[3] = DisplayObject{block, 0, OBJECT_KIND_MEMORY, 0, nullptr, 0};

    // Shown on purpose, so that the hide is seen (and a paint has something
    // to validate).
    ::SetWindowPos(base, nullptr, 0, 0, 200, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    ::InvalidateRect(base, nullptr, FALSE);
    ASSERT_TRUE(::GetUpdateRect(base, nullptr, FALSE));
    EXPECT_EQ(::SendMessageA(base, WM_PAINT, 0, 0), 1);
    EXPECT_FALSE(::GetUpdateRect(base, nullptr, FALSE)) << "painting left the window invalid";

    int cursor = media_cursor_count();
    multimedia_shutdown();

    EXPECT_EQ(media_cursor_count(), cursor + 1) << "expected the cursor shown once";
    EXPECT_TRUE(::IsWindow(base)) << "the base window was destroyed";
    EXPECT_FALSE(::IsWindowVisible(base)) << "the base window was not hidden";
    EXPECT_EQ(multimedia().display_window, base);
    EXPECT_EQ(table[3].object, nullptr);
    EXPECT_FALSE(media_heap_holds(main_heap(), block)) << "the display objects were not freed";
    EXPECT_EQ(multimedia().directdraw, nullptr);
    EXPECT_EQ(multimedia().directdraw_users, 0);
    EXPECT_EQ(multimedia().directdraw_library, nullptr);
    WNDCLASSEXA base_class{};
    base_class.cbSize = sizeof(base_class);
    EXPECT_TRUE(::GetClassInfoExA(runtime_instance(), "MultimediaBase Class", &base_class));
    EXPECT_EQ(multimedia().keyboard, nullptr) << "the keyboard device was kept";
    EXPECT_EQ(multimedia().directinput, nullptr) << "DirectInput was kept";
    EXPECT_EQ(multimedia().directinput_users, 0);
    EXPECT_EQ(::GetModuleHandleA("dinput.dll"), nullptr) << "DINPUT.DLL stayed loaded";
    EXPECT_FALSE(multimedia().initialised);

    // A second end finds nothing left: the cursor is not shown again.
    multimedia_shutdown();
    EXPECT_EQ(media_cursor_count(), cursor + 1) << "the second end showed the cursor again";
}

TEST(DISABLED_Scenario, DirectDrawCountsItsUsers)
{
    start_runtime();
    IDirectDraw2* directdraw = directdraw_load();
    ASSERT_NE(directdraw, nullptr);
    HMODULE library = multimedia().directdraw_library;
    EXPECT_EQ(library, ::GetModuleHandleA("ddraw.dll"));
    EXPECT_EQ(directdraw_load(), directdraw) << "a second interface was made";
    EXPECT_EQ(multimedia().directdraw_users, 2);
    EXPECT_EQ(multimedia().directdraw_library, library);

    // Our own reference keeps the object alive to count the base's references.
    ULONG references = directdraw->AddRef();
    directdraw_unload();
    EXPECT_EQ(multimedia().directdraw, directdraw) << "released while a user remains";
    EXPECT_EQ(multimedia().directdraw_library, library);
    EXPECT_EQ(directdraw->AddRef(), references + 1) << "the first unload released the interface";
    directdraw->Release();

    directdraw_unload();
    EXPECT_EQ(multimedia().directdraw, nullptr);
    EXPECT_EQ(multimedia().directdraw_library, nullptr);
    EXPECT_EQ(multimedia().directdraw_users, 0);
    EXPECT_EQ(directdraw->Release(), references - 2) << "the last unload did not release the interface once";
}

} // namespace
