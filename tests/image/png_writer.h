/* PNGs made in the tests with libpng. C, like the decoder's libpng side,
   because libpng reports errors by longjmp. */
#pragma once
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct PngLayout {
    uint32_t width;
    uint32_t height;
    int colour_type; /* PNG_COLOR_TYPE_* */
    int bit_depth;
    int interlaced;
    const uint8_t* rows; /* packed as the file stores them, row_bytes apart */
    size_t row_bytes;
    const uint8_t* palette; /* red, green, blue triples, or null */
    int palette_entries;
    const uint8_t* alphas; /* a tRNS chunk for a palette, or null */
    int alpha_entries;
};

/* A malloc'd PNG of *size bytes, or null; free it with free(). */
uint8_t* png_write_memory(const struct PngLayout* layout, size_t* size);

#ifdef __cplusplus
}
#endif
