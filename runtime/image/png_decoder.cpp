// The PNG decoder's entry in the decoder registry; the libpng work is in png_reader.c.
#include "image/decoders.h"
#include "png_reader.h"

static int png_check(FILE* file, const MemoryBlock* memory, const char*)
{
    if (file) return png_reader_check(file, nullptr, 0);
    return memory ? png_reader_check(nullptr, memory->data, memory->size) : 0;
}

static int png_decode(uint8_t* first_row, intptr_t pitch)
{
    return png_reader_decode(first_row, pitch);
}
static int32_t png_width()
{
    return png_reader_width();
}
static int32_t png_height()
{
    return png_reader_height();
}

static const ImageDecoder png_decoder{png_check, png_decode, png_width, png_height};

void png_decoder_register()
{
    decoder_register(&png_decoder);
}
