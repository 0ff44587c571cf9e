// Drawing targets, drawing passes and the drawing primitives.
#pragma once
#include <windows.h>
#include <cstdint>

// Kinds of drawing target, and the flags of drawing_mode.
constexpr int32_t TARGET_WINDOW = 1, TARGET_IMAGE = 2, TARGET_DIB_DEVICE = 5, TARGET_SURFACE = 7;
constexpr uint32_t DRAW_MODE_TRANSPARENT = 1, DRAW_MODE_INVERT = 2, DRAW_MODE_OUTLINE = 4;

struct DrawingTarget {
    int32_t kind;
    HWND window;       // TARGET_WINDOW only
    HDC dc;            // every kind but TARGET_WINDOW
    void (*release)(); // releases dc when the pass ends (kinds 2, 5, 7)
    // TARGET_SURFACE only:
    uint8_t* pixels;
    int32_t pitch;
    int32_t width; // carried fields; used to keep direct writes inside the surface
    int32_t height;
    int32_t bits_per_pixel;
    int32_t reserved;
    HDC (*get_dc)();
    uint8_t* (*get_pixels)();
};

void drawing_init();
DrawingTarget* window_output();
DrawingTarget* image_output();
void image_dc_release();
HDC drawing_begin(DrawingTarget* target);
void drawing_end();

void draw_box(int32_t x, int32_t y, int32_t w, int32_t h);
void draw_box(int32_t x, int32_t y, int32_t w, int32_t h, COLORREF colour);
void draw_plot(int32_t x, int32_t y, COLORREF colour);
void draw_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, COLORREF colour);
void draw_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
void draw_image(HGDIOBJ handle, int32_t x, int32_t y);
void draw_image(HGDIOBJ handle, int32_t x, int32_t y, int32_t w, int32_t h);
void drawing_mode(uint32_t flags);
// A GlobalAlloc'd 24-bit DIB copy (header, then pixels), or null; free with GlobalFree.
HGLOBAL dib_capture(HBITMAP bitmap, HPALETTE palette);
