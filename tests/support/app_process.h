// Running the real program as a child process and looking at it from outside.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// A fresh empty folder under the temp directory; removed by remove_folder.
std::string make_temp_folder(const char* tag);
void remove_folder(const std::string& folder);

// The running test program, and its folder (with a trailing backslash).
std::string test_program_path();
std::string test_program_folder();
// build/<arch>/bin/<name> beside the tests folder.
std::string program_path(const char* name);

struct Child {
    PROCESS_INFORMATION info{};
    bool started = false;
};
// Starts program in folder (empty: the current one); extra_env entries
// ("NAME=value") replace or add to the inherited environment. Wine takes its
// own WINE* variables from the start-up environment, not from here. With
// share_output the child writes to this program's standard output and error.
Child start_child(const std::string& program, const std::string& folder, const std::vector<std::string>& extra_env = {},
                  const std::string& arguments = "", bool share_output = false);
// Arguments that make a test program a child run of one test (or a few, by
// filter), disabled ones included; a test that skips itself fails it.
std::string child_test_arguments(const std::string& filter);
// Waits for the child to end; returns its exit code, or -1 after timeout_ms.
long wait_child(Child& child, DWORD timeout_ms);
void kill_child(Child& child);

// This program run as a second process that holds one visible window titled
// FOREGROUND_CHILD_TITLE in front until it is asked to close it: start it with
// FOREGROUND_CHILD_ARG. A test program offering it calls
// foreground_child_requested() from a static initialiser, before any test.
extern const char FOREGROUND_CHILD_ARG[];
extern const char FOREGROUND_CHILD_TITLE[];
bool foreground_child_requested();

// A top-level window of the given process with this exact title, or null.
HWND find_process_window(DWORD process_id, const char* title, DWORD timeout_ms);

// Pixels of a screen rectangle as 0x00RRGGBB, row by row from the top.
struct Screenshot {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};
Screenshot capture_screen(int left, int top, int width, int height);
Screenshot capture_client(HWND window);

// A key press (down) or release through the system input queue.
void send_key(WORD virtual_key, bool down);
