// The decoder registry, the PNG decoder and the picture decoder, on pictures
// made here: PNGs with libpng, BMP and GIF by hand, JPEG with the platform's encoder.
#include "image/decoders.h"
#include "picture_units.h"
#include "png_reader.h"
#include "png_writer.h"

#include <windows.h>
#include <psapi.h>
#include "debug_lines.h"
#include "gif_codes.h"
#include "jpeg_encode.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
using Bytes = std::vector<uint8_t>;
constexpr uint8_t GAP = 0xCD;

// A picture to encode, and the blue, green, red rows it must decode to.
struct Sample {
    PngLayout layout{};
    Bytes packed;
    Bytes palette;
    Bytes alphas;
    Bytes expected; // width * 3 bytes a row, top row first
};

uint32_t raw_value(uint32_t x, uint32_t y, uint32_t channel, int depth)
{
    uint32_t v = depth == 16 ? x * 4099 + y * 7919 + channel * 12345 : x * 37 + y * 101 + channel * 59;
    return v & ((1u << depth) - 1);
}

// What one sample of the depth becomes at 8 bits: small depths are scaled up, 16 bits keep their high byte.
uint8_t to_8_bits(uint32_t v, int depth)
{
    return static_cast<uint8_t>(depth < 8 ? v * 255 / ((1u << depth) - 1) : depth == 8 ? v : v >> 8);
}

Sample make_sample(int colour_type, int depth, bool interlaced, uint32_t width = 13, uint32_t height = 7)
{
    Sample s;
    int channels = colour_type == PNG_COLOR_TYPE_RGB         ? 3
                   : colour_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                   : colour_type == PNG_COLOR_TYPE_GA        ? 2
                                                             : 1;
    size_t row_bytes = (size_t{width} * channels * depth + 7) / 8;
    s.packed.assign(row_bytes * height, 0);
    if (colour_type == PNG_COLOR_TYPE_PALETTE) {
        int entries = 1 << (depth < 8 ? depth : 7);
        for (int i = 0; i < entries; ++i) {
            s.palette.insert(s.palette.end(), {uint8_t(i * 7), uint8_t(255 - i * 5), uint8_t(i * 13)});
            s.alphas.push_back(uint8_t(i * 40)); // transparency the decoder drops
        }
    }
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            uint8_t rgb[3];
            for (int c = 0; c < channels; ++c) {
                uint32_t v = raw_value(x, y, c, depth);
                if (colour_type == PNG_COLOR_TYPE_PALETTE) v %= s.palette.size() / 3;
                size_t bit = (size_t{x} * channels + c) * depth;
                uint8_t* at = &s.packed[y * row_bytes + bit / 8];
                if (depth == 16) {
                    at[0] = uint8_t(v >> 8);
                    at[1] = uint8_t(v);
                } else {
                    *at |= uint8_t(v << (8 - depth - bit % 8));
                }
                if (colour_type == PNG_COLOR_TYPE_PALETTE)
                    std::memcpy(rgb, &s.palette[3 * v], 3);
                else if (channels <= 2 && c == 0)
                    rgb[0] = rgb[1] = rgb[2] = to_8_bits(v, depth);
                else if (channels >= 3 && c < 3)
                    rgb[c] = to_8_bits(v, depth);
            }
            s.expected.insert(s.expected.end(), {rgb[2], rgb[1], rgb[0]});
        }
    }
    s.layout = PngLayout{width,
                         height,
                         colour_type,
                         depth,
                         interlaced,
                         s.packed.data(),
                         row_bytes,
                         s.palette.empty() ? nullptr : s.palette.data(),
                         int(s.palette.size() / 3),
                         s.alphas.empty() ? nullptr : s.alphas.data(),
                         int(s.alphas.size())};
    return s;
}

Bytes png_bytes(const Sample& s)
{
    size_t size = 0;
    uint8_t* data = png_write_memory(&s.layout, &size);
    Bytes bytes(data, data + (data ? size : 0));
    std::free(data);
    return bytes;
}

// A copy of the data that ends exactly where an inaccessible page begins, so
// reading one byte past it faults.
struct GuardedBlock {
    uint8_t* base = nullptr;
    size_t reserved = 0;
    MemoryBlock block{};

    explicit GuardedBlock(const Bytes& bytes)
    {
        SYSTEM_INFO system{};
        ::GetSystemInfo(&system);
        size_t page = system.dwPageSize;
        size_t pages = (bytes.size() + page - 1) / page + 1;
        reserved = (pages + 1) * page;
        base = static_cast<uint8_t*>(::VirtualAlloc(nullptr, reserved, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        DWORD old = 0;
        ::VirtualProtect(base + pages * page, page, PAGE_NOACCESS, &old);
        uint8_t* start = base + pages * page - bytes.size();
        if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
        block = MemoryBlock{start, bytes.size()};
    }
    ~GuardedBlock() { ::VirtualFree(base, 0, MEM_RELEASE); }
};

struct Decoded {
    int opened = 0;
    int read = 0;
    int32_t width = 0;
    int32_t height = 0;
    Bytes rows;            // width * 3 bytes a row
    bool gaps_kept = true; // nothing written between rows or around them
};

// One whole load, into rows pitch bytes apart (upwards when the pitch is negative).
Decoded decode(const char* path, const MemoryBlock* memory, bool upwards = false)
{
    Decoded d;
    d.opened = image_decode_open(path, memory);
    if (!d.opened) return d;
    d.width = image_decode_width();
    d.height = image_decode_height();
    if (d.width <= 0 || d.height <= 0 || d.width > 4096 || d.height > 4096) return d;
    intptr_t row_bytes = intptr_t{d.width} * 3, pitch = row_bytes + 5;
    Bytes buffer(size_t(pitch) * d.height + 16, GAP);
    uint8_t* first = buffer.data() + 8 + (upwards ? pitch * (d.height - 1) : 0);
    d.read = image_decode_read(first, upwards ? -pitch : pitch);
    for (int32_t y = 0; y < d.height; ++y) {
        const uint8_t* row = first + (upwards ? -pitch : pitch) * y;
        d.rows.insert(d.rows.end(), row, row + row_bytes);
        for (int i = 0; i < 5; ++i) d.gaps_kept &= row[row_bytes + i] == GAP;
    }
    for (int i = 0; i < 8; ++i) d.gaps_kept &= buffer[i] == GAP && buffer[buffer.size() - 1 - i] == GAP;
    return d;
}

Decoded decode_memory(const Bytes& bytes)
{
    GuardedBlock guarded(bytes);
    return decode(nullptr, &guarded.block);
}

Decoded decode_file(const Bytes& bytes, const char* name)
{
    FILE* file = std::fopen(name, "wb");
    if (!file) return Decoded{};
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
    Decoded d = decode(name, nullptr);
    std::remove(name);
    return d;
}

size_t find(const Bytes& bytes, const char* tag)
{
    for (size_t i = 0; i + 4 <= bytes.size(); ++i)
        if (std::memcmp(&bytes[i], tag, 4) == 0) return i;
    return 0;
}

void put16(Bytes& b, uint32_t v)
{
    b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
}
void put32(Bytes& b, uint32_t v)
{
    put16(b, v & 0xFFFF), put16(b, v >> 16);
}

// Blue, green, red for each pixel of the small pictures below, top row first.
const uint8_t PICTURE_BGR[3][5][3] = {
    {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}, {0, 0, 0}},
    {{10, 20, 30}, {40, 50, 60}, {70, 80, 90}, {100, 110, 120}, {130, 140, 150}},
    {{255, 0, 255}, {0, 255, 255}, {255, 255, 0}, {128, 128, 128}, {1, 2, 3}},
};

Bytes picture_expected(int width, int height)
{
    Bytes rows;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) rows.insert(rows.end(), PICTURE_BGR[y][x], PICTURE_BGR[y][x] + 3);
    return rows;
}

// A 5 by 3, 24-bit, bottom-up BMP file.
Bytes bmp_bytes()
{
    const uint32_t stride = 16, pixels = stride * 3;
    Bytes b{'B', 'M'};
    put32(b, 14 + 40 + pixels);
    put32(b, 0);
    put32(b, 14 + 40);
    put32(b, 40), put32(b, 5), put32(b, 3), put16(b, 1), put16(b, 24);
    for (int i = 0; i < 6; ++i) put32(b, 0);
    for (int y = 2; y >= 0; --y) {
        for (int x = 0; x < 5; ++x) b.insert(b.end(), PICTURE_BGR[y][x], PICTURE_BGR[y][x] + 3);
        b.push_back(0);
    }
    return b;
}

// A 4 by 3 GIF with a four-colour table. The data is LZW with a clear code
// after every two pixels, so all codes stay 3 bits wide and no string is reused.
Bytes gif_bytes()
{
    const int width = 4, height = 3;
    Bytes b{'G', 'I', 'F', '8', '9', 'a'};
    put16(b, width), put16(b, height);
    b.insert(b.end(), {0x91, 0, 0});
    const int colour_of[3][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {1, 1, 0, 0}};
    const uint8_t table[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}}; // red, green, blue
    for (auto& rgb : table) b.insert(b.end(), rgb, rgb + 3);
    b.push_back(0x2C);
    put16(b, 0), put16(b, 0), put16(b, width), put16(b, height);
    b.push_back(0);
    b.push_back(2); // minimum code size: clear is 4, end is 5

    std::vector<int> codes;
    for (int i = 0; i < width * height; ++i) {
        if (i % 2 == 0) codes.push_back(4);
        codes.push_back(colour_of[i / width][i % width]);
    }
    codes.push_back(5);
    Bytes data = gif_pack_codes3(codes);
    b.push_back(uint8_t(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    b.insert(b.end(), {0, 0x3B});
    return b;
}

Bytes gif_expected()
{
    const int colour_of[3][4] = {{0, 1, 2, 3}, {3, 2, 1, 0}, {1, 1, 0, 0}};
    const uint8_t bgr[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {255, 255, 255}};
    Bytes rows;
    for (auto& row : colour_of)
        for (int index : row) rows.insert(rows.end(), bgr[index], bgr[index] + 3);
    return rows;
}

// A 32 by 32 JPEG of four solid 16 by 16 quarters, from the platform's encoder.
const uint8_t QUARTER_BGR[4][3] = {{40, 40, 200}, {40, 200, 40}, {200, 40, 40}, {220, 220, 220}};

Bytes jpeg_bytes()
{
    const UINT size = 32, stride = size * 3;
    Bytes pixels(stride * size);
    for (UINT y = 0; y < size; ++y)
        for (UINT x = 0; x < size; ++x) std::memcpy(&pixels[y * stride + x * 3], QUARTER_BGR[(y / 16) * 2 + x / 16], 3);
    return jpeg_encode(pixels, size, size);
}

int decoders_that_fit()
{
    static ImageDecoder fillers[DECODER_LIMIT + 1];
    int registered = 0;
    for (ImageDecoder& filler : fillers) {
        filler = ImageDecoder{[](FILE*, const MemoryBlock*, const char*) { return 0; }, nullptr, nullptr, nullptr};
        registered += decoder_register(&filler);
    }
    return registered;
}
} // namespace

TEST(PngDecoding, EveryColourTypeAndDepthComesOutAsBlueGreenRedRows)
{
    const struct {
        int colour_type, depth;
    } formats[] = {{PNG_COLOR_TYPE_PALETTE, 8},   {PNG_COLOR_TYPE_PALETTE, 2}, {PNG_COLOR_TYPE_GRAY, 1},
                   {PNG_COLOR_TYPE_GRAY, 2},      {PNG_COLOR_TYPE_GRAY, 4},    {PNG_COLOR_TYPE_GRAY, 8},
                   {PNG_COLOR_TYPE_GRAY, 16},     {PNG_COLOR_TYPE_GA, 8},      {PNG_COLOR_TYPE_GA, 16},
                   {PNG_COLOR_TYPE_RGB, 8},       {PNG_COLOR_TYPE_RGB, 16},    {PNG_COLOR_TYPE_RGB_ALPHA, 8},
                   {PNG_COLOR_TYPE_RGB_ALPHA, 16}};
    for (auto format : formats) {
        for (bool interlaced : {false, true}) {
            Sample sample = make_sample(format.colour_type, format.depth, interlaced);
            Bytes png = png_bytes(sample);
            std::string what = "colour type " + std::to_string(format.colour_type) + ", " +
                               std::to_string(format.depth) + " bits" + (interlaced ? ", interlaced" : "");
            ASSERT_FALSE(png.empty()) << what << ": libpng wrote nothing";
            for (bool from_file : {false, true}) {
                Decoded d = from_file ? decode_file(png, "decoders_test.png") : decode_memory(png);
                SCOPED_TRACE(what + (from_file ? ", from a file" : ", from memory"));
                ASSERT_EQ(1, d.opened);
                EXPECT_EQ(13, d.width);
                EXPECT_EQ(7, d.height);
                EXPECT_EQ(1, d.read);
                EXPECT_TRUE(d.rows == sample.expected) << "rows differ from the encoded pixels";
                EXPECT_TRUE(d.gaps_kept) << "bytes outside the rows were written";
            }
        }
    }
}

TEST(PngDecoding, RowsFollowANegativePitchUpwards)
{
    Sample sample = make_sample(PNG_COLOR_TYPE_RGB, 8, true, 9, 5);
    Bytes png = png_bytes(sample);
    GuardedBlock guarded(png);
    Decoded d = decode(nullptr, &guarded.block, true);
    EXPECT_EQ(1, d.read);
    EXPECT_TRUE(d.rows == sample.expected);
    EXPECT_TRUE(d.gaps_kept);
}

TEST(PngDecoding, TruncatedAndCorruptPngsFailCleanlyWithoutReadingPastTheBlock)
{
    Sample sample = make_sample(PNG_COLOR_TYPE_RGB, 8, true);
    Bytes png = png_bytes(sample);
    size_t idat = find(png, "IDAT");
    ASSERT_GT(idat, 0u);
    ::testing::internal::CaptureStderr(); // libpng's errors stay silent

    for (size_t length : {size_t{0}, size_t{7}, size_t{8}, size_t{20}, size_t{33}}) {
        Bytes cut(png.begin(), png.begin() + length);
        EXPECT_EQ(0, decode_memory(cut).opened) << "a block of " << length << " bytes has no whole header";
    }
    size_t idat_bytes = size_t{png[idat - 4]} << 24 | png[idat - 3] << 16 | png[idat - 2] << 8 | png[idat - 1];
    for (size_t length : {idat + 4, idat + 30, idat + 4 + idat_bytes / 2, idat + 4 + idat_bytes - 8}) {
        Bytes cut(png.begin(), png.begin() + length);
        Decoded d = decode_memory(cut);
        EXPECT_EQ(1, d.opened) << "the header is whole in " << length << " bytes";
        EXPECT_EQ(0, d.read) << "the rows end early in " << length << " bytes";
        EXPECT_TRUE(d.gaps_kept);
        EXPECT_EQ(0, decode_file(cut, "decoders_test_cut.png").read) << "the same cut as a file";
    }

    // libpng's own words say why, on the debug output only.
    DebugLines debug;
    Bytes bad_rows = png;
    bad_rows[idat + 10] ^= 0x5A; // the chunk's check sum no longer matches
    Decoded d = decode_memory(bad_rows);
    EXPECT_EQ(1, d.opened);
    EXPECT_EQ(0, d.read);
    EXPECT_TRUE(debug.contains("sondrel: PNG image refused: IDAT: incorrect data check\n")) << debug.all();
    Bytes bad_header = png;
    bad_header[16] ^= 0x01; // the width, under the header's check sum
    EXPECT_EQ(0, decode_memory(bad_header).opened);
    EXPECT_TRUE(debug.contains("sondrel: PNG image refused: IHDR: CRC error\n")) << debug.all();
    EXPECT_TRUE(
        debug.contains("sondrel: no decoder reads the image in memory (" + std::to_string(png.size()) + " bytes)\n"))
        << debug.all();
    EXPECT_EQ(0, decode_file(Bytes(png.begin(), png.begin() + idat + 30), "decoders_test_cut.png").read);
    EXPECT_TRUE(debug.contains("sondrel: PNG image refused: Read Error")) << debug.all();
    EXPECT_EQ("", ::testing::internal::GetCapturedStderr()) << "the program prints nothing";

    EXPECT_EQ(0, image_decode_read(nullptr, 0)) << "a failed open leaves nothing to read";
    Decoded after = decode_memory(png);
    EXPECT_EQ(1, after.read) << "a good PNG still decodes after the failures";
    EXPECT_TRUE(after.rows == sample.expected);
}

// The PNG with a chunk of `type` after its header that declares `length`
// bytes and holds `data`, under a right check sum.
Bytes with_chunk(const Bytes& png, const char* type, const Bytes& data, uint32_t length)
{
    Bytes chunk;
    for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(uint8_t(length >> shift));
    chunk.insert(chunk.end(), type, type + 4);
    chunk.insert(chunk.end(), data.begin(), data.end());
    uLong sum = crc32(crc32(0, reinterpret_cast<const Bytef*>(type), 4), data.data(), uInt(data.size()));
    for (int shift = 24; shift >= 0; shift -= 8) chunk.push_back(uint8_t(sum >> shift));
    Bytes out(png.begin(), png.begin() + 33); // the signature and the header chunk
    out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + 33, png.end());
    return out;
}

size_t peak_working_set()
{
    PROCESS_MEMORY_COUNTERS counters{};
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.PeakWorkingSetSize;
}

TEST(PngDecoding, ChunksThatChangeNoPixelAreSkippedWhateverLengthTheyDeclare)
{
    Sample sample = make_sample(PNG_COLOR_TYPE_RGB, 8, false);
    Bytes png = png_bytes(sample);
    const char text[] = "Comment\0made here";
    Bytes comment(text, text + sizeof text - 1);
    Decoded d = decode_memory(with_chunk(png, "tEXt", comment, uint32_t(comment.size())));
    EXPECT_EQ(1, d.read);
    EXPECT_TRUE(d.rows == sample.expected) << "a picture with a text chunk decodes as one without";

    // A gigabyte declared in a block of a few hundred bytes is refused without
    // first being allocated and cleared. The PNG reader alone: the platform's
    // decoder, tried next, is not ours.
    const size_t before = peak_working_set();
    for (const char* type : {"tEXt", "zTXt", "iTXt", "sPLT", "eXIf"}) {
        Bytes hostile = with_chunk(png, type, {}, 1u << 30);
        EXPECT_EQ(0, png_reader_check(nullptr, hostile.data(), hostile.size())) << type;
    }
    const size_t grown = peak_working_set() - before;
    EXPECT_LT(grown, size_t{64} << 20) << "expected: the peak working set about the same; got: " << (grown >> 20)
                                       << " MB more";
}

TEST(PictureDecoding, BmpGifAndJpegFromMemoryAndFromAFile)
{
    Bytes bmp = bmp_bytes();
    for (bool from_file : {false, true}) {
        Decoded d = from_file ? decode_file(bmp, "decoders_test.bmp") : decode_memory(bmp);
        ASSERT_EQ(1, d.opened) << (from_file ? "BMP file" : "BMP in memory");
        EXPECT_EQ(5, d.width);
        EXPECT_EQ(3, d.height);
        EXPECT_EQ(1, d.read);
        EXPECT_TRUE(d.rows == picture_expected(5, 3));
        EXPECT_TRUE(d.gaps_kept) << "the pitch, not padded rows, places each row";
    }

    Bytes gif = gif_bytes();
    for (bool from_file : {false, true}) {
        Decoded d = from_file ? decode_file(gif, "decoders_test.gif") : decode_memory(gif);
        ASSERT_EQ(1, d.opened) << (from_file ? "GIF file" : "GIF in memory");
        EXPECT_EQ(4, d.width);
        EXPECT_EQ(3, d.height);
        EXPECT_EQ(1, d.read);
        EXPECT_TRUE(d.rows == gif_expected());
    }

    Bytes jpeg = jpeg_bytes();
    ASSERT_FALSE(jpeg.empty()) << "the platform's JPEG encoder made nothing";
    for (bool from_file : {false, true}) {
        Decoded d = from_file ? decode_file(jpeg, "decoders_test.jpg") : decode_memory(jpeg);
        ASSERT_EQ(1, d.opened) << (from_file ? "JPEG file" : "JPEG in memory");
        ASSERT_EQ(32, d.width);
        ASSERT_EQ(32, d.height);
        EXPECT_EQ(1, d.read);
        for (int quarter = 0; quarter < 4; ++quarter) {
            const uint8_t* pixel = &d.rows[((quarter / 2) * 16 + 8) * 32 * 3 + ((quarter % 2) * 16 + 8) * 3];
            for (int c = 0; c < 3; ++c)
                EXPECT_NEAR(QUARTER_BGR[quarter][c], pixel[c], 24) << "quarter " << quarter << ", channel " << c;
        }
    }
}

TEST(PictureDecoding, DamagedPicturesNeverReadPastTheBlock)
{
    Bytes bmp = bmp_bytes();
    for (size_t length : {size_t{1}, size_t{2}, size_t{30}, size_t{60}, bmp.size() - 1}) {
        Bytes cut(bmp.begin(), bmp.begin() + length);
        Decoded d = decode_memory(cut); // a read past the end would fault here
        EXPECT_TRUE(d.gaps_kept);
    }
    Bytes gif = gif_bytes();
    Decoded d = decode_memory(Bytes(gif.begin(), gif.begin() + 20));
    EXPECT_TRUE(d.gaps_kept);
    DebugLines debug;
    EXPECT_EQ(0, decode_memory(Bytes{}).opened);
    EXPECT_EQ(0, image_decode_open(nullptr, nullptr));
    EXPECT_EQ(0, image_decode_open("decoders_test_missing.bmp", nullptr));
    EXPECT_TRUE(debug.contains("sondrel: cannot open image decoders_test_missing.bmp: No such file or directory\n"))
        << debug.all();
    std::string text = "not a picture at all";
    EXPECT_EQ(0, decode_memory(Bytes(text.begin(), text.end())).opened);
    EXPECT_TRUE(debug.contains("sondrel: picture refused by the platform's loader (0x")) << debug.all();
    EXPECT_TRUE(debug.contains("sondrel: no decoder reads the image in memory (20 bytes)\n")) << debug.all();

    // Header sizes that run past the data made the platform's loader read
    // beyond the block: such bitmaps are refused.
    for (uint32_t info_size : {0x08000028u, 0x10028u, 0u}) {
        Bytes lying = bmp;
        std::memcpy(lying.data() + 14, &info_size, 4);
        EXPECT_EQ(0, decode_memory(lying).opened) << "info header size " << info_size;
    }
    EXPECT_TRUE(debug.contains("sondrel: bitmap refused: its headers do not fit its")) << debug.all();
}

TEST(PictureDecoding, HimetricSizesRoundToTheNearestPixel)
{
    EXPECT_EQ(100, himetric_to_pixels(2646, pixels_per_himetric(96)));
    EXPECT_EQ(100, himetric_to_pixels(-2646, pixels_per_himetric(96))) << "a negative size is made positive";
    EXPECT_EQ(125, himetric_to_pixels(2646, pixels_per_himetric(120)));
    EXPECT_EQ(1, himetric_to_pixels(18, pixels_per_himetric(96))) << "0.68 pixels rounds up";
    EXPECT_EQ(0, himetric_to_pixels(13, pixels_per_himetric(96))) << "0.49 pixels rounds down";
}

TEST(DecoderRegistry, EachDecoderRegistersOnceAndAHundredAtMost)
{
    decoders_init();
    png_decoder_register();
    png_decoder_register();
    EXPECT_EQ(1, picture_decoder_register());
    EXPECT_EQ(1, picture_decoder_register());
    EXPECT_EQ(DECODER_LIMIT - 2, decoders_that_fit()) << "two places taken, the 101st refused";
    EXPECT_FALSE(decoder_register(nullptr));

    // The decoders registered first still answer first.
    Sample sample = make_sample(PNG_COLOR_TYPE_GRAY, 4, false);
    EXPECT_EQ(1, decode_memory(png_bytes(sample)).read);
    EXPECT_EQ(1, decode_memory(bmp_bytes()).read);

    decoders_init();
    EXPECT_EQ(0, decode_memory(bmp_bytes()).opened) << "an empty registry accepts nothing";
    png_decoder_register();
    picture_decoder_register();
}

TEST(DecoderRegistry, ALoadIsReadOnce)
{
    Sample sample = make_sample(PNG_COLOR_TYPE_RGB, 8, false, 4, 4);
    Bytes png = png_bytes(sample);
    GuardedBlock guarded(png);
    ASSERT_EQ(1, image_decode_open(nullptr, &guarded.block));
    uint8_t rows[4 * 12];
    EXPECT_EQ(1, image_decode_read(rows, 12));
    EXPECT_EQ(0, image_decode_read(rows, 12)) << "the read structures went with the first read";
    EXPECT_EQ(0, image_decode_read(nullptr, 12));

    ASSERT_EQ(1, image_decode_open(nullptr, &guarded.block));
    EXPECT_EQ(0, image_decode_read(nullptr, 12)) << "no destination";
    EXPECT_EQ(0, image_decode_read(rows, 12)) << "a failed read ends the load too";

    Bytes bmp = bmp_bytes();
    GuardedBlock picture(bmp);
    ASSERT_EQ(1, image_decode_open(nullptr, &picture.block));
    ASSERT_EQ(1, image_decode_open(nullptr, &guarded.block)) << "opening again drops the unread picture";
    EXPECT_EQ(4, image_decode_width());
    EXPECT_EQ(1, image_decode_read(rows, 12));
}

TEST(DecoderRegistry, APngGoesToThePngDecoderFirst)
{
    // The picture loader also reads PNGs, but lets transparency show through;
    // the PNG decoder drops it and keeps the stored colours.
    Sample sample = make_sample(PNG_COLOR_TYPE_RGB_ALPHA, 8, false);
    Bytes png = png_bytes(sample);
    decoders_init();
    picture_decoder_register();
    Decoded by_picture = decode_memory(png);
    ASSERT_EQ(1, by_picture.read);
    EXPECT_FALSE(by_picture.rows == sample.expected);

    decoders_init();
    png_decoder_register();
    picture_decoder_register();
    Decoded d = decode_memory(png);
    ASSERT_EQ(1, d.read);
    EXPECT_TRUE(d.rows == sample.expected);
}
