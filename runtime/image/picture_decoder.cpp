// The picture decoder: every format the platform's OLE picture loader reads.
// Per-load values sit in thread-local slots, so one load may run on each thread.
#include "image/decoders.h"

#include "drawing_pass.h"
#include "image_report.h"
#include "picture_units.h"

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdlib>
#include <cstring>

static struct PictureDecoder {
    bool com_started; // CoInitialize succeeded and needs its CoUninitialize
    bool ole_ready;   // the decoder is on
    bool slots_made;
    float scale_x; // pixels per HIMETRIC unit
    float scale_y;
    DWORD picture_slot;
    DWORD width_slot;
    DWORD height_slot;
} pictures;

static IPicture* picture_loaded()
{
    return static_cast<IPicture*>(::TlsGetValue(pictures.picture_slot));
}

static void picture_release()
{
    if (IPicture* picture = picture_loaded()) picture->Release();
    ::TlsSetValue(pictures.picture_slot, nullptr);
}

void picture_init()
{
    pictures = PictureDecoder{};
    HRESULT started = ::CoInitialize(nullptr);
    pictures.com_started = SUCCEEDED(started);
    if (started != S_OK) {
        image_report("picture decoder off: CoInitialize gave 0x%08lX", static_cast<unsigned long>(started));
        return;
    }
    pictures.ole_ready = true;
    HWND desktop = ::GetDesktopWindow();
    HDC dc = ::GetDC(desktop);
    pictures.scale_x = pixels_per_himetric(::GetDeviceCaps(dc, LOGPIXELSX));
    pictures.scale_y = pixels_per_himetric(::GetDeviceCaps(dc, LOGPIXELSY));
    ::ReleaseDC(desktop, dc);
    pictures.picture_slot = ::TlsAlloc();
    pictures.width_slot = ::TlsAlloc();
    pictures.height_slot = ::TlsAlloc();
    pictures.slots_made = true;
    if (pictures.picture_slot == TLS_OUT_OF_INDEXES || pictures.width_slot == TLS_OUT_OF_INDEXES ||
        pictures.height_slot == TLS_OUT_OF_INDEXES) {
        image_report("picture decoder off: no thread-local slots");
        pictures.ole_ready = false;
    }
}

void picture_shutdown()
{
    if (pictures.slots_made) {
        if (pictures.picture_slot != TLS_OUT_OF_INDEXES) {
            picture_release();
            ::TlsFree(pictures.picture_slot);
        }
        if (pictures.width_slot != TLS_OUT_OF_INDEXES) ::TlsFree(pictures.width_slot);
        if (pictures.height_slot != TLS_OUT_OF_INDEXES) ::TlsFree(pictures.height_slot);
    }
    // Only our own CoInitialize is balanced; one that failed has nothing to undo.
    if (pictures.com_started) ::CoUninitialize();
    pictures = PictureDecoder{};
}

// The data as a movable global block of exactly its own size (in *size), or null.
static HGLOBAL picture_block(const MemoryBlock* memory, const char* path, size_t* size_out)
{
    if (path) {
        HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            image_report("cannot open image %s (error %lu)", path, ::GetLastError());
            return nullptr;
        }
        DWORD size = ::GetFileSize(file, nullptr);
        HGLOBAL block = size != 0 && size != INVALID_FILE_SIZE ? ::GlobalAlloc(GMEM_MOVEABLE, size) : nullptr;
        void* bytes = block ? ::GlobalLock(block) : nullptr;
        DWORD read = 0;
        bool whole = bytes && ::ReadFile(file, bytes, size, &read, nullptr) && read == size;
        if (bytes) ::GlobalUnlock(block);
        ::CloseHandle(file);
        if (!whole) {
            if (size == 0)
                image_report("image %s is empty", path);
            else if (!bytes && size != INVALID_FILE_SIZE)
                image_report("no memory for the %lu bytes of image %s", static_cast<unsigned long>(size), path);
            else
                image_report("cannot read image %s", path);
            if (block) ::GlobalFree(block);
            block = nullptr;
        }
        *size_out = size;
        return block;
    }
    // The caller says how long the block is; nothing beyond it is read.
    if (!memory || !memory->data) return nullptr;
    if (memory->size == 0 || memory->size > 0x7FFFFFFF) {
        image_report("no picture in %lu bytes", static_cast<unsigned long>(memory->size));
        return nullptr;
    }
    HGLOBAL block = ::GlobalAlloc(GMEM_MOVEABLE, memory->size);
    void* bytes = block ? ::GlobalLock(block) : nullptr;
    if (!bytes) {
        image_report("no memory for a copy of the image's %lu bytes", static_cast<unsigned long>(memory->size));
        if (block) ::GlobalFree(block);
        return nullptr;
    }
    std::memcpy(bytes, memory->data, memory->size);
    ::GlobalUnlock(block);
    *size_out = memory->size;
    return block;
}

static uint32_t read_le32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24;
}

// The platform's loader believes a bitmap's own header size and reads past the
// data when it lies. A bitmap must hold its file header and an info header of
// a known size; anything else is left to the loader's own checks.
static bool bitmap_headers_fit(HGLOBAL block, size_t size)
{
    const auto* data = static_cast<const uint8_t*>(::GlobalLock(block));
    if (!data) return false;
    bool fits = true;
    if (size >= 2 && data[0] == 'B' && data[1] == 'M') {
        constexpr size_t FILE_HEADER = 14;
        static const uint32_t KNOWN_INFO_SIZES[] = {12, 16, 40, 52, 56, 64, 108, 124};
        uint32_t info_size = size >= FILE_HEADER + 4 ? read_le32(data + FILE_HEADER) : 0;
        fits = false;
        for (uint32_t known : KNOWN_INFO_SIZES) fits = fits || info_size == known;
        fits = fits && FILE_HEADER + info_size <= size && read_le32(data + 10) <= size;
    }
    ::GlobalUnlock(block);
    return fits;
}

static int picture_check(FILE*, const MemoryBlock* memory, const char* path)
{
    if (!pictures.ole_ready) return 0;
    picture_release(); // a load checked but never decoded
    size_t size = 0;
    HGLOBAL block = picture_block(memory, path, &size);
    if (!block) return 0;
    if (!bitmap_headers_fit(block, size)) {
        image_report("bitmap refused: its headers do not fit its %lu bytes", static_cast<unsigned long>(size));
        ::GlobalFree(block);
        return 0;
    }
    IStream* stream = nullptr;
    HRESULT streamed = ::CreateStreamOnHGlobal(block, TRUE, &stream);
    if (streamed != S_OK || !stream) {
        image_report("no stream for the picture (0x%08lX)", static_cast<unsigned long>(streamed));
        ::GlobalFree(block);
        return 0;
    }
    // From here the block belongs to the stream and goes with it.
    IPicture* picture = nullptr;
    HRESULT loaded = ::OleLoadPicture(stream, 0, TRUE, IID_IPicture, reinterpret_cast<void**>(&picture));
    stream->Release();
    if (loaded != S_OK || !picture) {
        image_report("picture refused by the platform's loader (0x%08lX)", static_cast<unsigned long>(loaded));
        if (picture) picture->Release();
        return 0;
    }
    OLE_XSIZE_HIMETRIC width = 0;
    OLE_YSIZE_HIMETRIC height = 0;
    picture->get_Width(&width);
    picture->get_Height(&height);
    ::TlsSetValue(pictures.picture_slot, picture);
    ::TlsSetValue(pictures.width_slot, reinterpret_cast<void*>(intptr_t{himetric_to_pixels(width, pictures.scale_x)}));
    ::TlsSetValue(pictures.height_slot,
                  reinterpret_cast<void*>(intptr_t{himetric_to_pixels(height, pictures.scale_y)}));
    return 1;
}

static int32_t picture_width()
{
    return pictures.ole_ready ? static_cast<int32_t>(reinterpret_cast<intptr_t>(::TlsGetValue(pictures.width_slot)))
                              : 0;
}

static int32_t picture_height()
{
    return pictures.ole_ready ? static_cast<int32_t>(reinterpret_cast<intptr_t>(::TlsGetValue(pictures.height_slot)))
                              : 0;
}

// Renders the picture at its pixel size and writes 8-bit blue, green, red rows
// pitch bytes apart, like every other decoder.
static int picture_render(IPicture* picture, uint8_t* first_row, intptr_t pitch, int32_t width, int32_t height)
{
    uint64_t dib_bytes = uint64_t{dib_row_bytes24(static_cast<uint32_t>(width))} * static_cast<uint32_t>(height);
    if (dib_bytes > 0x7FFFFFFF) {
        image_report("picture of %ldx%ld pixels is too large", static_cast<long>(width), static_cast<long>(height));
        return 0;
    }
    HWND desktop = ::GetDesktopWindow();
    HDC screen = ::GetDC(desktop);
    HDC memory = screen ? ::CreateCompatibleDC(screen) : nullptr;
    HBITMAP bitmap = memory ? ::CreateCompatibleBitmap(screen, width, height) : nullptr;
    if (screen) ::ReleaseDC(desktop, screen);
    auto* dib = static_cast<uint8_t*>(bitmap ? std::calloc(1, static_cast<size_t>(dib_bytes)) : nullptr);
    if (!dib)
        image_report("no room for a picture of %ldx%ld pixels%s", static_cast<long>(width), static_cast<long>(height),
                     bitmap ? "" : ": the platform made no bitmap");
    int rows = 0;
    if (dib) {
        HGDIOBJ replaced = ::SelectObject(memory, bitmap);
        RECT bounds{0, 0, width, height};
        short type = PICTYPE_UNINITIALIZED;
        picture->get_Type(&type);
        if (type == PICTYPE_METAFILE || type == PICTYPE_ENHMETAFILE)
            ::FillRect(memory, &bounds, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        OLE_XSIZE_HIMETRIC hm_width = 0;
        OLE_YSIZE_HIMETRIC hm_height = 0;
        picture->get_Width(&hm_width);
        picture->get_Height(&hm_height);
        picture->Render(memory, 0, 0, width, height, 0, hm_height, hm_width, -hm_height, &bounds);
        ::SelectObject(memory, replaced);

        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height; // top-down
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 24;
        info.bmiHeader.biCompression = BI_RGB;
        rows = ::GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), dib, &info, DIB_RGB_COLORS);
        if (rows <= 0) image_report("the rendered picture could not be read back");
        if (rows > 0) {
            uint32_t row_bytes = dib_row_bytes24(static_cast<uint32_t>(width));
            uint8_t* row = first_row;
            for (int32_t y = 0; y < height; ++y, row += pitch)
                std::memcpy(row, dib + size_t{row_bytes} * static_cast<uint32_t>(y), static_cast<size_t>(width) * 3);
        }
        std::free(dib);
    }
    if (bitmap) ::DeleteObject(bitmap);
    if (memory) ::DeleteDC(memory);
    return rows > 0 ? 1 : 0;
}

static int picture_decode(uint8_t* first_row, intptr_t pitch)
{
    if (!pictures.ole_ready) return 0;
    IPicture* picture = picture_loaded();
    if (!picture) return 0;
    int32_t width = picture_width();
    int32_t height = picture_height();
    if (width <= 0 || height <= 0)
        image_report("picture of no size (%ldx%ld pixels)", static_cast<long>(width), static_cast<long>(height));
    int result = first_row && width > 0 && height > 0 ? picture_render(picture, first_row, pitch, width, height) : 0;
    picture_release();
    return result;
}

static const ImageDecoder picture_decoder{picture_check, picture_decode, picture_width, picture_height};

int picture_decoder_register()
{
    decoder_register(&picture_decoder);
    return 1;
}
