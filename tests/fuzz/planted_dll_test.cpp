// The real program started in a folder that also holds a DDRAW.DLL and a
// DINPUT.DLL of someone else's: it must load neither. The test's entry sets
// WINEDLLOVERRIDES=ddraw,dinput=n,b, so that under Wine, as on Windows, a DLL
// found beside the program would be the one loaded.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app_process.h"
#include "tools/oggsynth.h"

namespace {

struct Planted {
    std::string folder;
    HANDLE ddraw = nullptr, dinput = nullptr;
    std::string event_name;

    Planted()
    {
        folder = make_temp_folder("planted");
        std::string source = test_program_folder() + "media_planted\\";
        for (const char* name : {"DDRAW.dll", "DINPUT.dll"})
            ::CopyFileA((source + name).c_str(), (folder + "\\" + name).c_str(), FALSE);
        event_name = "SondrelFuzzPlanted" + std::to_string(::GetCurrentProcessId());
        ddraw = ::CreateEventA(nullptr, TRUE, FALSE, (event_name + ".DDRAW").c_str());
        dinput = ::CreateEventA(nullptr, TRUE, FALSE, (event_name + ".DINPUT").c_str());
    }
    ~Planted()
    {
        for (HANDLE event : {ddraw, dinput})
            if (event) ::CloseHandle(event);
        remove_folder(folder);
    }
    bool has(const char* name) const
    {
        return ::GetFileAttributesA((folder + "\\" + name).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    static bool set(HANDLE event) { return event && ::WaitForSingleObject(event, 0) == WAIT_OBJECT_0; }
    void reset() const
    {
        ::ResetEvent(ddraw);
        ::ResetEvent(dinput);
    }
};

// Run as a child from the planted folder: loads both by bare name, as a
// careless program would, to prove the planted DLLs can be picked up at all.
TEST(DISABLED_PlantedChild, BareNameLoad)
{
    EXPECT_NE(::LoadLibraryA("DDRAW.DLL"), nullptr);
    EXPECT_NE(::LoadLibraryA("DINPUT.DLL"), nullptr);
}

TEST(PlantedDlls, TheProgramLoadsNeitherFromItsFolder)
{
    Planted planted;
    ASSERT_TRUE(planted.has("DDRAW.dll") && planted.has("DINPUT.dll")) << "the planted DLLs were not built";
    const std::vector<std::string> env = {"SONDREL_PLANTED_EVENT=" + planted.event_name};

    // Control: a bare-name load from that folder does pick them up.
    std::string probe = planted.folder + "\\planted_probe.exe";
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    ASSERT_TRUE(::CopyFileA(self, probe.c_str(), FALSE));
    Child control = start_child(probe, planted.folder, env,
                                "--gtest_also_run_disabled_tests --gtest_filter=DISABLED_PlantedChild.*");
    ASSERT_TRUE(control.started);
    EXPECT_EQ(wait_child(control, 60000), 0);
    ASSERT_TRUE(Planted::set(planted.ddraw) && Planted::set(planted.dinput))
        << "a bare-name load did not pick up both planted DLLs: the check below would prove nothing";
    ::DeleteFileA(probe.c_str());
    planted.reset();

    // The real program, copied beside them, with its music in the same folder.
    std::string program = planted.folder + "\\sondrel.exe";
    ASSERT_TRUE(::CopyFileA(program_path("sondrel.exe").c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(write_file(planted.folder + "\\Orlenwade.ogg",
                           ogg_encode(pcm_sine(2, 44100, 44100 * 5, 440.0, 8000.0), 2, 44100)));
    Child child = start_child(program, planted.folder, env);
    ASSERT_TRUE(child.started);
    HWND window = find_process_window(child.info.dwProcessId, " Sondrel by Tavik", 30000);
    EXPECT_NE(window, nullptr) << "the program showed no window";
    ::Sleep(1000); // a frame or two: anything loaded late is loaded by now
    if (window) ::PostMessageA(window, WM_CLOSE, 0, 0);
    long code = wait_child(child, 15000);
    if (code == -1) kill_child(child);
    EXPECT_EQ(code, 0) << "the program did not end normally";
    EXPECT_FALSE(Planted::set(planted.ddraw)) << "the program loaded the DDRAW.DLL planted beside it";
    EXPECT_FALSE(Planted::set(planted.dinput)) << "the program loaded the DINPUT.DLL planted beside it";
}

} // namespace
