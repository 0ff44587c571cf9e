#include "image_report.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>

void image_report(const char* format, ...)
{
    char line[512] = "sondrel: ";
    constexpr size_t PREFIX = 9;
    constexpr size_t ROOM = sizeof(line) - PREFIX - 1; // keeps a byte for the "\n"
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(line + PREFIX, ROOM, format, args);
    va_end(args);
    // A long path is cut, and the line still ends.
    size_t end = PREFIX + (length < 0 ? 0 : static_cast<size_t>(length) < ROOM ? static_cast<size_t>(length) : ROOM - 1);
    line[end] = '\n';
    line[end + 1] = '\0';
    ::OutputDebugStringA(line);
}
