// The whole program as a person sees it: its window, its picture, its exits
// and its failure message.
#include "app_process.h"
#include "sound_recorder.h"
#include "tools/oggsynth.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {
constexpr const char* TITLE = " Sondrel by Tavik";
constexpr uint32_t BLACK = 0x000000;
constexpr uint32_t AXIS = 0x1E1A93; // COLORREF 0x931A1E as 0xRRGGBB
constexpr uint32_t GREY = 0xA0A0A0;
constexpr uint32_t BACKGROUND = 0x130103; // COLORREF 0x030113
constexpr uint32_t BAR = 0xC90613;        // COLORREF 0x1306C9
constexpr uint32_t GREEN = 0x00FF00;

[[maybe_unused]] static const bool is_child = foreground_child_requested();

// Generous waits: the 32-bit smoke run goes through an emulator.
DWORD exit_wait_ms()
{
    return sizeof(void*) == 4 ? 120000 : 10000;
}
DWORD window_wait_ms()
{
    return sizeof(void*) == 4 ? 180000 : 20000;
}

struct ProgramRun {
    std::string folder;
    Child child;
    HWND window = nullptr;

    ~ProgramRun()
    {
        kill_child(child);
        remove_folder(folder);
    }
};

// Starts the program in a fresh folder holding `music` as Orlenwade.ogg (none
// when empty).
void start(ProgramRun& run, const Bytes& music, const std::vector<std::string>& env = {})
{
    run.folder = make_temp_folder("e2e");
    if (!music.empty()) {
        ASSERT_TRUE(write_file(run.folder + "\\Orlenwade.ogg", music));
    }
    run.child = start_child(program_path("sondrel.exe"), run.folder, env);
    ASSERT_TRUE(run.child.started) << "could not start " << program_path("sondrel.exe");
}

void wait_for_window(ProgramRun& run)
{
    run.window = find_process_window(run.child.info.dwProcessId, TITLE, window_wait_ms());
    ASSERT_NE(nullptr, run.window) << "no window titled \"" << TITLE << "\" appeared";
}

Bytes silent_track(double seconds)
{
    return ogg_encode(pcm_silence(2, size_t(44100 * seconds)), 2, 44100);
}

// Counts the pixels of a row range that differ from the expected colour.
int mismatches(const Screenshot& shot, int top, int bottom, int left, int right, uint32_t colour)
{
    int bad = 0;
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x) bad += shot.at(x, y) != colour;
    return bad;
}

void expect_silence_picture(const Screenshot& shot)
{
    ASSERT_EQ(1000, shot.width);
    ASSERT_EQ(600, shot.height);
    EXPECT_EQ(0, mismatches(shot, 0, 149, 0, 999, BLACK)) << "upper oscilloscope area should be black";
    EXPECT_EQ(0, mismatches(shot, 150, 150, 0, 999, AXIS)) << "row 150 is the axis line";
    EXPECT_EQ(0, mismatches(shot, 151, 298, 0, 999, BLACK)) << "lower oscilloscope area should be black";
    EXPECT_EQ(0, mismatches(shot, 299, 299, 0, 999, GREY)) << "row 299 is the grey line";
    EXPECT_EQ(0, mismatches(shot, 300, 590, 0, 999, BACKGROUND)) << "spectrum background above the bars";
    EXPECT_EQ(0, mismatches(shot, 591, 599, 1, 999, BAR)) << "a 9-pixel band of bars from column 1";
    EXPECT_EQ(0, mismatches(shot, 591, 599, 0, 0, BACKGROUND)) << "column 0 shows only background";
}

// Polls the picture until it matches the silence picture or time runs out.
Screenshot settled_picture(HWND window, DWORD wait_ms)
{
    Screenshot shot;
    DWORD start = ::GetTickCount();
    do {
        ::Sleep(200);
        shot = capture_client(window);
    } while (shot.width == 1000 && shot.at(500, 595) != BAR && ::GetTickCount() - start < wait_ms);
    return shot;
}

std::string message_box_text(HWND box)
{
    std::string text;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        char class_name[32], content[256];
        ::GetClassNameA(child, class_name, sizeof class_name);
        ::GetWindowTextA(child, content, sizeof content);
        if (_stricmp(class_name, "Static") == 0 && content[0]) text += content;
    }
    return text;
}

// The failure path: the box is shown with its title and text, OK ends the program with 0.
void expect_failure_message(ProgramRun& run)
{
    HWND box = find_process_window(run.child.info.dwProcessId, "ov:Lib", window_wait_ms());
    ASSERT_NE(nullptr, box) << "no message box titled \"ov:Lib\"";
    EXPECT_EQ("Couldn't open Orlenwade.ogg", message_box_text(box));
    EXPECT_EQ(-1, wait_child(run.child, 300)) << "the program must wait for the box to be dismissed";
    ::PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(0, wait_child(run.child, exit_wait_ms())) << "exit code after OK";
}
} // namespace

TEST(Visualizer, WindowIsCentredWithItsTitleAndClientSize)
{
    ProgramRun run;
    start(run, silent_track(5));
    wait_for_window(run);
    RECT client, outer;
    ::GetClientRect(run.window, &client);
    ::GetWindowRect(run.window, &outer);
    EXPECT_EQ(1000, client.right);
    EXPECT_EQ(600, client.bottom);
    // Each half is taken separately with an arithmetic shift.
    int w = outer.right - outer.left, h = outer.bottom - outer.top;
    EXPECT_EQ((1366 >> 1) - (w >> 1), outer.left) << "outer width " << w;
    EXPECT_EQ((768 >> 1) - (h >> 1), outer.top) << "outer height " << h;
    // The system adds WS_CLIPSIBLINGS to every top-level window.
    uint32_t style = static_cast<uint32_t>(::GetWindowLongA(run.window, GWL_STYLE));
    EXPECT_EQ(0x10C80000u, style & 0x1FFF0000u & ~static_cast<uint32_t>(WS_CLIPSIBLINGS));
}

TEST(Visualizer, SilenceDrawsTheAxisTheGreyLineAndANinePixelBand)
{
    ProgramRun run;
    start(run, silent_track(5));
    wait_for_window(run);
    expect_silence_picture(settled_picture(run.window, 5000));
}

TEST(Visualizer, ALoudSineSwingsTheTraceAcrossTheOscilloscope)
{
    ProgramRun run;
    start(run, ogg_encode(pcm_sine(2, 44100, 44100 * 5, 441.0, 30000.0), 2, 44100));
    wait_for_window(run);
    ::Sleep(1000);
    Screenshot shot = capture_client(run.window);
    int top = 300, bottom = -1;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 1000; ++x)
            if (shot.at(x, y) == GREEN) {
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    // 30000 / 256 is about 117 rows either side of the axis.
    EXPECT_LE(top, 150 - 100) << "the trace should reach well above the axis";
    EXPECT_GE(bottom, 150 + 100) << "the trace should reach well below the axis";
    EXPECT_GT(mismatches(shot, 300, 590, 1, 999, BACKGROUND), 0) << "a loud sine raises some bars";
}

// How soon the music starts is a figure of the load benchmark.
TEST(Visualizer, PlaysTheMusicWholeAndThenOnlySilence)
{
    Pcm music = pcm_demo_music(44100, 3.0);
    Bytes ogg = ogg_encode(music, 2, 44100);
    Pcm reference = ogg_decode(ogg); // what the program should play, decoded independently

    SoundRecorder recorder;
    ASSERT_TRUE(recorder.start()) << "no recording device: is the harness's sound server running?";
    ProgramRun run;
    start(run, ogg);
    wait_for_window(run);
    ::Sleep(3000 + (sizeof(void*) == 8 ? 2000 : 20000)); // the music, then silence
    recorder.stop();

    expect_heard_whole(recorder.samples(), reference, 64);
}

TEST(Visualizer, KeepsRunningAndDrawingSilenceAfterTheMusicEnds)
{
    ProgramRun run;
    start(run, ogg_encode(pcm_sine(2, 44100, 44100 / 2, 441.0, 20000.0), 2, 44100));
    wait_for_window(run);
    ::Sleep(1500);
    EXPECT_EQ(-1, wait_child(run.child, 0)) << "the program ended with the music";
    expect_silence_picture(settled_picture(run.window, 5000));
}

// How soon the window goes is a figure of the app benchmark.
TEST(Visualizer, EscapeEndsTheProgramWithExitCodeZero)
{
    ProgramRun run;
    start(run, silent_track(30));
    wait_for_window(run);
    ::SetForegroundWindow(run.window);
    ::Sleep(300);
    // Held down until the program has ended, however slowly it polls.
    send_key(VK_ESCAPE, true);
    long code = wait_child(run.child, exit_wait_ms());
    send_key(VK_ESCAPE, false);
    EXPECT_EQ(0, code) << "exit code after Escape";
}

// The key state is the whole desktop's: Escape that another program's window
// receives is not the user asking this one to end.
TEST(Visualizer, EscapeInAnotherProgramLeavesItRunning)
{
    ProgramRun run;
    start(run, silent_track(30));
    wait_for_window(run);
    struct Other {
        Child child = start_child(test_program_path(), "", {}, FOREGROUND_CHILD_ARG);
        ~Other() { kill_child(child); }
    } other;
    HWND front = find_process_window(other.child.info.dwProcessId, FOREGROUND_CHILD_TITLE, window_wait_ms());
    for (DWORD start = ::GetTickCount(); front && ::GetForegroundWindow() != front && ::GetTickCount() - start < 5000;)
        ::SetForegroundWindow(front), ::Sleep(50);
    ASSERT_TRUE(front && ::GetForegroundWindow() == front) << "the other program's window is not in front";
    send_key(VK_ESCAPE, true);
    ::Sleep(sizeof(void*) == 8 ? 500 : 5000); // many frames of the program
    send_key(VK_ESCAPE, false);
    EXPECT_EQ(front, ::GetForegroundWindow()) << "the other program stayed in front";
    // Ending, the program hides its window at once and is gone about 2 s later.
    EXPECT_EQ(-1, wait_child(run.child, 3000)) << "Escape for another program ended this one";
    EXPECT_TRUE(::IsWindowVisible(run.window)) << "Escape for another program closed this one's window";
}

TEST(Visualizer, ACloseRequestEndsTheProgramWithExitCodeZero)
{
    ProgramRun run;
    start(run, silent_track(30));
    wait_for_window(run);
    ::PostMessageA(run.window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0, wait_child(run.child, exit_wait_ms())) << "exit code after the close request";
}

TEST(FailureMessage, MissingMusicFile)
{
    ProgramRun run;
    start(run, Bytes{});
    expect_failure_message(run);
}

TEST(FailureMessage, FileThatIsNotOggVorbis)
{
    ProgramRun run;
    Bytes text(4000, 'x');
    start(run, text);
    expect_failure_message(run);
}

TEST(FailureMessage, NoSoundDevice)
{
    ProgramRun run;
    // Run with PULSE_SERVER naming no server (see tests/e2e/CMakeLists.txt).
    start(run, silent_track(2));
    expect_failure_message(run);
}

// The file's properties as Windows shows them: the version the build was made
// as, in numbers and in words, read through the language the file declares
// (a string block under any other language shows as empty properties).
TEST(VersionResource, ShowsTheBuildsVersionAndNames)
{
    const std::string exe = program_path("sondrel.exe");
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(exe.c_str(), &ignored);
    ASSERT_NE(0u, size) << "no version resource in " << exe;
    std::vector<char> info(size);
    ASSERT_TRUE(::GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));

    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(3, std::sscanf(SONDREL_VERSION, "%u.%u.%u", &major, &minor, &patch));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(DWORD(MAKELONG(minor, major)), fixed->dwFileVersionMS) << "file version, expected " << SONDREL_VERSION;
    EXPECT_EQ(DWORD(MAKELONG(0, patch)), fixed->dwFileVersionLS) << "file version, expected " << SONDREL_VERSION;
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ(DWORD(VFT_APP), fixed->dwFileType);

    WORD* translation = nullptr;
    ASSERT_TRUE(
        ::VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_GE(length, 4u);
    auto text = [&](const char* name) -> std::string {
        char key[96];
        std::snprintf(key, sizeof key, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], name);
        char* value = nullptr;
        UINT chars = 0;
        if (!::VerQueryValueA(info.data(), key, reinterpret_cast<void**>(&value), &chars) || !value) return "(none)";
        return value;
    };
    EXPECT_EQ(SONDREL_VERSION, text("FileVersion"));
    EXPECT_EQ(SONDREL_VERSION, text("ProductVersion"));
    EXPECT_EQ("Sondrel", text("ProductName"));
    EXPECT_EQ("Sondrel audio visualizer", text("FileDescription"));
    EXPECT_EQ(SONDREL_COPYRIGHT, text("LegalCopyright"));
    EXPECT_EQ("sondrel.exe", text("OriginalFilename"));
}

// The manifest as Windows' own loader reads it: the program runs as the user
// who starts it (no installer detection, no file virtualisation) and declares
// Windows 7 to 11, so that no Vista compatibility mode applies.
TEST(VersionResource, ManifestRunsAsInvokerOnWindows7To11)
{
    const std::string exe = program_path("sondrel.exe");
    ACTCTXA request = {};
    request.cbSize = sizeof request;
    request.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    request.lpSource = exe.c_str();
    request.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE context = ::CreateActCtxA(&request);
    ASSERT_NE(INVALID_HANDLE_VALUE, context) << "no manifest Windows can read in " << exe;

    ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION run_level = {};
    SIZE_T written = 0;
    EXPECT_TRUE(::QueryActCtxW(0, context, nullptr, RunlevelInformationInActivationContext, &run_level,
                               sizeof run_level, &written));
    EXPECT_EQ(ACTCTX_RUN_LEVEL_AS_INVOKER, run_level.RunLevel);
    EXPECT_EQ(0u, run_level.UiAccess);

    // Compared as bytes, whatever the size of an element in this Windows.
    alignas(8) unsigned char compatibility[1024] = {};
    EXPECT_TRUE(::QueryActCtxW(0, context, nullptr, CompatibilityInformationInActivationContext, compatibility,
                               sizeof compatibility, &written));
    const auto* info = reinterpret_cast<const ACTIVATION_CONTEXT_COMPATIBILITY_INFORMATION*>(compatibility);
    auto declares = [&](const GUID& os) {
        for (size_t at = sizeof(DWORD); at + sizeof os <= written; ++at)
            if (std::memcmp(compatibility + at, &os, sizeof os) == 0) return true;
        return false;
    };
    const GUID vista = {0xe2011457, 0x1546, 0x43c5, {0xa5, 0xfe, 0x00, 0x8d, 0xee, 0xe3, 0xd3, 0xf0}};
    const struct {
        const char* name;
        GUID id;
    } wanted[] = {
        {"7", {0x35138b9a, 0x5d96, 0x4fbd, {0x8e, 0x2d, 0xa2, 0x44, 0x02, 0x25, 0xf9, 0x3a}}},
        {"8", {0x4a2f28e3, 0x53b9, 0x4441, {0xba, 0x9c, 0xd6, 0x9d, 0x4a, 0x4a, 0x6e, 0x38}}},
        {"8.1", {0x1f676c76, 0x80e1, 0x4239, {0x95, 0xbb, 0x83, 0xd0, 0xf6, 0xd0, 0xda, 0x78}}},
        {"10 and 11", {0x8e0f7a12, 0xbfb3, 0x4fe8, {0xb9, 0xa5, 0x48, 0xfd, 0x50, 0xa1, 0x5a, 0x9a}}},
    };
    EXPECT_EQ(std::size(wanted), info->ElementCount);
    for (const auto& os : wanted) EXPECT_TRUE(declares(os.id)) << "Windows " << os.name << " not declared";
    EXPECT_FALSE(declares(vista)) << "declared for Vista, which it is not tested on";
    ::ReleaseActCtx(context);
}
