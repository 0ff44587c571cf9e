#include "core/runtime.h"

#include <cstdio>

void runtime_report_args(const char* format, va_list args)
{
    char line[512] = "sondrel: ";
    constexpr size_t PREFIX = 9;
    constexpr size_t ROOM = sizeof(line) - PREFIX - 1; // keeps a byte for the "\n"
    int length = std::vsnprintf(line + PREFIX, ROOM, format, args);
    // A long path is cut, and the line still ends.
    size_t end = PREFIX + (length < 0                           ? 0
                           : static_cast<size_t>(length) < ROOM ? static_cast<size_t>(length)
                                                                : ROOM - 1);
    line[end] = '\n';
    line[end + 1] = '\0';
    ::OutputDebugStringA(line);
}

void core_report(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    runtime_report_args(format, args);
    va_end(args);
}
