// The drawing primitives: boxes, pixels, lines and image copies into the open pass.
#include "image/drawing.h"

#include "core/runtime.h"
#include "drawing_pass.h"

#include <cstring>

constexpr DWORD ROP_NOTSRCERASE = 0x001100A6;

// A single pixel in its colour whatever the raster operation: the platform's
// SetPixelV would otherwise mix it like a pen in invert mode.
static void pixel_set(const DrawingState& pass, int32_t x, int32_t y, COLORREF colour)
{
    if (!(pass.mode & DRAW_MODE_INVERT)) {
        ::SetPixelV(pass.dc, x, y, colour);
        return;
    }
    ::SetROP2(pass.dc, R2_COPYPEN);
    ::SetPixelV(pass.dc, x, y, colour);
    ::SetROP2(pass.dc, R2_NOT);
}

// The pass to draw into, switched back to its device context; null outside a pass.
static DrawingState* drawing_pass_dc()
{
    drawing_use_dc();
    return drawing_pass();
}

void draw_box(int32_t x, int32_t y, int32_t w, int32_t h)
{
    DrawingState* pass = drawing_pass_dc();
    if (!pass) return;
    if (w == 1 && h == 1) {
        pixel_set(*pass, x, y, pass->colour);
        return;
    }
    ::Rectangle(pass->dc, x, y, coord_add(x, w), coord_add(y, h));
}

void draw_box(int32_t x, int32_t y, int32_t w, int32_t h, COLORREF colour)
{
    DrawingState* pass = drawing_pass_dc();
    if (!pass) return;
    if (w == 1 && h == 1) {
        pixel_set(*pass, x, y, colour);
        return;
    }
    if (pass->mode & DRAW_MODE_OUTLINE) {
        HPEN pen = colour != pass->colour ? ::CreatePen(PS_SOLID, 0, colour) : nullptr;
        HGDIOBJ replaced = pen ? ::SelectObject(pass->dc, pen) : nullptr;
        ::Rectangle(pass->dc, x, y, coord_add(x, w), coord_add(y, h));
        if (pen) {
            ::SelectObject(pass->dc, replaced);
            ::DeleteObject(pen);
        }
        return;
    }
    HBRUSH made = colour != pass->colour ? ::CreateSolidBrush(colour) : nullptr;
    HBRUSH brush = colour != pass->colour ? made : pass->brush;
    if (!brush) return; // FillRect would read a null brush as a system colour
    // Left unordered on purpose: the platform then fills |w| columns ending at x.
    RECT box{x, y, coord_add(x, w), coord_add(y, h)};
    ::FillRect(pass->dc, &box, brush);
    if (made) ::DeleteObject(made);
}

// Direct writes land only inside the surface, whatever the coordinates.
static void surface_plot(DrawingState& pass, int32_t x, int32_t y, COLORREF colour)
{
    SurfaceFields& surface = pass.surface;
    if (pass.access == ACCESS_DC) {
        surface.pixels = surface.get_pixels ? surface.get_pixels() : nullptr;
        pass.access = ACCESS_PIXELS;
    }
    if (!surface.pixels || x < 0 || y < 0 || x >= surface.width || y >= surface.height) return;
    uint8_t* pixel = surface.pixels + intptr_t{y} * surface.pitch + intptr_t{x} * (surface.bits_per_pixel / 8);
    switch (surface.bits_per_pixel) {
    case 8: *pixel = static_cast<uint8_t>(colour & 0xFF); break;
    case 16: {
        uint16_t value = surface_pixel16(colour);
        std::memcpy(pixel, &value, sizeof(value));
        break;
    }
    default: {
        uint32_t value = surface_pixel32(colour);
        std::memcpy(pixel, &value, sizeof(value));
        break;
    }
    }
}

void draw_plot(int32_t x, int32_t y, COLORREF colour)
{
    DrawingState* pass = drawing_pass();
    if (!pass) return;
    if (pass->kind == TARGET_SURFACE) {
        int32_t bits = pass->surface.bits_per_pixel;
        if (bits == 8 || bits == 16 || bits == 32) {
            surface_plot(*pass, x, y, colour);
            return;
        }
        drawing_use_dc();
    }
    pixel_set(*pass, x, y, colour);
}

void draw_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2, COLORREF colour)
{
    DrawingState* pass = drawing_pass_dc();
    if (!pass) return;
    HPEN pen = nullptr;
    HGDIOBJ replaced = nullptr;
    if (colour == CLR_INVALID || colour == pass->colour) {
        colour = pass->colour;
    } else {
        pen = ::CreatePen(PS_SOLID, 0, colour);
        if (pen) replaced = ::SelectObject(pass->dc, pen);
    }
    POINT before{};
    ::MoveToEx(pass->dc, x1, y1, &before);
    ::LineTo(pass->dc, x2, y2);
    // The platform leaves out the end point; the line includes it.
    pixel_set(*pass, x2, y2, colour);
    ::MoveToEx(pass->dc, before.x, before.y, nullptr);
    if (pen) {
        ::SelectObject(pass->dc, replaced);
        ::DeleteObject(pen);
    }
}

void draw_line(int32_t x1, int32_t y1, int32_t x2, int32_t y2)
{
    draw_line(x1, y1, x2, y2, CLR_INVALID);
}

void draw_image(HGDIOBJ handle, int32_t x, int32_t y)
{
    draw_image(handle, x, y, 0, 0);
}

void draw_image(HGDIOBJ handle, int32_t x, int32_t y, int32_t w, int32_t h)
{
    DrawingState* pass = drawing_pass_dc();
    if (!pass || !handle) return;
    if (::GetObjectType(handle) != OBJ_BITMAP) {
        ::DrawIconEx(pass->dc, x, y, static_cast<HICON>(handle), w, h, 0, nullptr, DI_NORMAL);
        return;
    }
    // The bitmap of the image DC (the image of an image pass, say) cannot be
    // selected or read anywhere else: draw nothing rather than whatever the
    // memory context holds by default.
    if (image_dc_holds(handle)) return;
    BITMAP description{};
    if (::GetObjectA(handle, sizeof(description), &description) != sizeof(description)) return;
    DWORD rop = (pass->mode & DRAW_MODE_INVERT) ? ROP_NOTSRCERASE : SRCCOPY;
    bool stretched = w != 0 && h != 0;
    int32_t width = stretched ? w : description.bmWidth;
    int32_t height = stretched ? h : description.bmHeight;

    if (pass->kind == TARGET_DIB_DEVICE) {
        HGLOBAL dib = dib_capture(static_cast<HBITMAP>(handle), nullptr);
        if (!dib) return;
        auto* info = static_cast<BITMAPINFO*>(::GlobalLock(dib));
        ::SetStretchBltMode(pass->dc, COLORONCOLOR);
        ::StretchDIBits(pass->dc, x, y, width, height, 0, 0, description.bmWidth, description.bmHeight,
                        reinterpret_cast<uint8_t*>(info) + sizeof(BITMAPINFOHEADER), info, DIB_RGB_COLORS, rop);
        ::GlobalUnlock(dib);
        ::GlobalFree(dib);
        return;
    }

    HDC memory = ::CreateCompatibleDC(pass->dc);
    if (!memory) return;
    HGDIOBJ replaced = ::SelectObject(memory, handle);
    if (replaced) {
        if (width == description.bmWidth && height == description.bmHeight) {
            ::BitBlt(pass->dc, x, y, width, height, memory, 0, 0, rop);
        } else {
            ::SetStretchBltMode(pass->dc, HALFTONE);
            ::StretchBlt(pass->dc, x, y, width, height, memory, 0, 0, description.bmWidth, description.bmHeight, rop);
        }
        ::SelectObject(memory, replaced);
    }
    ::DeleteDC(memory);
}

void drawing_mode(uint32_t flags)
{
    DrawingState* pass = drawing_pass_dc();
    if (!pass) return;
    pass->mode = flags;
    ::SetROP2(pass->dc, (flags & DRAW_MODE_INVERT) ? R2_NOT : R2_COPYPEN);
    ::SelectObject(pass->dc, (flags & DRAW_MODE_OUTLINE) ? ::GetStockObject(NULL_BRUSH) : pass->brush);
    ::SetBkMode(pass->dc, (flags & DRAW_MODE_TRANSPARENT) ? TRANSPARENT : OPAQUE);
}

HGLOBAL dib_capture(HBITMAP bitmap, HPALETTE palette)
{
    BITMAP description{};
    if (!bitmap || ::GetObjectA(bitmap, sizeof(description), &description) != sizeof(description)) return nullptr;
    if (image_dc_holds(bitmap)) return nullptr; // a selected bitmap must not be read

    if (description.bmWidth <= 0 || description.bmHeight <= 0) return nullptr;
    uint64_t pixel_bytes = uint64_t{dib_row_bytes24(static_cast<uint32_t>(description.bmWidth))} *
                           static_cast<uint32_t>(description.bmHeight);
    if (pixel_bytes > UINT32_MAX - sizeof(BITMAPINFOHEADER)) return nullptr;
    SIZE_T block_bytes = sizeof(BITMAPINFOHEADER) + static_cast<SIZE_T>(pixel_bytes);
    HGLOBAL block = ::GlobalAlloc(GMEM_FIXED, block_bytes);
    if (!block) return nullptr;
    std::memset(block, 0, block_bytes);
    auto* header = static_cast<BITMAPINFOHEADER*>(block);
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = description.bmWidth;
    header->biHeight = description.bmHeight; // positive: rows stored bottom-up
    header->biPlanes = 1;
    header->biBitCount = 24;
    header->biCompression = BI_RGB;

    HDC screen = ::GetDC(nullptr);
    HPALETTE previous = nullptr;
    if (palette && screen) {
        previous = ::SelectPalette(screen, palette, TRUE);
        ::RealizePalette(screen);
    }
    int rows = screen ? ::GetDIBits(screen, bitmap, 0, static_cast<UINT>(description.bmHeight),
                                    reinterpret_cast<uint8_t*>(block) + sizeof(BITMAPINFOHEADER),
                                    reinterpret_cast<BITMAPINFO*>(header), DIB_RGB_COLORS)
                      : 0;
    if (palette && screen) ::SelectPalette(screen, previous, TRUE);
    if (screen) ::ReleaseDC(nullptr, screen);
    if (rows <= 0) {
        ::GlobalFree(block);
        return nullptr;
    }
    return block;
}
