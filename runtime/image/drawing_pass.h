// Inside the image runtime only: the open pass that the primitives draw into,
// and the small pieces of arithmetic they decide with.
#pragma once
#include "image/drawing.h"

#include <cstdint>

struct SurfaceFields {
    uint8_t* pixels;
    int32_t pitch;
    int32_t width;
    int32_t height;
    int32_t bits_per_pixel;
    int32_t reserved;
    HDC (*get_dc)();
    uint8_t* (*get_pixels)();
};

constexpr int32_t ACCESS_DC = 1;
constexpr int32_t ACCESS_PIXELS = -1;

struct DrawingState {
    HDC dc; // null: no pass is open
    int32_t kind;
    HWND window;
    void (*release)();
    SurfaceFields surface; // TARGET_SURFACE passes only
    int32_t access;        // ACCESS_DC or ACCESS_PIXELS, TARGET_SURFACE passes only
    COLORREF colour;
    uint32_t mode;
    HBRUSH brush; // solid brush of the current colour, not selected
    HGDIOBJ saved_brush;
    HGDIOBJ saved_pen;
};

// The open pass, or null when there is none.
DrawingState* drawing_pass();
// Switches a directly written surface back to drawing through its context.
void drawing_use_dc();
// True when the bitmap is selected in the image DC (and so cannot be selected
// anywhere else, nor read, nor deleted).
bool image_dc_holds(HGDIOBJ bitmap);

// A pixel as a surface of the given depth stores it.
inline uint16_t surface_pixel16(COLORREF colour)
{
    uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    return static_cast<uint16_t>((r & 0xF8) << 8 | (g & 0xFC) << 3 | b >> 3);
}
inline uint32_t surface_pixel32(COLORREF colour)
{
    uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    return r << 16 | g << 8 | b;
}

// Bytes in one 24-bit row padded to four bytes, as device-independent bitmaps keep them.
inline uint32_t dib_row_bytes24(uint32_t width)
{
    return static_cast<uint32_t>((uint64_t{width} * 24 + 31) / 32 * 4);
}
