/* The PNG decoder's use of libpng. Every libpng call that can fail runs under
   a recovery point set in the same function, so the jump buffer never points
   into a frame that has returned. */
#include "png_reader.h"

#include <png.h>
#include <setjmp.h>
#include <string.h>

static struct PngReader {
    png_structp read;
    png_infop info;
    const uint8_t* data; /* the memory block being read, or null */
    size_t size;
    size_t position;
    png_uint_32 width;
    png_uint_32 height;
    int bit_depth;
    int colour_type;
    char reason[200];  /* why the last check or decode failed; empty when it did not */
    char warning[120]; /* libpng's last warning of this load: it often names the cause of the error after it */
} png;

/* Four letters and a terminating zero each, as libpng takes its chunk lists. */
static const png_byte UNUSED_CHUNKS[] = "tEXt\0zTXt\0iTXt\0sPLT\0iCCP\0eXIf\0pCAL\0sCAL\0hIST\0tIME\0pHYs\0oFFs\0sTER";
#define UNUSED_CHUNK_COUNT 13

static void png_reader_release(void)
{
    if (png.read) png_destroy_read_struct(&png.read, png.info ? &png.info : NULL, NULL);
    png.read = NULL;
    png.info = NULL;
    png.data = NULL;
}

static void png_reader_forget(void)
{
    png.reason[0] = png.warning[0] = '\0';
}

/* libpng's own handlers print the message before they jump; the program
   prints nothing, so these keep it as the reason and jump back to the
   recovery point. */
static void png_reader_error(png_structp read, png_const_charp message)
{
    if (png.warning[0])
        snprintf(png.reason, sizeof(png.reason), "%s (%s)", message, png.warning);
    else
        snprintf(png.reason, sizeof(png.reason), "%s", message);
    png_longjmp(read, 1);
}

static void png_reader_warning(png_structp read, png_const_charp message)
{
    (void)read;
    snprintf(png.warning, sizeof(png.warning), "%s", message);
}

/* A truncated block is an error like any other, never a read past its end. */
static void png_memory_read(png_structp read, png_bytep destination, size_t length)
{
    if (length > png.size - png.position) png_error(read, "PNG data ends early");
    memcpy(destination, png.data + png.position, length);
    png.position += length;
}

int png_reader_check(FILE* file, const uint8_t* data, size_t size)
{
    png_byte signature[8];

    /* A load that was checked but never decoded lets go of its structures. */
    png_reader_release();
    png_reader_forget();
    png.width = png.height = 0;
    if (file) {
        if (fread(signature, 1, sizeof(signature), file) != sizeof(signature)) return 0;
    } else {
        if (!data || size < sizeof(signature)) return 0;
        memcpy(signature, data, sizeof(signature));
    }
    if (png_sig_cmp(signature, 0, sizeof(signature)) != 0) return 0;

    png.read = png_create_read_struct(PNG_LIBPNG_VER_STRING, NULL, png_reader_error, png_reader_warning);
    png.info = png.read ? png_create_info_struct(png.read) : NULL;
    if (!png.info) {
        snprintf(png.reason, sizeof(png.reason), "no memory for the PNG reader");
        png_reader_release();
        return 0;
    }
    if (setjmp(png_jmpbuf(png.read))) {
        png_reader_release();
        return 0;
    }
    /* Chunks that change no pixel are skipped as they are read. Kept, libpng
       would first allocate and clear as much as a text chunk declares, up
       to 2 GB, for a file of a hundred bytes. */
    png_set_keep_unknown_chunks(png.read, PNG_HANDLE_CHUNK_NEVER, UNUSED_CHUNKS, UNUSED_CHUNK_COUNT);
    if (file) {
        png_init_io(png.read, file);
        png_set_sig_bytes(png.read, sizeof(signature));
    } else {
        png.data = data;
        png.size = size;
        png.position = 0;
        png_set_read_fn(png.read, NULL, png_memory_read);
    }
    png_read_info(png.read, png.info);
    png_get_IHDR(png.read, png.info, &png.width, &png.height, &png.bit_depth, &png.colour_type, NULL, NULL, NULL);
    return 1;
}

int png_reader_decode(uint8_t* first_row, intptr_t pitch)
{
    int passes;
    png_uint_32 pass;
    png_uint_32 y;

    png_reader_forget();
    if (!png.read) return 0;
    if (!first_row) {
        png_reader_release();
        return 0;
    }
    if (setjmp(png_jmpbuf(png.read))) {
        png_reader_release();
        return 0;
    }
    switch (png.colour_type) {
    case PNG_COLOR_TYPE_PALETTE: png_set_expand(png.read); break;
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        if (png.bit_depth < 8) png_set_expand(png.read);
        png_set_gray_to_rgb(png.read);
        break;
    default: break;
    }
    if (png.bit_depth == 16) png_set_strip_16(png.read);
    png_set_bgr(png.read);
    /* Transparency (an alpha channel, or a tRNS chunk that the expansion turns
       into one) would make 4-byte pixels: the rows hold 3. */
    if ((png.colour_type & PNG_COLOR_MASK_ALPHA) || png.colour_type == PNG_COLOR_TYPE_PALETTE ||
        png_get_valid(png.read, png.info, PNG_INFO_tRNS))
        png_set_strip_alpha(png.read);
    passes = png_set_interlace_handling(png.read);
    png_read_update_info(png.read, png.info);
    if (png_get_rowbytes(png.read, png.info) != (size_t)png.width * 3) {
        snprintf(png.reason, sizeof(png.reason), "rows of an unexpected size");
        png_reader_release();
        return 0;
    }
    for (pass = 0; pass < (png_uint_32)passes; ++pass) {
        png_bytep row = first_row;
        for (y = 0; y < png.height; ++y) {
            png_read_rows(png.read, &row, NULL, 1);
            row += pitch;
        }
    }
    png_reader_release();
    return 1;
}

int32_t png_reader_width(void)
{
    return (int32_t)png.width;
}
int32_t png_reader_height(void)
{
    return (int32_t)png.height;
}

const char* png_reader_reason(void)
{
    return png.reason;
}
