// String values: null or a NUL-terminated block of its own on the main heap.
// Text is built in one 64000-byte string buffer and stored when finished.
#pragma once
#include <cstddef>

constexpr size_t STRING_BUFFER_BYTES = 64000;

void string_buffer_init();
char* string_cursor();
// Appends text (null ends the text built so far at the cursor). Text that would
// not fit in the buffer is cut short; the buffer is never overrun.
void string_append(const char* text);
void string_store_built(char** variable, char* start);
void string_assign(char** variable, const char* text);
void string_free(char* block);
int string_equal(const char* a, const char* b);
int string_greater(const char* a, const char* b);
int string_less(const char* a, const char* b);
