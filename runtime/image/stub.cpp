// Placeholder until the image runtime lands.
#include "runtime/image/image.h"
#include "runtime/image/drawing.h"
#include "runtime/image/decoders.h"
void images_init() {}
intptr_t image_create(ImageId, int32_t, int32_t) { return 0; }
HGDIOBJ image_get(ImageId) { return nullptr; }
void images_free_all() {}
void drawing_init() {}
DrawingTarget* window_output() { return nullptr; }
DrawingTarget* image_output() { return nullptr; }
HDC drawing_begin(DrawingTarget*) { return nullptr; }
void drawing_end() {}
void draw_box(int32_t, int32_t, int32_t, int32_t) {}
void draw_box(int32_t, int32_t, int32_t, int32_t, COLORREF) {}
void draw_plot(int32_t, int32_t, COLORREF) {}
void draw_line(int32_t, int32_t, int32_t, int32_t, COLORREF) {}
void draw_image(HGDIOBJ, int32_t, int32_t) {}
void decoders_init() {}
void png_decoder_register() {}
void picture_init() {}
int picture_decoder_register() { return 1; }
void picture_shutdown() {}
