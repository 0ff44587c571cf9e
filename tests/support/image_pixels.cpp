#include "image_pixels.h"

int64_t Pixels::count(uint32_t value, int32_t x0, int32_t y0, int32_t x1, int32_t y1) const
{
    int64_t n = 0;
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x) n += at(x, y) == value;
    return n;
}

BITMAPINFO top_down_dib_info(int32_t width, int32_t height)
{
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

static Pixels dib_read(HDC dc, HBITMAP bitmap, int32_t width, int32_t height)
{
    Pixels pixels;
    pixels.width = width;
    pixels.height = height;
    pixels.values.assign(static_cast<size_t>(width) * height, 0xDEADBEEF);
    BITMAPINFO info = top_down_dib_info(width, height);
    if (::GetDIBits(dc, bitmap, 0, height, pixels.values.data(), &info, DIB_RGB_COLORS) != height)
        pixels.values.assign(pixels.values.size(), 0xDEADBEEF);
    for (uint32_t& value : pixels.values) value &= 0x00FFFFFF;
    return pixels;
}

Pixels bitmap_pixels(HBITMAP bitmap)
{
    BITMAP description{};
    if (::GetObjectA(bitmap, sizeof(description), &description) != sizeof(description)) return Pixels{};
    HDC screen = ::GetDC(nullptr);
    Pixels pixels = dib_read(screen, bitmap, description.bmWidth, description.bmHeight);
    ::ReleaseDC(nullptr, screen);
    return pixels;
}

Pixels window_pixels(HWND window)
{
    RECT client{};
    ::GetClientRect(window, &client);
    HDC dc = ::GetDC(window);
    HDC memory = ::CreateCompatibleDC(dc);
    HBITMAP copy = ::CreateCompatibleBitmap(dc, client.right, client.bottom);
    HGDIOBJ replaced = ::SelectObject(memory, copy);
    ::BitBlt(memory, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    ::SelectObject(memory, replaced);
    Pixels pixels = dib_read(dc, copy, client.right, client.bottom);
    ::DeleteObject(copy);
    ::DeleteDC(memory);
    ::ReleaseDC(window, dc);
    return pixels;
}

#ifndef _WIN64
// A 32-bit process in a 64-bit Wine prefix: Wine files the table only in the
// process's 64-bit process block, reached through the thread's 64-bit block,
// whose address the 32-bit one keeps (at GdiBatchCount, 0xF70).
static const unsigned char* gdi_table_of_64bit_block()
{
    const char* thread = nullptr;
    __asm__("movl %%fs:0x18, %0" : "=r"(thread));
    const uint32_t thread64 = *reinterpret_cast<const uint32_t*>(thread + 0xF70);
    if (!thread64) return nullptr;
    const char* block = reinterpret_cast<const char*>(static_cast<uintptr_t>(thread64));
    // A thread block holds its own address (NT_TIB.Self): anything else is not one.
    if (*reinterpret_cast<const uint64_t*>(block + 0x30) != thread64) return nullptr;
    const uint64_t process64 = *reinterpret_cast<const uint64_t*>(block + 0x60);
    if (!process64 || process64 > UINT32_MAX) return nullptr;
    const uint64_t table = *reinterpret_cast<const uint64_t*>(static_cast<uintptr_t>(process64) + 0xF8);
    if (table > UINT32_MAX) return nullptr;
    return reinterpret_cast<const unsigned char*>(static_cast<uintptr_t>(table));
}
#endif

long gdi_object_count()
{
    long count = static_cast<long>(::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS));
    if (count) return count;
    // Wine answers 0 above; its process-wide handle table (which the process
    // block points to, as on Windows) says which entries hold an object.
    char* process = nullptr;
#ifdef _WIN64
    __asm__("movq %%gs:0x60, %0" : "=r"(process));
    const unsigned char* table = *reinterpret_cast<unsigned char**>(process + 0xF8);
#else
    __asm__("movl %%fs:0x30, %0" : "=r"(process));
    const unsigned char* table = *reinterpret_cast<unsigned char**>(process + 0x94);
    if (!table) table = gdi_table_of_64bit_block();
#endif
    if (!table) return -1;
    constexpr int ENTRIES = 0x10000, ENTRY_BYTES = 24, TYPE_OFFSET = 14;
    for (int i = 0; i < ENTRIES; ++i) count += table[static_cast<size_t>(i) * ENTRY_BYTES + TYPE_OFFSET] != 0;
    return count;
}
