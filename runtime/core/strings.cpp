#include "core/strings.h"
#include "core/runtime.h"

#include <cstdint>
#include <cstring>

static struct StringState {
    char* cursor; // where the next piece of text goes; null before init
    char* buffer; // start of the buffer, kept only to bound the cursor
} strings;

static const char empty_string[1] = {0};

void string_buffer_init()
{
    if (strings.cursor) return;
    strings.buffer = static_cast<char*>(::HeapAlloc(main_heap(), HEAP_ZERO_MEMORY, STRING_BUFFER_BYTES));
    strings.cursor = strings.buffer;
}

char* string_cursor()
{
    return strings.cursor;
}

void string_append(const char* text)
{
    if (!strings.cursor) return;
    if (!text) {
        *strings.cursor = 0;
        return;
    }
    // The last byte of the buffer is kept for the terminating NUL.
    size_t room = static_cast<size_t>(strings.buffer + STRING_BUFFER_BYTES - 1 - strings.cursor);
    size_t length = std::strlen(text);
    if (length > room) length = room;
    std::memcpy(strings.cursor, text, length);
    strings.cursor += length;
    *strings.cursor = 0;
}

void string_store_built(char** variable, char* start)
{
    // Only a position within the text built so far is a start: any other
    // would move the cursor out of the buffer.
    const uintptr_t at = reinterpret_cast<uintptr_t>(start);
    if (at < reinterpret_cast<uintptr_t>(strings.buffer) || at > reinterpret_cast<uintptr_t>(strings.cursor)) return;
    if (*variable) {
        ::HeapFree(main_heap(), 0, *variable);
        *variable = nullptr;
    }
    size_t length = static_cast<size_t>(strings.cursor - start);
    char* block = static_cast<char*>(::HeapAlloc(main_heap(), 0, length + 1));
    strings.cursor = start;
    if (!block) return; // the variable reads as the empty string
    *variable = block;
    size_t text_length = strnlen(start, length);
    std::memcpy(block, start, text_length);
    block[text_length] = 0;
}

void string_assign(char** variable, const char* text)
{
    if (*variable) {
        ::HeapFree(main_heap(), 0, *variable);
        *variable = nullptr;
    }
    if (!text) return;
    size_t size = std::strlen(text) + 1;
    char* block = static_cast<char*>(::HeapAlloc(main_heap(), 0, size));
    if (!block) return;
    std::memcpy(block, text, size);
    *variable = block;
}

void string_free(char* block)
{
    if (block) ::HeapFree(main_heap(), 0, block);
}

// <0, 0, >0 as a sorts before, with or after b; bytes compared unsigned.
static int string_order(const char* a, const char* b)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a ? a : empty_string);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : empty_string);
    while (*p && *p == *q) {
        ++p;
        ++q;
    }
    return int(*p) - int(*q);
}

int string_equal(const char* a, const char* b)
{
    return string_order(a, b) == 0 ? 1 : 0;
}
int string_greater(const char* a, const char* b)
{
    return string_order(a, b) > 0 ? 1 : 0;
}
int string_less(const char* a, const char* b)
{
    return string_order(a, b) < 0 ? 1 : 0;
}
