// Numbered off-screen images: a table on the main heap indexed by number, and
// dynamic images on the object heap known by the address of their record.
#include "image/image.h"

#include "core/numbered_table.h"
#include "core/runtime.h"
#include "image/drawing.h"
#include "drawing_pass.h"
#include "image_report.h"

struct ImageRecord {
    HGDIOBJ handle; // bitmap or icon; 0 means the slot is empty
    int16_t width;
    int16_t height;
    int16_t depth;
};
static_assert(sizeof(void*) == 8 || sizeof(ImageRecord) == 12, "a handle and three 16-bit fields, padded to 12 bytes");

constexpr int32_t IMAGE_FIRST_CAPACITY = 10;
constexpr int32_t IMAGE_GROWTH = 10;

static struct ImageService {
    NumberedTable images; // numbered images and dynamic ones
    ImageRecord* current; // what the last image_get or image_create designated
} images;

void images_init()
{
    images = ImageService{};
    table_init(&images.images, sizeof(ImageRecord), IMAGE_FIRST_CAPACITY, IMAGE_GROWTH);
}

// The one place that turns a number or identifier into a record. A value that
// is neither a number in range nor a live dynamic identifier finds nothing and
// is never dereferenced.
static ImageRecord* image_find(ImageId id)
{
    return static_cast<ImageRecord*>(table_find(&images.images, id));
}

// The image's pixels. On a 32-bit display, a 32-bit device-independent section
// in the display's own pixel layout: the platform copies it to a window about
// twice as fast as a device-dependent bitmap. Any other display, or a zero
// size (which the platform answers with a one-pixel monochrome bitmap), gets
// the display-compatible bitmap.
static HBITMAP image_bitmap(HDC display, int32_t width, int32_t height)
{
    if (width > INT16_MAX || height > INT16_MAX) { // the record's sizes would wrap
        image_report("image of %ldx%ld pixels refused: 32767 at most each way", static_cast<long>(width),
                     static_cast<long>(height));
        return nullptr;
    }
    HBITMAP bitmap = nullptr;
    if (width <= 0 || height <= 0 || ::GetDeviceCaps(display, BITSPIXEL) != 32) {
        bitmap = ::CreateCompatibleBitmap(display, width, height);
    } else {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down, as the display keeps its rows
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* pixels = nullptr;
        bitmap = ::CreateDIBSection(display, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
    }
    if (!bitmap)
        image_report("the platform made no %ldx%ld bitmap (error %lu)", static_cast<long>(width),
                     static_cast<long>(height), ::GetLastError());
    return bitmap;
}

intptr_t image_create(ImageId number, int32_t width, int32_t height)
{
    images.current = static_cast<ImageRecord*>(table_claim(&images.images, number));
    if (!images.current) {
        image_report("image %ld refused: no such number, or no room for it", static_cast<long>(number));
        return 0;
    }
    image_free(number);

    HDC display = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    if (!display) image_report("no display to make image %ld for", static_cast<long>(number));
    HBITMAP bitmap = display ? image_bitmap(display, width, height) : nullptr;
    if (!bitmap) {
        if (display) ::DeleteDC(display);
        // An empty dynamic record would only wait for the end of the program.
        if (number == -1) table_release(&images.images, reinterpret_cast<ImageId>(images.current));
        images.current = nullptr;
        return 0;
    }
    BITMAP description{};
    ::GetObjectA(bitmap, sizeof(description), &description);
    ImageRecord* record = images.current;
    record->handle = bitmap;
    record->width = static_cast<int16_t>(description.bmWidth);
    record->height = static_cast<int16_t>(description.bmHeight);
    record->depth = static_cast<int16_t>(description.bmBitsPixel);
    if (DrawingTarget* target = image_output()) {
        RECT all{0, 0, description.bmWidth, description.bmHeight};
        ::FillRect(target->dc, &all, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
        image_dc_release();
    }
    ::DeleteDC(display);
    return number == -1 ? reinterpret_cast<intptr_t>(record) : reinterpret_cast<intptr_t>(bitmap);
}

HGDIOBJ image_get(ImageId id)
{
    images.current = image_find(id);
    return images.current ? images.current->handle : nullptr;
}

// A record whose image was freed since it was designated is no current image.
static ImageRecord* image_current()
{
    return images.current && images.current->handle ? images.current : nullptr;
}

int32_t image_width()
{
    return image_current() ? image_current()->width : 0;
}
int32_t image_height()
{
    return image_current() ? image_current()->height : 0;
}
int32_t image_depth()
{
    return image_current() ? image_current()->depth : 0;
}
HGDIOBJ image_handle()
{
    return image_current() ? image_current()->handle : nullptr;
}

void image_free(ImageId id)
{
    if (id == -1) return;
    ImageRecord* record = image_find(id);
    if (!record) return;
    // A bitmap still selected in the image DC cannot be deleted: let go of it first.
    if (image_dc_holds(record->handle)) image_dc_release();
    if (::GetObjectType(record->handle) == OBJ_BITMAP)
        ::DeleteObject(record->handle);
    else
        ::DestroyIcon(static_cast<HICON>(record->handle));
    if (!table_is_number(&images.images, id) && images.current == record) images.current = nullptr;
    table_release(&images.images, id);
}

void images_free_all()
{
    table_for_each(&images.images, image_free, false);
    images.current = nullptr;
}
