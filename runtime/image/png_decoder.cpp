// The PNG decoder's entry in the decoder registry; the libpng work is in png_reader.c.
#include "image/decoders.h"
#include "image_report.h"
#include "png_reader.h"

// png_reader.c stays free of the platform (it is also built natively), so
// its reasons are reported from here.
static int png_reported(int result)
{
    if (!result && *png_reader_reason()) image_report("PNG image refused: %s", png_reader_reason());
    return result;
}

static int png_check(FILE* file, const MemoryBlock* memory, const char*)
{
    if (file) return png_reported(png_reader_check(file, nullptr, 0));
    return memory ? png_reported(png_reader_check(nullptr, memory->data, memory->size)) : 0;
}

static int png_decode(uint8_t* first_row, intptr_t pitch)
{
    return png_reported(png_reader_decode(first_row, pitch));
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
