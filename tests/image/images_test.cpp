// Numbered and dynamic images: creation, lookup, replacement and freeing.
#include "core/numbered_table.h"
#include "debug_lines.h"
#include "image/drawing.h"
#include "image/image.h"
#include "image_pixels.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {
bool gdi_object_alive(HGDIOBJ handle)
{
    return ::GetObjectType(handle) != 0;
}

int32_t screen_depth()
{
    HDC screen = ::GetDC(nullptr);
    int32_t bits = ::GetDeviceCaps(screen, BITSPIXEL);
    ::ReleaseDC(nullptr, screen);
    return bits;
}
} // namespace

TEST(ImageObjects, NewImageIsBlackAndHasTheScreensDepth)
{
    intptr_t handle = image_create(0, 1000, 600);
    ASSERT_NE(0, handle) << "image_create(0, 1000, 600) failed";
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(handle), image_get(0));
    EXPECT_EQ(1000, image_width());
    EXPECT_EQ(600, image_height());
    EXPECT_EQ(screen_depth(), image_depth());
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(handle), image_handle());
    Pixels pixels = bitmap_pixels(reinterpret_cast<HBITMAP>(handle));
    ASSERT_EQ(1000, pixels.width);
    EXPECT_EQ(1000 * 600, pixels.count(0)) << "every pixel of a new image is black";
}

TEST(ImageObjects, ZeroSizeGivesTheOnePixelMonochromeRecord)
{
    ASSERT_NE(0, image_create(3, 0, 50));
    ASSERT_NE(nullptr, image_get(3));
    EXPECT_EQ(1, image_width());
    EXPECT_EQ(1, image_height());
    EXPECT_EQ(1, image_depth());
    ASSERT_NE(0, image_create(3, 40, 0));
    ASSERT_NE(nullptr, image_get(3));
    EXPECT_EQ(1, image_depth()) << "a zero height is the same one-pixel bitmap";
}

TEST(ImageObjects, HighNumbersGrowTheTableAndKeepItsImages)
{
    ASSERT_NE(0, image_create(0, 8, 8));
    HGDIOBJ zero = image_get(0);
    for (ImageId number : {10, 35}) {
        ASSERT_NE(0, image_create(number, 4, 4)) << "creating number " << number << " grows the table";
        EXPECT_EQ(zero, image_get(0)) << "existing images keep their records";
        EXPECT_NE(nullptr, image_get(number));
        EXPECT_EQ(nullptr, image_get(number + 1)) << "new records are empty";
    }
}

TEST(ImageObjects, ReusingANumberReplacesTheImage)
{
    intptr_t first = image_create(2, 4, 4);
    ASSERT_NE(0, first);
    long objects = gdi_object_count();
    intptr_t second = image_create(2, 8, 6);
    ASSERT_NE(0, second);
    EXPECT_EQ(objects, gdi_object_count()) << "the old bitmap is deleted, not leaked";
    EXPECT_EQ(reinterpret_cast<HGDIOBJ>(second), image_get(2));
    EXPECT_EQ(8, image_width());
    EXPECT_EQ(6, image_height());
    if (first != second) {
        EXPECT_FALSE(gdi_object_alive(reinterpret_cast<HGDIOBJ>(first)));
    }
}

TEST(ImageObjects, ReplacingAnImageThatIsSelectedForDrawingFreesIt)
{
    ASSERT_NE(0, image_create(4, 16, 16));
    HGDIOBJ old = image_get(4);
    DrawingTarget* stale = image_output();
    ASSERT_NE(nullptr, stale) << "the image DC holds image 4 now";
    long objects = gdi_object_count();
    ASSERT_NE(0, image_create(4, 16, 16));
    EXPECT_EQ(objects - 1, gdi_object_count()) << "old bitmap and image DC gone, one new bitmap made";
    if (old != image_get(4)) {
        EXPECT_FALSE(gdi_object_alive(old));
    }
    EXPECT_EQ(nullptr, drawing_begin(stale)) << "a target whose context was deleted opens no pass";
}

TEST(ImageObjects, DynamicImagesHaveTheirOwnIdentifiers)
{
    intptr_t a = image_create(-1, 5, 6);
    intptr_t b = image_create(-1, 7, 8);
    ASSERT_NE(0, a);
    ASSERT_NE(0, b);
    EXPECT_NE(a, b);
    EXPECT_GE(a, TABLE_NUMBER_LIMIT) << "an identifier never falls among the numbers";
    EXPECT_GE(b, TABLE_NUMBER_LIMIT);
    HGDIOBJ a_handle = image_get(a);
    ASSERT_NE(nullptr, a_handle);
    EXPECT_EQ(5, image_width());
    HGDIOBJ b_handle = image_get(b);
    ASSERT_NE(nullptr, b_handle);
    EXPECT_EQ(8, image_height());
    EXPECT_NE(a_handle, b_handle);

    image_free(a);
    EXPECT_FALSE(gdi_object_alive(a_handle));
    EXPECT_EQ(nullptr, image_get(a)) << "a freed identifier finds nothing";
    image_free(a); // the record is gone: nothing is read or written
    EXPECT_EQ(b_handle, image_get(b));
    image_free(b);
}

TEST(ImageObjects, ValuesThatAreNeitherNumbersNorLiveIdentifiersFindNothing)
{
    ASSERT_NE(0, image_create(1, 4, 4));
    HGDIOBJ one = image_get(1);
    int32_t not_an_image[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
    const intptr_t strangers[] = {-1, -7, INTPTR_MIN, INTPTR_MAX, reinterpret_cast<intptr_t>(not_an_image), 9999};
    for (intptr_t id : strangers) {
        EXPECT_EQ(nullptr, image_get(id)) << "id " << id;
        EXPECT_EQ(0, image_width());
        EXPECT_EQ(nullptr, image_handle());
        image_free(id);
    }
    EXPECT_EQ(0x11111111, not_an_image[0]);
    EXPECT_EQ(0x44444444, not_an_image[3]) << "a stranger's memory is never written";
    EXPECT_EQ(one, image_get(1)) << "freeing strangers leaves real images alone";

    EXPECT_EQ(0, image_create(-2, 4, 4));
    EXPECT_EQ(0, image_create(1000000, 4, 4)) << "numbers that could meet identifiers are refused";
}

TEST(ImageObjects, MissingImageLeavesNoCurrentImage)
{
    ASSERT_NE(0, image_create(5, 4, 4));
    ASSERT_NE(nullptr, image_get(5));
    EXPECT_EQ(nullptr, image_get(7)) << "number 7 was never created";
    EXPECT_EQ(0, image_width());
    EXPECT_EQ(0, image_depth());
    EXPECT_EQ(nullptr, image_output()) << "no current image: no target";
}

TEST(ImageObjects, FailedCreationEmptiesTheNumber)
{
    intptr_t before = image_create(6, 4, 4);
    ASSERT_NE(0, before);
    EXPECT_EQ(0, image_create(6, 200000, 200000)) << "no room for 160 GB";
    EXPECT_EQ(nullptr, image_get(6)) << "the old image went before the failed creation";
    EXPECT_FALSE(gdi_object_alive(reinterpret_cast<HGDIOBJ>(before)));
    EXPECT_EQ(0, image_create(-1, 200000, 200000));

    // Sizes are kept in 16 bits: a side past 32767 is refused, not wrapped.
    DebugLines debug;
    ASSERT_NE(0, image_create(6, 32767, 2));
    EXPECT_EQ(32767, image_width());
    for (intptr_t number : {6, -1}) {
        EXPECT_EQ(0, image_create(number, 32768, 2)) << "number " << number;
        EXPECT_EQ(0, image_create(number, 2, 40000)) << "number " << number;
    }
    EXPECT_EQ(nullptr, image_get(6));
    EXPECT_TRUE(debug.contains("sondrel: image of 2x40000 pixels refused: 32767 at most each way\n")) << debug.all();
    EXPECT_EQ(0, image_create(-2, 4, 4));
    EXPECT_TRUE(debug.contains("sondrel: image -2 refused: no such number, or no room for it\n")) << debug.all();
}

TEST(ImageObjects, FreeAllFreesDynamicAndNumberedImages)
{
    images_free_all();
    long objects = gdi_object_count();
    intptr_t a = image_create(-1, 3, 3);
    intptr_t b = image_create(-1, 3, 3);
    ASSERT_NE(0, image_create(0, 3, 3));
    ASSERT_NE(0, image_create(9, 3, 3));
    HGDIOBJ handles[] = {image_get(a), image_get(b), image_get(0), image_get(9)};
    for (HGDIOBJ handle : handles) ASSERT_NE(nullptr, handle);
    images_free_all();
    for (HGDIOBJ handle : handles) EXPECT_FALSE(gdi_object_alive(handle));
    EXPECT_EQ(nullptr, image_get(a));
    EXPECT_EQ(nullptr, image_get(b));
    EXPECT_EQ(nullptr, image_get(0));
    EXPECT_EQ(objects, gdi_object_count());
}
