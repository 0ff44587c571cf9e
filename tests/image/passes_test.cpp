// Drawing passes on images and windows: sequencing, targets and GDI objects.
#include "image/drawing.h"
#include "image/image.h"
#include "window/window.h"
#include "image_pixels.h"

#include <gtest/gtest.h>

namespace {
constexpr COLORREF RED = 0x0000FF;
constexpr COLORREF WHITE = 0xFFFFFF;

HDC image_pass(ImageId number)
{
    image_get(number);
    return drawing_begin(image_output());
}

bool dc_alive(HDC dc)
{
    return ::GetObjectType(dc) != 0;
}
} // namespace

TEST(DrawingPasses, EndingWithoutAPassOrTwiceIsHarmless)
{
    drawing_end();
    ASSERT_NE(0, image_create(0, 20, 20));
    HDC dc = image_pass(0);
    ASSERT_NE(nullptr, dc);
    drawing_end();
    drawing_end();
    EXPECT_FALSE(dc_alive(dc)) << "an image pass deletes its image DC when it ends";
    draw_plot(1, 1, WHITE);
    draw_box(0, 0, 20, 20, WHITE);
    EXPECT_EQ(400, bitmap_pixels(static_cast<HBITMAP>(image_get(0))).count(0)) << "no pass, no drawing";
}

TEST(DrawingPasses, NoTargetOpensNoPass)
{
    EXPECT_EQ(nullptr, drawing_begin(nullptr));
    DrawingTarget no_window{};
    no_window.kind = TARGET_WINDOW;
    EXPECT_EQ(nullptr, drawing_begin(&no_window)) << "a window pass without a window draws nowhere";
    ASSERT_EQ(nullptr, image_get(77));
    EXPECT_EQ(nullptr, drawing_begin(image_output())) << "no current image";
}

TEST(DrawingPasses, PassStartsInBlackAndBlackNeedsNoNewObjects)
{
    ASSERT_NE(0, image_create(0, 40, 30));
    ASSERT_NE(nullptr, image_pass(0));
    draw_box(0, 0, 40, 30, WHITE);
    long objects = gdi_object_count();
    draw_box(0, 0, 10, 10, 0);
    draw_line(0, 20, 39, 20, 0);
    draw_line(0, 25, 39, 25);
    draw_box(20, 0, 10, 10);
    EXPECT_EQ(objects, gdi_object_count()) << "the current colour reuses the pass's brush and pen";
    drawing_end();
    Pixels pixels = bitmap_pixels(static_cast<HBITMAP>(image_get(0)));
    EXPECT_EQ(100, pixels.count(0, 0, 0, 10, 10));
    EXPECT_EQ(100, pixels.count(0, 20, 0, 30, 10));
    EXPECT_EQ(40, pixels.count(0, 0, 20, 40, 21));
    EXPECT_EQ(40, pixels.count(0, 0, 25, 40, 26));
}

TEST(DrawingPasses, WindowPassOpenedDuringAnImagePassEndsItFirst)
{
    intptr_t window = window_open(0, 20, 20, 200, 150, 0, "image passes");
    ASSERT_NE(0, window) << "the window runtime could not open a window";
    ASSERT_NE(0, image_create(1, 200, 150));
    HDC image_dc = image_pass(1);
    ASSERT_NE(nullptr, image_dc);
    draw_box(0, 0, 200, 150, RED);
    HDC window_dc = drawing_begin(window_output());
    ASSERT_NE(nullptr, window_dc);
    EXPECT_FALSE(dc_alive(image_dc)) << "the image pass ended and its DC went";
    draw_image(image_get(1), 0, 0); // no longer selected anywhere, so it can be copied
    drawing_end();
    Pixels shown = window_pixels(reinterpret_cast<HWND>(window));
    ASSERT_EQ(200, shown.width);
    EXPECT_EQ(200 * 150, shown.count(pixel_of(RED)));
}

TEST(DrawingPasses, WindowOutputFollowsTheCurrentWindow)
{
    intptr_t first = window_open(0, 20, 20, 100, 80, 0, "first");
    ASSERT_NE(0, first);
    DrawingTarget* target = window_output();
    EXPECT_EQ(TARGET_WINDOW, target->kind);
    EXPECT_EQ(reinterpret_cast<HWND>(first), target->window);
    intptr_t second = window_open(1, 400, 20, 100, 80, 0, "second");
    ASSERT_NE(0, second);
    EXPECT_EQ(reinterpret_cast<HWND>(second), window_output()->window);

    ASSERT_NE(nullptr, drawing_begin(window_output()));
    draw_box(0, 0, 100, 80, RED);
    drawing_end();
    EXPECT_EQ(100 * 80, window_pixels(reinterpret_cast<HWND>(second)).count(pixel_of(RED)));

    window_close(1);
    EXPECT_EQ(nullptr, drawing_begin(window_output())) << "a closed current window gives no context";
    draw_box(0, 0, 100, 80, RED);
}

TEST(DrawingPasses, ImageOutputDuringAnImagePassEndsThatPass)
{
    ASSERT_NE(0, image_create(0, 10, 10));
    ASSERT_NE(0, image_create(1, 10, 10));
    HDC first = image_pass(0);
    ASSERT_NE(nullptr, first);
    image_get(1);
    DrawingTarget* second = image_output();
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(dc_alive(first));
    draw_box(0, 0, 10, 10, RED); // the pass is over: draws nowhere
    ASSERT_NE(nullptr, drawing_begin(second));
    draw_box(0, 0, 10, 10, RED);
    drawing_end();
    EXPECT_EQ(100, bitmap_pixels(static_cast<HBITMAP>(image_get(0))).count(0));
    EXPECT_EQ(100, bitmap_pixels(static_cast<HBITMAP>(image_get(1))).count(pixel_of(RED)));
}

TEST(DrawingPasses, TargetOfAnEndedPassOpensNothing)
{
    ASSERT_NE(0, image_create(0, 10, 10));
    image_get(0);
    DrawingTarget* target = image_output();
    ASSERT_NE(nullptr, drawing_begin(target));
    drawing_end();
    EXPECT_EQ(nullptr, drawing_begin(target)) << "its image DC was deleted with the pass";
    ASSERT_NE(nullptr, drawing_begin(target = image_output()));
    EXPECT_EQ(nullptr, drawing_begin(target)) << "beginning again ends the pass and deletes the DC first";
}

TEST(DrawingPasses, ImageCreateDuringAnImagePassEndsItCleanly)
{
    ASSERT_NE(0, image_create(0, 10, 10));
    HDC dc = image_pass(0);
    ASSERT_NE(nullptr, dc);
    long objects = gdi_object_count();
    ASSERT_NE(0, image_create(8, 10, 10));
    EXPECT_FALSE(dc_alive(dc));
    EXPECT_EQ(objects - 1, gdi_object_count()) << "the pass's image DC and brush gone, one bitmap made";
    drawing_end();
    draw_plot(0, 0, RED);
}

TEST(DrawingPasses, TenThousandColouredPassesLeakNoGdiObjects)
{
    intptr_t window = window_open(0, 20, 20, 100, 100, 0, "leaks");
    ASSERT_NE(0, window);
    ASSERT_NE(0, image_create(0, 100, 100));
    ASSERT_NE(0, image_create(1, 100, 100));
    long objects = gdi_object_count();
    ASSERT_GT(objects, 0) << "the GDI object count cannot be read";
    for (int pass = 0; pass < 10000; ++pass) {
        image_pass(pass & 1);
        draw_box(0, 0, 100, 50, 0x030113);
        draw_box(pass % 100, 50, 3, -10, 0x1306C9);
        draw_plot(pass % 100, 20, 0x00FF00);
        draw_line(0, 30, 100, 30, 0x931A1E);
        drawing_mode(DRAW_MODE_OUTLINE | DRAW_MODE_INVERT);
        draw_box(5, 5, 20, 20, 0xA0A0A0);
        draw_image(image_get((pass & 1) ^ 1), 50, 50, 20, 20);
        drawing_end();
        if (pass % 10 == 0) {
            drawing_begin(window_output());
            draw_image(image_get(0), 0, 0);
            draw_line(0, 0, 99, 99, 0x123456);
            drawing_end();
        }
    }
    EXPECT_EQ(objects, gdi_object_count());
}
