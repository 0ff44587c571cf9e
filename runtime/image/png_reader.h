/* Inside the image runtime only: the libpng side of the PNG decoder. It is C
   because libpng reports errors with longjmp, which must never cross a C++
   frame with destructors. */
#pragma once
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Accepts a PNG from the open file (its signature not yet read) or from the
   memory block of size bytes, and keeps the read structures for the decode. */
int png_reader_check(FILE* file, const uint8_t* data, size_t size);
/* Writes 8-bit blue, green, red rows, pitch bytes apart; releases the read
   structures whatever happens. */
int png_reader_decode(uint8_t* first_row, intptr_t pitch);
int32_t png_reader_width(void);
int32_t png_reader_height(void);
/* Why the last check or decode failed: libpng's message, or ours. Empty when
   it succeeded, or when the data was simply not a PNG. */
const char* png_reader_reason(void);

#ifdef __cplusplus
}
#endif
