// Targets other services make: surfaces written pixel by pixel, and DIB devices.
#include "image/drawing.h"
#include "image/image.h"
#include "image_pixels.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

namespace {
// A surface of width x height pixels inside a larger block, so that a write
// beyond any edge would land in the guard bytes around it.
struct GuardedSurface {
    static constexpr int32_t GUARD = 3; // pixels on every side
    static constexpr uint8_t FILL = 0xAB;
    int32_t width, height, bytes_per_pixel, pitch;
    std::vector<uint8_t> block;

    GuardedSurface(int32_t w, int32_t h, int32_t bits)
        : width(w),
          height(h),
          bytes_per_pixel(bits / 8),
          pitch((w + 2 * GUARD) * (bits / 8)),
          block(static_cast<size_t>(pitch) * (h + 2 * GUARD), FILL)
    {
    }
    uint8_t* first_pixel() { return block.data() + GUARD * pitch + GUARD * bytes_per_pixel; }
    uint8_t* at(int32_t x, int32_t y) { return first_pixel() + y * pitch + x * bytes_per_pixel; }
};

// The provider's operations are plain functions: they reach the surface here.
struct Provider {
    uint8_t* pixels = nullptr;
    HDC dc = nullptr;
    int get_pixels_calls = 0;
    int get_dc_calls = 0;
    int releases = 0;
} provider;

uint8_t* provider_pixels()
{
    ++provider.get_pixels_calls;
    ::GdiFlush(); // what GDI drew must be in memory before it is written directly
    return provider.pixels;
}
HDC provider_dc()
{
    ++provider.get_dc_calls;
    return provider.dc;
}
void provider_release()
{
    ++provider.releases;
}

DrawingTarget surface_target(uint8_t* pixels, int32_t pitch, int32_t width, int32_t height, int32_t bits, HDC dc)
{
    provider = Provider{};
    provider.pixels = pixels;
    provider.dc = dc;
    DrawingTarget target{};
    target.kind = TARGET_SURFACE;
    target.dc = dc;
    target.release = provider_release;
    target.pitch = pitch;
    target.width = width;
    target.height = height;
    target.bits_per_pixel = bits;
    target.get_dc = provider_dc;
    target.get_pixels = provider_pixels;
    return target;
}

// A memory context holding a 32-bit top-down DIB section.
struct DibContext {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ replaced = nullptr;
    uint32_t* bits = nullptr;
    int32_t width;

    DibContext(int32_t w, int32_t h) : width(w)
    {
        BITMAPINFO info = top_down_dib_info(w, h);
        void* memory = nullptr;
        bitmap = ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &memory, nullptr, 0);
        bits = static_cast<uint32_t*>(memory);
        dc = ::CreateCompatibleDC(nullptr);
        replaced = ::SelectObject(dc, bitmap);
    }
    ~DibContext()
    {
        ::SelectObject(dc, replaced);
        ::DeleteDC(dc);
        ::DeleteObject(bitmap);
    }
    uint32_t at(int32_t x, int32_t y) const { return bits[y * width + x] & 0x00FFFFFF; }
};
} // namespace

TEST(DrawingSurfaces, DirectWritesUseTheSurfacesPixelFormat)
{
    GuardedSurface wide(4, 3, 32), narrow(4, 3, 16), paletted(4, 3, 8);
    DibContext idle(1, 1); // the pass needs a context; direct writes never use it
    DrawingTarget target = surface_target(wide.first_pixel(), wide.pitch, 4, 3, 32, idle.dc);
    ASSERT_NE(nullptr, drawing_begin(&target));
    draw_plot(1, 2, 0x0000FF);
    EXPECT_EQ(0, provider.get_dc_calls);
    drawing_end();
    uint32_t value;
    std::memcpy(&value, wide.at(1, 2), 4);
    EXPECT_EQ(0x00FF0000u, value) << "pure red in a 32-bit surface";

    target = surface_target(narrow.first_pixel(), narrow.pitch, 4, 3, 16, idle.dc);
    ASSERT_NE(nullptr, drawing_begin(&target));
    draw_plot(2, 1, 0x00FF00);
    draw_plot(3, 1, 0x123456);
    drawing_end();
    uint16_t word;
    std::memcpy(&word, narrow.at(2, 1), 2);
    EXPECT_EQ(0x07E0, word) << "pure green in a 16-bit surface";
    std::memcpy(&word, narrow.at(3, 1), 2);
    EXPECT_EQ((0x56 & 0xF8) << 8 | (0x34 & 0xFC) << 3 | 0x12 >> 3, word);

    target = surface_target(paletted.first_pixel(), paletted.pitch, 4, 3, 8, idle.dc);
    ASSERT_NE(nullptr, drawing_begin(&target));
    draw_plot(0, 0, 0x123456);
    drawing_end();
    EXPECT_EQ(0x56, *paletted.at(0, 0)) << "the low byte is the palette index";
    EXPECT_EQ(1, provider.releases) << "the pass released the surface once";
    EXPECT_EQ(1, provider.get_pixels_calls);
}

TEST(DrawingSurfaces, DirectWritesOutsideTheSurfaceChangeNothing)
{
    DibContext idle(1, 1);
    for (int32_t bits : {8, 16, 32}) {
        GuardedSurface surface(5, 4, bits);
        DrawingTarget target = surface_target(surface.first_pixel(), surface.pitch, 5, 4, bits, idle.dc);
        ASSERT_NE(nullptr, drawing_begin(&target));
        const POINT outside[] = {{-1, 0}, {0, -1}, {5, 0}, {0, 4},       {5, 4},       {-1, -1},
                                 {-3, 2}, {7, 1},  {2, 6}, {INT_MAX, 0}, {0, INT_MIN}, {INT_MIN, INT_MAX}};
        for (POINT p : outside) draw_plot(p.x, p.y, 0x000000);
        drawing_end();
        size_t changed = 0;
        for (uint8_t byte : surface.block) changed += byte != GuardedSurface::FILL;
        EXPECT_EQ(0u, changed) << bits << "-bit surface";
    }
}

TEST(DrawingSurfaces, SurfaceSwitchesBetweenPixelsAndItsContext)
{
    DibContext surface(8, 8);
    ASSERT_NE(nullptr, surface.bits);
    DrawingTarget target = surface_target(reinterpret_cast<uint8_t*>(surface.bits), 8 * 4, 8, 8, 32, surface.dc);
    ASSERT_NE(nullptr, drawing_begin(&target));
    draw_plot(0, 0, 0x0000FF);       // direct
    draw_box(2, 2, 3, 3, 0x00FF00);  // through the context: get_dc once
    draw_plot(7, 7, 0xFF0000);       // direct again: get_pixels again
    draw_line(0, 7, 3, 7, 0xFFFFFF); // context again
    drawing_end();
    EXPECT_EQ(2, provider.get_pixels_calls);
    EXPECT_EQ(2, provider.get_dc_calls);
    EXPECT_EQ(1, provider.releases);
    EXPECT_EQ(0xFF0000u, surface.at(0, 0));
    EXPECT_EQ(0x00FF00u, surface.at(3, 3));
    EXPECT_EQ(0x0000FFu, surface.at(7, 7));
    EXPECT_EQ(0xFFFFFFu, surface.at(3, 7));
}

TEST(DrawingSurfaces, ModeSurvivesTheSwitchBackToTheContext)
{
    DibContext surface(8, 8);
    DrawingTarget target = surface_target(reinterpret_cast<uint8_t*>(surface.bits), 8 * 4, 8, 8, 32, surface.dc);
    ASSERT_NE(nullptr, drawing_begin(&target));
    draw_box(0, 0, 8, 8, 0xFFFFFF);
    drawing_mode(DRAW_MODE_OUTLINE);
    draw_plot(0, 0, 0x0000FF);      // direct: the context is given up
    draw_box(1, 1, 6, 6, 0x00FF00); // back through the context, still in outline mode
    drawing_end();
    EXPECT_EQ(0x00FF00u, surface.at(1, 1));
    EXPECT_EQ(0xFFFFFFu, surface.at(3, 3)) << "the inside of an outline stays as it was";
}

TEST(DrawingSurfaces, OtherDepthsPlotThroughTheContext)
{
    DibContext surface(4, 4);
    DrawingTarget target = surface_target(nullptr, 0, 4, 4, 24, surface.dc);
    ASSERT_NE(nullptr, drawing_begin(&target));
    draw_plot(1, 1, 0x0000FF);
    drawing_end();
    EXPECT_EQ(0, provider.get_pixels_calls);
    EXPECT_EQ(0xFF0000u, surface.at(1, 1));
}

TEST(DrawingSurfaces, DibDeviceCopiesImagesThroughACapture)
{
    ASSERT_NE(0, image_create(2, 3, 2));
    image_get(2);
    ASSERT_NE(nullptr, drawing_begin(image_output()));
    draw_box(0, 0, 3, 2, 0x0000FF);
    draw_plot(2, 1, 0x00FF00);
    drawing_end();

    DibContext device(10, 10);
    provider = Provider{};
    DrawingTarget target{};
    target.kind = TARGET_DIB_DEVICE;
    target.dc = device.dc;
    target.release = provider_release;
    ASSERT_NE(nullptr, drawing_begin(&target));
    draw_image(image_get(2), 1, 1);
    draw_image(image_get(2), 4, 4, 6, 4);
    image_get(2);
    ASSERT_NE(nullptr, image_output()); // image 2 is now held by the image DC
    draw_image(image_get(2), 0, 8);
    drawing_end();
    image_dc_release();
    EXPECT_EQ(1, provider.releases);
    EXPECT_EQ(0xFF0000u, device.at(1, 1));
    EXPECT_EQ(0x00FF00u, device.at(3, 2));
    EXPECT_EQ(0xFF0000u, device.at(4, 4)) << "stretched to 6 by 4";
    EXPECT_EQ(0x00FF00u, device.at(9, 7));
    EXPECT_EQ(0u, device.at(0, 8)) << "a bitmap held by the image DC is not read";
}
