// Numbered off-screen images. A number is 0..N, or -1 to create a dynamic
// image whose identifier is the address of its record.
#pragma once
#include <windows.h>
#include <cstdint>

using ImageId = intptr_t;

void images_init();
// The bitmap handle (for -1: the dynamic identifier), 0 on failure.
intptr_t image_create(ImageId number, int32_t width, int32_t height);
// The image's handle or 0; makes it the current image (none when not found).
HGDIOBJ image_get(ImageId id);
int32_t image_width();
int32_t image_height();
int32_t image_depth();
HGDIOBJ image_handle();
void image_free(ImageId id);
void images_free_all();
