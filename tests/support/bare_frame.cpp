#include "bare_frame.h"

#include <cmath>
#include <cstring>

int32_t bare_bar_height(float value)
{
    const uint32_t scale_bits = 0x38D1B716;
    float scale;
    std::memcpy(&scale, &scale_bits, sizeof scale);
    float scaled = value * scale;
    return static_cast<int32_t>(std::lrint(static_cast<double>(scaled) - 10.0));
}

namespace {
// A memory context on the image with a black one-pixel pen and black brush.
struct ImageDc {
    HDC dc;
    HGDIOBJ bitmap, brush, pen;
    explicit ImageDc(HBITMAP image)
    {
        dc = ::CreateCompatibleDC(nullptr);
        bitmap = ::SelectObject(dc, image);
        brush = ::SelectObject(dc, ::GetStockObject(BLACK_BRUSH));
        pen = ::SelectObject(dc, ::GetStockObject(BLACK_PEN));
    }
    ~ImageDc()
    {
        ::SelectObject(dc, pen);
        ::SelectObject(dc, brush);
        ::SelectObject(dc, bitmap);
        ::DeleteDC(dc);
    }
};

void line(HDC dc, int32_t x1, int32_t y1, int32_t x2, int32_t y2, COLORREF colour)
{
    HPEN pen = ::CreatePen(PS_SOLID, 0, colour);
    HGDIOBJ replaced = ::SelectObject(dc, pen);
    POINT before{};
    ::MoveToEx(dc, x1, y1, &before);
    ::LineTo(dc, x2, y2);
    ::SetPixelV(dc, x2, y2, colour);
    ::MoveToEx(dc, before.x, before.y, nullptr);
    ::SelectObject(dc, replaced);
    ::DeleteObject(pen);
}

void fill(HDC dc, int32_t left, int32_t top, int32_t right, int32_t bottom, COLORREF colour)
{
    HBRUSH brush = ::CreateSolidBrush(colour);
    RECT box{left, top, right, bottom};
    ::FillRect(dc, &box, brush);
    ::DeleteObject(brush);
}

void copy(HDC dc, HBITMAP image, int32_t x, int32_t y)
{
    HDC memory = ::CreateCompatibleDC(dc);
    BITMAP description{};
    ::GetObjectA(image, sizeof description, &description);
    HGDIOBJ replaced = ::SelectObject(memory, image);
    ::BitBlt(dc, x, y, description.bmWidth, description.bmHeight, memory, 0, 0, SRCCOPY);
    ::SelectObject(memory, replaced);
    ::DeleteDC(memory);
}
} // namespace

void bare_oscilloscope(HBITMAP image, const int8_t* capture)
{
    ImageDc target(image);
    ::Rectangle(target.dc, 0, 0, 1000, 300);
    for (int32_t k = 0; k < 512; ++k) ::SetPixelV(target.dc, 2 * k, 150 + capture[4 * k + 1], 0x00FF00);
    line(target.dc, 0, 299, 1000, 299, 0xA0A0A0);
    line(target.dc, 0, 150, 1000, 150, 0x931A1E);
}

void bare_spectrum(HBITMAP image, const float* bins)
{
    ImageDc target(image);
    fill(target.dc, 0, 0, 1000, 300, 0x030113);
    for (int32_t i = 1; i <= 1000; ++i) fill(target.dc, i, 300, i + 3, 300 + bare_bar_height(bins[i]), 0x1306C9);
}

void bare_window(HWND window, HBITMAP oscilloscope, HBITMAP spectrum)
{
    HDC dc = ::GetDC(window);
    if (!dc) return;
    copy(dc, oscilloscope, 0, 0);
    copy(dc, spectrum, 0, 300);
    ::ReleaseDC(window, dc);
}
