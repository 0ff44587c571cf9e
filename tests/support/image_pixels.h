// Reading back what the image runtime drew, and counting GDI objects.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

// 0x00RRGGBB, the order 32-bit device-independent pixels read back in.
constexpr uint32_t pixel_of(COLORREF colour)
{
    return (colour & 0xFF) << 16 | (colour & 0xFF00) | (colour >> 16 & 0xFF);
}

struct Pixels {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> values; // top-down rows, 0x00RRGGBB

    uint32_t at(int32_t x, int32_t y) const { return values[static_cast<size_t>(y) * width + x]; }
    // How many pixels in the rectangle [x0, x1) x [y0, y1) hold the value.
    int64_t count(uint32_t value, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const;
    int64_t count(uint32_t value) const { return count(value, 0, 0, width, height); }
};

// The description of a 32-bit DIB, top row first.
BITMAPINFO top_down_dib_info(int32_t width, int32_t height);
// A bitmap's pixels (the bitmap must not be selected in any device context).
Pixels bitmap_pixels(HBITMAP bitmap);
// What a window's client area shows.
Pixels window_pixels(HWND window);

// GDI objects the process holds now (brushes, pens, bitmaps, contexts, ...).
long gdi_object_count();
