// What each primitive covers, read back pixel by pixel from the image it drew on.
#include "image/drawing.h"
#include "drawing_pass.h"
#include "image/image.h"
#include "image_pixels.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace {
constexpr COLORREF RED = 0x0000FF;
constexpr COLORREF GREEN = 0x00FF00;
constexpr COLORREF BLUE = 0xFF0000;
constexpr COLORREF WHITE = 0xFFFFFF;
constexpr COLORREF BAR = 0x1306C9;

// A fresh black image of the size, drawn on in one pass, read back afterwards.
Pixels drawn(int32_t width, int32_t height, const std::function<void()>& draw, ImageId number = 0)
{
    if (!image_create(number, width, height)) return Pixels{};
    image_get(number);
    if (!drawing_begin(image_output())) return Pixels{};
    draw();
    drawing_end();
    return bitmap_pixels(static_cast<HBITMAP>(image_get(number)));
}

// The rectangle [x0, x1) x [y0, y1) holds the value and nothing else does.
void expect_exactly(const Pixels& pixels, uint32_t value, int32_t x0, int32_t y0, int32_t x1, int32_t y1)
{
    int64_t area = int64_t{x1 - x0} * (y1 - y0);
    EXPECT_EQ(area, pixels.count(value, x0, y0, x1, y1)) << "inside " << x0 << "," << y0 << " to " << x1 << "," << y1;
    EXPECT_EQ(area, pixels.count(value)) << "expected nothing outside, got " << pixels.count(value) - area;
}

// A 4 by 2 image: red, green, blue, white on top; white, blue, green, red below.
HGDIOBJ make_pattern(ImageId number)
{
    drawn(
        4, 2,
        [] {
            const COLORREF colours[] = {RED, GREEN, BLUE, WHITE, WHITE, BLUE, GREEN, RED};
            for (int32_t i = 0; i < 8; ++i) draw_plot(i % 4, i / 4, colours[i]);
        },
        number);
    return image_get(number);
}
} // namespace

TEST(DrawingPrimitives, OneByOneBoxIsExactlyOnePixel)
{
    Pixels pixels = drawn(20, 20, [] {
        draw_box(5, 5, 1, 1, RED);
        draw_box(0, 10, 20, 10, WHITE);
        draw_box(7, 12, 1, 1); // the current colour, black
    });
    expect_exactly(pixels, pixel_of(RED), 5, 5, 6, 6);
    EXPECT_EQ(0u, pixels.at(7, 12));
    EXPECT_EQ(20 * 10 - 1, pixels.count(pixel_of(WHITE)));
}

TEST(DrawingPrimitives, FilledBoxCoversPositiveNegativeAndZeroSizes)
{
    expect_exactly(drawn(1000, 600, [] { draw_box(10, 300, 3, -10, BAR); }), pixel_of(BAR), 10, 291, 13, 301);
    expect_exactly(drawn(100, 100, [] { draw_box(20, 30, 4, 5, BAR); }), pixel_of(BAR), 20, 30, 24, 35);
    expect_exactly(drawn(100, 100, [] { draw_box(50, 20, -4, 3, BAR); }), pixel_of(BAR), 47, 20, 51, 23);
    Pixels none = drawn(100, 100, [] {
        draw_box(10, 300, 3, 0, BAR);
        draw_box(10, 30, 0, 5, BAR);
        draw_box(10, 30, 0, 0, BAR);
    });
    EXPECT_EQ(0, none.count(pixel_of(BAR))) << "a zero width or height fills nothing";
    expect_exactly(drawn(100, 100, [] { draw_box(-5, 95, 10, 10, BAR); }), pixel_of(BAR), 0, 95, 5, 100);
}

TEST(DrawingPrimitives, BoxInTheCurrentColourIsBlackRightAfterBegin)
{
    ASSERT_NE(0, image_create(0, 1000, 600));
    image_get(0);
    ASSERT_NE(nullptr, drawing_begin(image_output()));
    draw_box(0, 0, 1000, 600, WHITE);
    drawing_end();
    image_get(0);
    ASSERT_NE(nullptr, drawing_begin(image_output()));
    draw_box(0, 0, 1000, 300);
    drawing_end();
    Pixels pixels = bitmap_pixels(static_cast<HBITMAP>(image_get(0)));
    expect_exactly(pixels, 0, 0, 0, 1000, 300);
    // The platform rectangle orders its corners itself.
    Pixels reversed = drawn(50, 50, [] {
        draw_box(0, 0, 50, 50, WHITE);
        draw_box(20, 20, -5, -6);
    });
    expect_exactly(reversed, 0, 15, 14, 20, 20);
}

TEST(DrawingPrimitives, PlotSetsOnePixelAndNothingOutsideAPass)
{
    Pixels pixels = drawn(10, 10, [] {
        draw_plot(3, 4, GREEN);
        draw_plot(-1, 4, GREEN);
        draw_plot(10, 4, GREEN);
    });
    expect_exactly(pixels, pixel_of(GREEN), 3, 4, 4, 5);
    draw_plot(5, 5, GREEN);
    EXPECT_EQ(1, bitmap_pixels(static_cast<HBITMAP>(image_get(0))).count(pixel_of(GREEN)));
}

TEST(DrawingPrimitives, LinesIncludeBothEndPointsAndAreClipped)
{
    expect_exactly(drawn(1000, 600, [] { draw_line(0, 150, 1000, 150, 0x931A1E); }), pixel_of(0x931A1E), 0, 150, 1000,
                   151);
    expect_exactly(drawn(50, 50, [] { draw_line(20, 10, 20, 30, RED); }), pixel_of(RED), 20, 10, 21, 31);
    expect_exactly(drawn(50, 50, [] { draw_line(30, 40, 25, 40, RED); }), pixel_of(RED), 25, 40, 31, 41);
    expect_exactly(drawn(50, 50, [] { draw_line(-50, 5, 10, 5, RED); }), pixel_of(RED), 0, 5, 11, 6);
    Pixels sloped = drawn(50, 50, [] { draw_line(0, 0, 9, 9, RED); });
    EXPECT_EQ(pixel_of(RED), sloped.at(0, 0));
    EXPECT_EQ(pixel_of(RED), sloped.at(9, 9));
    EXPECT_EQ(10, sloped.count(pixel_of(RED)));
}

TEST(DrawingPrimitives, LineWithoutColourOrColourMinusOneUsesTheCurrentColour)
{
    Pixels pixels = drawn(20, 20, [] {
        draw_box(0, 0, 20, 20, WHITE);
        draw_line(0, 3, 9, 3);
        draw_line(0, 6, 9, 6, CLR_INVALID);
    });
    EXPECT_EQ(10, pixels.count(0, 0, 3, 20, 4)) << "no colour draws black, end point included";
    EXPECT_EQ(10, pixels.count(0, 0, 6, 20, 7)) << "colour -1 draws black, end point included";
    EXPECT_EQ(20 * 20 - 20, pixels.count(pixel_of(WHITE)));
}

TEST(DrawingPrimitives, ImageCopiesAtItsOwnSizeOrStretched)
{
    HGDIOBJ pattern = make_pattern(2);
    ASSERT_NE(nullptr, pattern);
    Pixels copied = drawn(20, 20, [=] { draw_image(pattern, 10, 5); });
    Pixels source = bitmap_pixels(static_cast<HBITMAP>(pattern));
    for (int32_t y = 0; y < 2; ++y)
        for (int32_t x = 0; x < 4; ++x) EXPECT_EQ(source.at(x, y), copied.at(10 + x, 5 + y)) << x << "," << y;
    EXPECT_EQ(20 * 20 - 8, copied.count(0)) << "nothing but the copy";

    Pixels own_size = drawn(20, 20, [=] { draw_image(pattern, 0, 0, 200, 0); });
    EXPECT_EQ(pixel_of(WHITE), own_size.at(3, 0)) << "w = 200, h = 0 copies at the bitmap's own size";
    EXPECT_EQ(0u, own_size.at(4, 0));

    drawn(
        4, 2, [] { draw_box(0, 0, 4, 2, RED); }, 3);
    HGDIOBJ solid = image_get(3);
    expect_exactly(drawn(40, 40, [=] { draw_image(solid, 3, 2, 16, 8); }), pixel_of(RED), 3, 2, 19, 10);
}

TEST(DrawingPrimitives, ImageOfTheOpenPassOrNoImageDrawsNothing)
{
    HGDIOBJ pattern = make_pattern(2);
    image_get(2);
    ASSERT_NE(nullptr, drawing_begin(image_output()));
    draw_image(pattern, 1, 0); // selected in this very pass
    draw_image(nullptr, 0, 0);
    draw_image(::GetStockObject(WHITE_BRUSH), 0, 0);
    drawing_end();
    Pixels after = bitmap_pixels(static_cast<HBITMAP>(pattern));
    EXPECT_EQ(pixel_of(RED), after.at(0, 0));
    EXPECT_EQ(pixel_of(GREEN), after.at(1, 0)) << "the image was not copied onto itself";
    EXPECT_EQ(pixel_of(WHITE), after.at(3, 0));
}

TEST(DrawingPrimitives, InvertModeInvertsLinesRectanglesAndCopies)
{
    HGDIOBJ pattern = make_pattern(2);
    Pixels pixels = drawn(20, 20, [=] {
        draw_box(0, 0, 20, 10, WHITE);
        drawing_mode(DRAW_MODE_INVERT);
        draw_line(0, 2, 9, 2, RED);
        draw_box(0, 5, 4, 3);        // outline and inside invert: white turns black
        draw_box(10, 5, 4, 3, BLUE); // a fill ignores the flag
        draw_image(pattern, 0, 15);  // NOTSRCERASE: not (source or destination)
        draw_plot(15, 2, RED);       // single pixels are set, not inverted
        draw_box(17, 2, 1, 1, GREEN);
    });
    EXPECT_EQ(pixel_of(RED), pixels.at(15, 2));
    EXPECT_EQ(pixel_of(GREEN), pixels.at(17, 2));
    EXPECT_EQ(9, pixels.count(0, 0, 2, 9, 3)) << "inverted white is black";
    EXPECT_EQ(pixel_of(RED), pixels.at(9, 2)) << "the end point is set in the colour";
    EXPECT_EQ(12, pixels.count(0, 0, 5, 4, 8));
    EXPECT_EQ(12, pixels.count(pixel_of(BLUE), 10, 5, 14, 8));
    EXPECT_EQ(0x00FFFFu, pixels.at(0, 15)) << "not red over black is cyan";
    EXPECT_EQ(0u, pixels.at(3, 15)) << "not white is black";
}

TEST(DrawingPrimitives, OutlineModeLeavesTheInsideAlone)
{
    Pixels pixels = drawn(30, 30, [] {
        drawing_mode(DRAW_MODE_OUTLINE);
        draw_box(10, 10, 5, 4, GREEN);
        draw_box(0, 20, 30, 10, WHITE); // a box in another colour than the pen's
    });
    EXPECT_EQ(2 * 5 + 2 * 4 - 4, pixels.count(pixel_of(GREEN), 10, 10, 15, 14));
    EXPECT_EQ(6, pixels.count(0, 11, 11, 14, 13)) << "inside stays black";
    EXPECT_EQ(28 * 8, pixels.count(0, 1, 21, 29, 29));
}

TEST(DrawingPrimitives, IconsDrawAtTheirOwnSizeOrStretched)
{
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof(header);
    header.bV5Width = 8;
    header.bV5Height = -8;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_RGB;
    void* bits = nullptr;
    HDC screen = ::GetDC(nullptr);
    HBITMAP colour =
        ::CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    ::ReleaseDC(nullptr, screen);
    ASSERT_NE(nullptr, colour);
    for (int i = 0; i < 64; ++i) static_cast<uint32_t*>(bits)[i] = 0xFF0000FF; // opaque blue
    HBITMAP mask = ::CreateBitmap(8, 8, 1, 1, nullptr);
    ICONINFO info{TRUE, 0, 0, mask, colour};
    HICON icon = ::CreateIconIndirect(&info);
    ::DeleteObject(colour);
    ::DeleteObject(mask);
    ASSERT_NE(nullptr, icon);
    expect_exactly(drawn(30, 30, [=] { draw_image(icon, 2, 3); }), pixel_of(BLUE), 2, 3, 10, 11);
    expect_exactly(drawn(30, 30, [=] { draw_image(icon, 0, 0, 16, 4); }), pixel_of(BLUE), 0, 0, 16, 4);
    ::DestroyIcon(icon);
}

TEST(DrawingPrimitives, DibCaptureIsABottomUpTwentyFourBitCopy)
{
    HGDIOBJ pattern = make_pattern(2);
    HGLOBAL block = dib_capture(static_cast<HBITMAP>(pattern), nullptr);
    ASSERT_NE(nullptr, block);
    auto* header = static_cast<BITMAPINFOHEADER*>(::GlobalLock(block));
    EXPECT_EQ(40u, header->biSize);
    EXPECT_EQ(4, header->biWidth);
    EXPECT_EQ(2, header->biHeight);
    EXPECT_EQ(24, header->biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header->biCompression);
    EXPECT_EQ(40u + 2 * 12, ::GlobalSize(block));
    const uint8_t* rows = reinterpret_cast<uint8_t*>(header) + 40;
    // Bottom row first: white, blue, green, red as blue-green-red triples.
    const uint8_t bottom[12] = {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF};
    const uint8_t top[12] = {0, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0, std::memcmp(bottom, rows, 12));
    EXPECT_EQ(0, std::memcmp(top, rows + 12, 12));
    ::GlobalUnlock(block);
    ::GlobalFree(block);
    EXPECT_EQ(nullptr, dib_capture(nullptr, nullptr));
}

TEST(DrawingPrimitives, DibRowsArePaddedToFourBytes)
{
    EXPECT_EQ(4u, dib_row_bytes24(1));
    EXPECT_EQ(12u, dib_row_bytes24(4));
    EXPECT_EQ(16u, dib_row_bytes24(5));
    EXPECT_EQ(3000u, dib_row_bytes24(1000));
}
