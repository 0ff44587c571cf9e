// Loading DirectInput and DirectDraw, their failures and the program end.
// Every Scenario needs a process of its own, often with a DLL switched off
// through WINEDLLOVERRIDES, which Wine reads only from the environment it
// starts with: each runs from its own ctest entry (see CMakeLists.txt), and
// the normal run skips them.
#include <gtest/gtest.h>

#include <string>

#include "core/object_heap.h"
#include "core/runtime.h"
#include "multimedia_internal.h"
#include "media_child.h"

namespace {

bool ddraw_loaded()
{
    return ::GetModuleHandleA("ddraw.dll") != nullptr;
}

void start_runtime()
{
    ASSERT_TRUE(runtime_start(::GetModuleHandleA(nullptr)));
    ASSERT_TRUE(object_heap_create());
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

    EXPECT_EQ(multimedia_init(), nullptr);
    HWND base = multimedia.display_window;
    EXPECT_EQ(multimedia.base_window_created, 1);
    ASSERT_TRUE(::IsWindow(base));
    EXPECT_EQ(multimedia.directinput, nullptr);
    EXPECT_EQ(multimedia.directinput_users, 1);
    EXPECT_EQ(multimedia.keyboard, nullptr);
    EXPECT_EQ(multimedia.keyboard_state, 0);
    EXPECT_FALSE(multimedia.initialised);
    EXPECT_EQ(multimedia.directdraw_users, 0) << "DirectDraw was tried after the keyboard failed";
    EXPECT_FALSE(ddraw_loaded());

    // Shown on purpose, so that a hide would be seen.
    ::ShowWindow(base, SW_SHOWNA);
    multimedia_shutdown();
    EXPECT_EQ(media_cursor_count(), cursor) << "an uninitialised shutdown showed the cursor";
    EXPECT_TRUE(::IsWindowVisible(base)) << "an uninitialised shutdown hid the base window";
    EXPECT_EQ(multimedia.display_window, base);
    EXPECT_EQ(multimedia.directdraw_users, 0);
}

TEST(DISABLED_Scenario, WithoutDirectDraw)
{
    ASSERT_TRUE(dll_switched_off("DDRAW.DLL")) << "run with WINEDLLOVERRIDES=ddraw=d";
    start_runtime();
    ASSERT_FALSE(ddraw_loaded());

    EXPECT_EQ(multimedia_init(), nullptr);
    HWND base = multimedia.display_window;
    ASSERT_TRUE(::IsWindow(base));
    EXPECT_NE(multimedia.keyboard, nullptr);
    EXPECT_EQ(multimedia.keyboard_state, 1);
    EXPECT_TRUE(multimedia.initialised);
    EXPECT_EQ(multimedia.directdraw, nullptr);
    EXPECT_EQ(multimedia.directdraw_users, 1);
    EXPECT_EQ(multimedia.directdraw_library, nullptr);
    EXPECT_EQ(multimedia.recorded_base_window, nullptr);
    EXPECT_FALSE(ddraw_loaded());

    ::ShowWindow(base, SW_SHOWNA);
    int cursor = media_cursor_count();
    multimedia_shutdown();
    EXPECT_EQ(media_cursor_count(), cursor + 1) << "expected the cursor shown once";
    EXPECT_TRUE(::IsWindowVisible(base)) << "no base window was recorded, yet a window was hidden";
    EXPECT_EQ(multimedia.directdraw_users, 0);
}

TEST(DISABLED_Scenario, StartUpAndProgramEnd)
{
    start_runtime();
    DisplayObject* table = multimedia_init();
    ASSERT_NE(table, nullptr);
    HWND base = multimedia.display_window;
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
    EXPECT_EQ(multimedia.display_window, base);
    EXPECT_EQ(table[3].object, nullptr);
    EXPECT_FALSE(media_heap_holds(main_heap(), block)) << "the display objects were not freed";
    EXPECT_EQ(multimedia.directdraw, nullptr);
    EXPECT_EQ(multimedia.directdraw_users, 0);
    EXPECT_EQ(multimedia.directdraw_library, nullptr);
    WNDCLASSEXA base_class{};
    base_class.cbSize = sizeof(base_class);
    EXPECT_TRUE(::GetClassInfoExA(runtime_instance(), "MultimediaBase Class", &base_class));
    EXPECT_NE(multimedia.directinput, nullptr);
    EXPECT_NE(multimedia.keyboard, nullptr);
}

TEST(DISABLED_Scenario, DirectDrawCountsItsUsers)
{
    start_runtime();
    IDirectDraw2* directdraw = directdraw_load();
    ASSERT_NE(directdraw, nullptr);
    HMODULE library = multimedia.directdraw_library;
    EXPECT_EQ(library, ::GetModuleHandleA("ddraw.dll"));
    EXPECT_EQ(directdraw_load(), directdraw) << "a second interface was made";
    EXPECT_EQ(multimedia.directdraw_users, 2);
    EXPECT_EQ(multimedia.directdraw_library, library);

    // Our own reference keeps the object alive to count the base's references.
    ULONG references = directdraw->AddRef();
    directdraw_unload();
    EXPECT_EQ(multimedia.directdraw, directdraw) << "released while a user remains";
    EXPECT_EQ(multimedia.directdraw_library, library);
    EXPECT_EQ(directdraw->AddRef(), references + 1) << "the first unload released the interface";
    directdraw->Release();

    directdraw_unload();
    EXPECT_EQ(multimedia.directdraw, nullptr);
    EXPECT_EQ(multimedia.directdraw_library, nullptr);
    EXPECT_EQ(multimedia.directdraw_users, 0);
    EXPECT_EQ(directdraw->Release(), references - 2) << "the last unload did not release the interface once";
}

TEST(DISABLED_Scenario, StartUpBesidePlantedDll)
{
    start_runtime();
    EXPECT_NE(multimedia_init(), nullptr);
    multimedia_shutdown();
}

TEST(DISABLED_Scenario, BareNameLoad)
{
    EXPECT_NE(::LoadLibraryA("DDRAW.DLL"), nullptr);
    EXPECT_NE(::LoadLibraryA("DINPUT.DLL"), nullptr);
}

struct PlantedRun {
    int exit_code;
    bool ddraw_loaded;
    bool dinput_loaded;
};

bool event_set(HANDLE event)
{
    return event && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}

// Runs a copy of this program from the folder that holds the planted
// DDRAW.DLL and DINPUT.DLL, so that they sit both beside the program and in
// its working directory. Wine prefers its own DLLs to ones found there; this
// test's entry sets WINEDLLOVERRIDES=ddraw,dinput=n,b so that, as on Windows,
// the one found first is the one loaded.
PlantedRun run_beside_planted_dlls(const char* test)
{
    std::string folder = media_program_folder() + "\\media_planted";
    std::string copy = folder + "\\media_planted_probe.exe";
    for (const char* name : {"\\DDRAW.dll", "\\DINPUT.dll"})
        if (::GetFileAttributesA((folder + name).c_str()) == INVALID_FILE_ATTRIBUTES) return {-100, false, false};
    if (!::CopyFileA(media_program_path().c_str(), copy.c_str(), FALSE)) return {-101, false, false};
    std::string event_name = "SondrelPlanted" + std::to_string(::GetCurrentProcessId());
    HANDLE ddraw = ::CreateEventA(nullptr, TRUE, FALSE, (event_name + ".DDRAW").c_str());
    HANDLE dinput = ::CreateEventA(nullptr, TRUE, FALSE, (event_name + ".DINPUT").c_str());

    MediaChild child;
    child.test = test;
    child.environment.push_back("SONDREL_PLANTED_EVENT=" + event_name);
    child.program = copy;
    child.directory = folder;
    PlantedRun run{media_child_run(child), false, false};
    run.ddraw_loaded = event_set(ddraw);
    run.dinput_loaded = event_set(dinput);
    for (HANDLE event : {ddraw, dinput})
        if (event) ::CloseHandle(event);
    ::DeleteFileA(copy.c_str());
    return run;
}

TEST(Loading, PlantedDllsAreNeverLoaded)
{
    PlantedRun control = run_beside_planted_dlls("DISABLED_Scenario.BareNameLoad");
    ASSERT_EQ(control.exit_code, 0);
    ASSERT_TRUE(control.ddraw_loaded && control.dinput_loaded)
        << "a load by bare name did not pick up both planted DLLs: the check below would prove nothing";

    PlantedRun start_up = run_beside_planted_dlls("DISABLED_Scenario.StartUpBesidePlantedDll");
    EXPECT_EQ(start_up.exit_code, 0) << "the start-up failed beside the planted DLLs";
    EXPECT_FALSE(start_up.ddraw_loaded) << "the start-up loaded the DDRAW.DLL planted beside the program";
    EXPECT_FALSE(start_up.dinput_loaded) << "the start-up loaded the DINPUT.DLL planted beside the program";
}

} // namespace
