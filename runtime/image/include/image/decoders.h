// The image decoder registry and its two decoders (PNG, OLE pictures).
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstddef>

struct MemoryBlock {
    const uint8_t* data;
    size_t size; // bytes; the decoders never read past it
};

struct ImageDecoder {
    int (*check)(FILE* file, const MemoryBlock* memory, const char* path);
    int (*decode)(uint8_t* first_row, intptr_t pitch);
    int32_t (*width)();
    int32_t (*height)();
};

constexpr int DECODER_LIMIT = 100;

void decoders_init();
bool decoder_register(const ImageDecoder* decoder);
void png_decoder_register();
void picture_init();
int picture_decoder_register();
void picture_shutdown();
// With a path, memory is ignored; without one, memory must describe the block.
int image_decode_open(const char* path, const MemoryBlock* memory);
int32_t image_decode_width();
int32_t image_decode_height();
int image_decode_read(uint8_t* first_row, intptr_t pitch);
