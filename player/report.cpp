// The player's one channel for the reasons of its failures: a line on the
// debug output, which a debug-output viewer (or WINEDEBUG=+debugstr) shows.
#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "stream_player_internal.h"

void player_report(const char* format, ...)
{
    char line[300] = "sondrel: ";
    const size_t prefix = 9, room = sizeof line - prefix - 1; // a byte kept for the "\n"
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(line + prefix, room, format, args);
    va_end(args);
    // A long path is cut, and the line still ends.
    const size_t end = prefix + (length < 0 ? 0 : std::min(size_t(length), room - 1));
    line[end] = '\n';
    line[end + 1] = '\0';
    ::OutputDebugStringA(line);
}

const char* decoder_refusal(int code)
{
    switch (code) {
    case OV_ENOTVORBIS: return "not Ogg Vorbis";
    case OV_EREAD: return "a read failed";
    case OV_EVERSION: return "a Vorbis version this decoder does not know";
    case OV_EBADHEADER: return "a broken Vorbis header";
    default: return "the decoder refused it";
    }
}
