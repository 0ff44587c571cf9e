#include "png_writer.h"

#include <png.h>
#include <stdlib.h>
#include <string.h>

struct Output {
    uint8_t* data;
    size_t size;
    size_t capacity;
};

static void output_write(png_structp write, png_bytep bytes, size_t length)
{
    struct Output* out = (struct Output*)png_get_io_ptr(write);
    if (out->size + length > out->capacity) {
        size_t capacity = (out->size + length) * 2;
        uint8_t* grown = (uint8_t*)realloc(out->data, capacity);
        if (!grown) png_error(write, "out of memory");
        out->data = grown;
        out->capacity = capacity;
    }
    memcpy(out->data + out->size, bytes, length);
    out->size += length;
}

static void output_flush(png_structp write)
{
    (void)write;
}

uint8_t* png_write_memory(const struct PngLayout* layout, size_t* size)
{
    /* On the heap, so that what the writer stored survives a longjmp. */
    struct Output* out = (struct Output*)calloc(1, sizeof(struct Output));
    png_structp write = out ? png_create_write_struct(PNG_LIBPNG_VER_STRING, NULL, NULL, NULL) : NULL;
    png_infop info = write ? png_create_info_struct(write) : NULL;
    uint8_t* data;
    uint32_t y;
    int pass, passes;

    if (!info || setjmp(png_jmpbuf(write))) {
        if (write) png_destroy_write_struct(&write, info ? &info : NULL);
        if (out) free(out->data);
        free(out);
        return NULL;
    }
    png_set_write_fn(write, out, output_write, output_flush);
    png_set_IHDR(write, info, layout->width, layout->height, layout->bit_depth, layout->colour_type,
                 layout->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (layout->palette) {
        png_color colours[256];
        int i;
        for (i = 0; i < layout->palette_entries; ++i) {
            colours[i].red = layout->palette[3 * i];
            colours[i].green = layout->palette[3 * i + 1];
            colours[i].blue = layout->palette[3 * i + 2];
        }
        png_set_PLTE(write, info, colours, layout->palette_entries);
    }
    if (layout->alphas) png_set_tRNS(write, info, layout->alphas, layout->alpha_entries, NULL);
    png_write_info(write, info);
    passes = png_set_interlace_handling(write);
    for (pass = 0; pass < passes; ++pass)
        for (y = 0; y < layout->height; ++y) png_write_row(write, layout->rows + (size_t)y * layout->row_bytes);
    png_write_end(write, info);
    png_destroy_write_struct(&write, &info);
    *size = out->size;
    data = out->data;
    free(out);
    return data;
}
