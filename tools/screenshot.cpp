// A picture of the visualizer at work, taken from outside it (the program
// itself takes no arguments and writes nothing):
//   screenshot OUT.png [SECONDS]
// starts sondrel.exe from this program's folder in the current folder, waits
// until its window has shown the music for SECONDS (default 3), writes the
// window's client area to OUT.png, asks the program to close and waits for it.
// Exit code 0 only when the picture was written and the program ended with 0.
#include <windows.h>

#include <png.h>

#include "tools/desktop.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
constexpr const char* TITLE = " Sondrel by Tavik";
constexpr const char* FAILURE_TITLE = "ov:Lib";
constexpr DWORD WINDOW_WAIT_MS = 30000;
// Wine waits about 2 s for a window manager when a window goes on a bare display.
constexpr DWORD EXIT_WAIT_MS = 15000;

// The client area as the screen shows it, as 8-bit blue, green, red rows.
bool capture_client(HWND window, std::vector<uint8_t>& rows, int& width, int& height)
{
    RECT client;
    POINT origin{0, 0};
    if (!::GetClientRect(window, &client) || !::ClientToScreen(window, &origin)) return false;
    width = client.right;
    height = client.bottom;
    if (width <= 0 || height <= 0) return false;

    std::vector<uint32_t> pixels;
    if (!capture_screen_area(origin.x, origin.y, width, height, pixels)) return false;
    rows.resize(pixels.size() * 3);
    for (size_t i = 0; i < pixels.size(); ++i) std::memcpy(&rows[i * 3], &pixels[i], 3);
    return true;
}

bool write_png(const char* path, const std::vector<uint8_t>& rows, int width, int height)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_BGR;
    return png_image_write_to_file(&image, path, 0, rows.data(), width * 3, nullptr) != 0;
}

// Whether the program is still showing its window for `ms` more: false, with
// the reason said, when it ends or shows its failure message instead (which
// comes after its window has opened).
bool keeps_playing(const PROCESS_INFORMATION& process, DWORD ms)
{
    for (DWORD waited = 0;; waited += 50) {
        if (process_window(process.dwProcessId, FAILURE_TITLE)) {
            std::fprintf(stderr, "screenshot: sondrel shows \"%s\": it could not play Orlenwade.ogg\n", FAILURE_TITLE);
            return false;
        }
        if (waited >= ms) return true;
        if (::WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) {
            std::fprintf(stderr, "screenshot: sondrel ended before the picture was taken\n");
            return false;
        }
    }
}

// Waits for the window; false (with the reason said) when it does not come.
bool wait_for_window(const PROCESS_INFORMATION& process, HWND& window)
{
    for (DWORD waited = 0; waited < WINDOW_WAIT_MS; waited += 50) {
        window = process_window(process.dwProcessId, TITLE);
        if (window) return true;
        if (!keeps_playing(process, 50)) return false;
    }
    std::fprintf(stderr, "screenshot: no window titled \"%s\" within %lu s\n", TITLE, WINDOW_WAIT_MS / 1000);
    return false;
}

// Shows the window for `ms`, then writes it to `out`.
bool take_picture(const PROCESS_INFORMATION& process, HWND window, DWORD ms, const char* out)
{
    if (!keeps_playing(process, ms)) return false;
    std::vector<uint8_t> rows;
    int width = 0, height = 0;
    if (!capture_client(window, rows, width, height)) {
        std::fprintf(stderr, "screenshot: could not copy the window from the screen\n");
        return false;
    }
    if (!write_png(out, rows, width, height)) {
        std::fprintf(stderr, "screenshot: could not write %s\n", out);
        return false;
    }
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    double seconds = argc == 3 ? std::atof(argv[2]) : 3.0;
    if (argc < 2 || argc > 3 || !(seconds >= 0 && seconds <= 3600)) {
        std::fprintf(stderr, "usage: screenshot OUT.png [SECONDS]\n");
        return 1;
    }
    char self[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string program(self, length);
    program = program.substr(0, program.find_last_of("\\/") + 1) + "sondrel.exe";
    std::string command = "\"" + program + "\"";

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                          &process)) {
        std::fprintf(stderr, "screenshot: could not start %s\n", program.c_str());
        return 1;
    }
    HWND window = nullptr;
    bool written =
        wait_for_window(process, window) && take_picture(process, window, static_cast<DWORD>(seconds * 1000), argv[1]);

    // After a failure the program may sit in its message box: end it at once.
    DWORD exit_code = 1;
    if (written) ::PostMessageA(window, WM_CLOSE, 0, 0);
    if (::WaitForSingleObject(process.hProcess, written ? EXIT_WAIT_MS : 0) != WAIT_OBJECT_0) {
        if (written) std::fprintf(stderr, "screenshot: sondrel did not end after the close request\n");
        ::TerminateProcess(process.hProcess, 1);
        ::WaitForSingleObject(process.hProcess, 5000);
    } else {
        ::GetExitCodeProcess(process.hProcess, &exit_code);
        if (exit_code != 0) std::fprintf(stderr, "screenshot: sondrel exited with code %lu\n", exit_code);
    }
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return written && exit_code == 0 ? 0 : 1;
}
