// The PNG reader on a block of memory, as the image service gives it: the
// check, then a decode into rows of exactly the accepted size (the last row
// ends the allocation, so a row written too long is an overflow).
#include <cstdint>
#include <cstdlib>

#include "png_reader.h"

// Larger pictures are refused by the image service or would only slow the
// fuzzer: its sizes fit 16 bits, and the rows here are kept under 64 MB.
static const uint64_t ROWS_LIMIT = uint64_t(64) << 20;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (!png_reader_check(nullptr, data, size)) return 0;
    const int32_t width = png_reader_width(), height = png_reader_height();
    const intptr_t pitch = (intptr_t(width) * 3 + 3) & ~intptr_t(3);
    if (width <= 0 || height <= 0 || width > INT16_MAX || height > INT16_MAX ||
        uint64_t(pitch) * uint64_t(height) > ROWS_LIMIT) {
        png_reader_decode(nullptr, 0); // releases the read structures
        return 0;
    }
    const size_t bytes = size_t(pitch) * size_t(height - 1) + size_t(width) * 3;
    uint8_t* rows = static_cast<uint8_t*>(std::malloc(bytes));
    png_reader_decode(rows, pitch);
    // A second decode has nothing to read: the first let go of everything.
    if (png_reader_decode(rows, pitch) != 0) std::abort();
    std::free(rows);
    return 0;
}
