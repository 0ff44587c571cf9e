// A DDRAW.DLL and a DINPUT.DLL of someone else's, planted beside the program
// and in its working directory: the multimedia start-up and the real program
// must load neither. The test's entry sets WINEDLLOVERRIDES=ddraw,dinput=n,b,
// so that under Wine, as on Windows, a DLL found there would be the one loaded.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app_process.h"
#include "core/object_heap.h"
#include "core/runtime.h"
#include "media/multimedia.h"
#include "media_child.h"
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

// Run as children from the planted folder. The first loads both by bare
// name, as a careless program would, to prove the planted DLLs can be picked
// up at all.
TEST(DISABLED_PlantedChild, BareNameLoad)
{
    EXPECT_NE(::LoadLibraryA("DDRAW.DLL"), nullptr);
    EXPECT_NE(::LoadLibraryA("DINPUT.DLL"), nullptr);
}

TEST(DISABLED_PlantedChild, MultimediaStartUp)
{
    ASSERT_TRUE(runtime_start(::GetModuleHandleA(nullptr)));
    ASSERT_TRUE(object_heap_create());
    EXPECT_NE(multimedia_init(), nullptr);
    multimedia_shutdown();
}

// A copy of this test program run from the planted folder, limited to one child test.
int run_probe(const Planted& planted, const char* test)
{
    MediaChild child;
    child.test = test;
    child.environment.push_back("SONDREL_PLANTED_EVENT=" + planted.event_name);
    child.program = planted.folder + "\\planted_probe.exe";
    child.directory = planted.folder;
    if (!::CopyFileA(test_program_path().c_str(), child.program.c_str(), FALSE)) return -101;
    int code = media_child_run(child);
    ::DeleteFileA(child.program.c_str());
    return code;
}

TEST(PlantedDlls, NeitherTheStartUpNorTheProgramLoadsThem)
{
    Planted planted;
    ASSERT_TRUE(planted.has("DDRAW.dll") && planted.has("DINPUT.dll")) << "the planted DLLs were not built";

    // Control: a bare-name load from that folder does pick them up.
    EXPECT_EQ(run_probe(planted, "DISABLED_PlantedChild.BareNameLoad"), 0);
    ASSERT_TRUE(Planted::set(planted.ddraw) && Planted::set(planted.dinput))
        << "a bare-name load did not pick up both planted DLLs: the checks below would prove nothing";
    planted.reset();

    EXPECT_EQ(run_probe(planted, "DISABLED_PlantedChild.MultimediaStartUp"), 0)
        << "the start-up failed beside the planted DLLs";
    EXPECT_FALSE(Planted::set(planted.ddraw)) << "the start-up loaded the DDRAW.DLL planted beside the program";
    EXPECT_FALSE(Planted::set(planted.dinput)) << "the start-up loaded the DINPUT.DLL planted beside the program";
    planted.reset();

    // The real program, copied beside them, with its music in the same folder.
    std::string program = planted.folder + "\\sondrel.exe";
    ASSERT_TRUE(::CopyFileA(program_path("sondrel.exe").c_str(), program.c_str(), FALSE));
    ASSERT_TRUE(write_file(planted.folder + "\\Orlenwade.ogg",
                           ogg_encode(pcm_sine(2, 44100, 44100 * 5, 440.0, 8000.0), 2, 44100)));
    Child child = start_child(program, planted.folder, {"SONDREL_PLANTED_EVENT=" + planted.event_name});
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
