// Hostile pictures through the decoder registry: mutated PNGs, BMPs, GIFs and
// JPEGs, each from a block that ends where an inaccessible page begins, read
// into rows fenced the same way. Every one decodes or fails cleanly.
#include <windows.h>
#include "gif_codes.h"
#include "jpeg_encode.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "image/decoders.h"
#include "png_writer.h"
#include "app_process.h"
#include "fuzz_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint64_t FIXED_SEED = 0x5EED0061;
constexpr uint8_t GAP = 0xCD;
constexpr int64_t PIXEL_CAP = 4 << 20; // larger pictures are not worth a buffer here

uint64_t run_seed()
{
    static const uint64_t seed = fuzz_seed(FIXED_SEED);
    return seed;
}

struct Environment : ::testing::Environment {
    void SetUp() override
    {
        run_seed();
        fuzz_guard_start("fuzz_image_crash.bin", 30000);
        decoders_init();
        picture_init();
        png_decoder_register();
        picture_decoder_register();
    }
    void TearDown() override { picture_shutdown(); }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new Environment);

void put16(Bytes& b, uint32_t v)
{
    b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
}
void put32(Bytes& b, uint32_t v)
{
    put16(b, v & 0xFFFF), put16(b, v >> 16);
}

Bytes png_of(uint32_t width, uint32_t height, int colour_type, int depth, bool interlaced)
{
    int channels = colour_type == PNG_COLOR_TYPE_RGB         ? 3
                   : colour_type == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                   : colour_type == PNG_COLOR_TYPE_GA        ? 2
                                                             : 1;
    size_t row_bytes = (size_t{width} * channels * depth + 7) / 8;
    Bytes rows(row_bytes * height);
    for (size_t i = 0; i < rows.size(); ++i) rows[i] = uint8_t(i * 37 + i / row_bytes * 11);
    Bytes palette;
    if (colour_type == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i < (1 << depth); ++i)
            palette.insert(palette.end(), {uint8_t(i * 5), uint8_t(255 - i), uint8_t(i * 3)});
    }
    PngLayout layout{width,
                     height,
                     colour_type,
                     depth,
                     interlaced,
                     rows.data(),
                     row_bytes,
                     palette.empty() ? nullptr : palette.data(),
                     int(palette.size() / 3),
                     nullptr,
                     0};
    size_t size = 0;
    uint8_t* data = png_write_memory(&layout, &size);
    Bytes png(data, data + (data ? size : 0));
    std::free(data);
    return png;
}

// A bottom-up BMP of 24 or 8 bits a pixel (the latter with a 256-colour table).
Bytes bmp_of(int32_t width, int32_t height, int bits)
{
    const uint32_t stride = (uint32_t(width) * bits / 8 + 3) & ~3u;
    const uint32_t table = bits == 8 ? 1024 : 0;
    Bytes b{'B', 'M'};
    put32(b, 14 + 40 + table + stride * height);
    put32(b, 0);
    put32(b, 14 + 40 + table);
    put32(b, 40), put32(b, uint32_t(width)), put32(b, uint32_t(height)), put16(b, 1), put16(b, uint32_t(bits));
    put32(b, 0), put32(b, stride * height), put32(b, 2835), put32(b, 2835), put32(b, bits == 8 ? 256 : 0), put32(b, 0);
    for (uint32_t i = 0; i < table; ++i) b.push_back(uint8_t(i * 7));
    for (uint32_t i = 0; i < stride * uint32_t(height); ++i) b.push_back(uint8_t(i * 13));
    return b;
}

// A GIF of 3-bit LZW codes with a clear code after every two pixels, so that
// every code stays 3 bits wide.
Bytes gif_of(int width, int height)
{
    Bytes b{'G', 'I', 'F', '8', '9', 'a'};
    put16(b, uint32_t(width)), put16(b, uint32_t(height));
    b.insert(b.end(), {0x91, 0, 0});
    for (int i = 0; i < 4; ++i) b.insert(b.end(), {uint8_t(i * 80), uint8_t(255 - i * 60), uint8_t(i * 30)});
    b.push_back(0x2C);
    put16(b, 0), put16(b, 0), put16(b, uint32_t(width)), put16(b, uint32_t(height));
    b.push_back(0);
    b.push_back(2);
    std::vector<int> codes;
    for (int i = 0; i < width * height; ++i) {
        if (i % 2 == 0) codes.push_back(4);
        codes.push_back((i * 7 + i / width) % 4);
    }
    codes.push_back(5);
    Bytes data = gif_pack_codes3(codes);
    for (size_t at = 0; at < data.size(); at += 255) {
        size_t n = std::min<size_t>(255, data.size() - at);
        b.push_back(uint8_t(n));
        b.insert(b.end(), data.begin() + at, data.begin() + at + n);
    }
    b.insert(b.end(), {0, 0x3B});
    return b;
}

// A JPEG from the platform's encoder (empty if it has none).
Bytes jpeg_of(UINT width, UINT height)
{
    const UINT stride = width * 3;
    Bytes pixels(stride * height);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i / 3 % width * 9 + i / stride * 5 + i % 3 * 60);
    return jpeg_encode(pixels, width, height);
}

struct BasePicture {
    const char* name;
    Bytes bytes;
};

const std::vector<BasePicture>& base_pictures()
{
    static const std::vector<BasePicture> bases = [] {
        std::vector<BasePicture> b;
        b.push_back({"PNG rgb 8", png_of(17, 9, PNG_COLOR_TYPE_RGB, 8, false)});
        b.push_back({"PNG palette 4 interlaced", png_of(21, 13, PNG_COLOR_TYPE_PALETTE, 4, true)});
        b.push_back({"PNG grey 16", png_of(9, 11, PNG_COLOR_TYPE_GRAY, 16, false)});
        b.push_back({"PNG rgba 8 interlaced", png_of(12, 12, PNG_COLOR_TYPE_RGB_ALPHA, 8, true)});
        b.push_back({"BMP 24", bmp_of(7, 5, 24)});
        b.push_back({"BMP 8", bmp_of(10, 6, 8)});
        b.push_back({"GIF", gif_of(8, 5)});
        b.push_back({"JPEG", jpeg_of(24, 16)});
        return b;
    }();
    return bases;
}

uint32_t png_crc(const uint8_t* bytes, size_t length)
{
    return uint32_t(crc32(crc32(0, nullptr, 0), bytes, uInt(length)));
}

// Chunk by chunk: makes each chunk's check sum right again after a change, so
// that the change reaches the decoder rather than the check.
void png_fix_crcs(Bytes& png)
{
    size_t at = 8;
    while (at + 12 <= png.size()) {
        uint32_t length = uint32_t(png[at]) << 24 | png[at + 1] << 16 | png[at + 2] << 8 | png[at + 3];
        if (length > png.size() - at - 12) return;
        uint32_t crc = png_crc(&png[at + 4], length + 4);
        for (int i = 0; i < 4; ++i) png[at + 8 + length + i] = uint8_t(crc >> (24 - 8 * i));
        at += 12 + length;
    }
}

void put_be32(Bytes& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4 && at + i < b.size(); ++i) b[at + i] = uint8_t(v >> (24 - 8 * i));
}

void put_le(Bytes& b, size_t at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes && at + i < b.size(); ++i) b[at + i] = uint8_t(v >> (8 * i));
}

const uint32_t EDGES[] = {0,      1,       2,          0x7F,       0x80,       0xFF,       0x100,  0x7FFF, 0x8000,
                          0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, 0xFFFFFFFE, 100000, 46341,  16385};

// Fields each format keeps its sizes in, set to values at the edges.
void edge_fields(Bytes& b, const char* name, FuzzRandom& random, std::string* how)
{
    uint32_t v = random.chance(4) ? uint32_t(random.next()) : EDGES[random.below(sizeof EDGES / sizeof EDGES[0])];
    char text[64];
    if (name[0] == 'P') { // IHDR width, height, depth, colour type; any chunk length
        switch (random.below(4)) {
        case 0:
            put_be32(b, 16 + 4 * random.below(2), v);
            std::snprintf(text, sizeof text, " IHDR size 0x%x", v);
            break;
        case 1:
            b[24] = uint8_t(v);
            std::snprintf(text, sizeof text, " depth %u", v & 0xFF);
            break;
        case 2:
            b[25] = uint8_t(v);
            std::snprintf(text, sizeof text, " colour type %u", v & 0xFF);
            break;
        default:
            put_be32(b, 33, v);
            std::snprintf(text, sizeof text, " second chunk length 0x%x", v);
            break;
        }
        *how += text;
        if (!random.chance(4)) png_fix_crcs(b);
    } else if (name[0] == 'B') { // file size, pixel offset, width, height, bits, compression, sizes, colours
        static const size_t fields[] = {2, 10, 18, 22, 28, 30, 34, 46};
        size_t at = fields[random.below(8)];
        put_le(b, at, v, at == 28 ? 2 : 4);
        std::snprintf(text, sizeof text, " BMP field at %zu = 0x%x", at, v);
        *how += text;
    } else if (name[0] == 'G') { // screen size, flags, image place and size, code size, block lengths
        static const size_t fields[] = {6, 8, 10, 23, 25, 27, 29, 31, 32, 33};
        size_t at = fields[random.below(10)];
        put_le(b, at, v, at >= 31 || at == 10 ? 1 : 2);
        std::snprintf(text, sizeof text, " GIF field at %zu = 0x%x", at, v);
        *how += text;
    } else { // a JPEG segment's length or, in a frame header, its sizes
        for (size_t at = 2; at + 9 < b.size(); ++at) {
            if (b[at] == 0xFF && (b[at + 1] == 0xC0 || b[at + 1] == 0xC2) && random.chance(2)) {
                put_le(b, at + 5 + 2 * random.below(2), v, 2);
                std::snprintf(text, sizeof text, " frame size at %zu = 0x%x", at, v & 0xFFFF);
                *how += text;
                return;
            }
            if (b[at] == 0xFF && b[at + 1] >= 0xC4 && b[at + 1] <= 0xFE && random.chance(6)) {
                b[at + 2 + random.below(2)] = uint8_t(v);
                std::snprintf(text, sizeof text, " segment length at %zu", at);
                *how += text;
                return;
            }
        }
    }
}

Bytes mutate(const BasePicture& base, uint32_t k, std::string* how)
{
    FuzzRandom random((run_seed() ^ (uint64_t(k) * 0xD1B54A32D192ED03ull)) | 1);
    Bytes b = base.bytes;
    switch (k % 5) {
    case 0: { // flipped bits, half of them in the header
        uint32_t flips = 1 + random.below(8);
        for (uint32_t f = 0; f < flips; ++f)
            b[random.below(random.chance(2) ? uint32_t(std::min<size_t>(b.size(), 64)) : uint32_t(b.size()))] ^=
                uint8_t(1 << random.below(8));
        *how = std::to_string(flips) + " flipped bits";
        if (base.name[0] == 'P' && random.chance(2)) {
            png_fix_crcs(b);
            *how += ", check sums made right";
        }
        break;
    }
    case 1: // cut short
        b.resize(random.below(uint32_t(b.size())));
        *how = "cut to " + std::to_string(b.size()) + " bytes";
        break;
    case 2: // bytes set to values at the edges
        for (uint32_t n = 1 + random.below(4); n > 0; --n)
            b[random.below(uint32_t(b.size()))] = uint8_t(EDGES[random.below(6)]);
        *how = "bytes set to edge values";
        if (base.name[0] == 'P') png_fix_crcs(b);
        break;
    case 3: // size fields at the edges
        edge_fields(b, base.name, random, how);
        if (random.chance(3)) {
            b.resize(random.below(uint32_t(b.size())) + 1);
            *how += ", cut to " + std::to_string(b.size());
        }
        break;
    default: { // a run of garbage, or bytes repeated
        uint32_t at = random.below(uint32_t(b.size())), length = 1 + random.below(64);
        if (random.chance(2)) {
            for (uint32_t i = at; i < at + length && i < b.size(); ++i) b[i] = uint8_t(random.next());
            *how = "garbage at " + std::to_string(at);
        } else {
            Bytes run(b.begin() + at, b.begin() + std::min<size_t>(at + length, b.size()));
            b.insert(b.begin() + random.below(uint32_t(b.size())), run.begin(), run.end());
            *how = "bytes from " + std::to_string(at) + " repeated";
        }
        if (base.name[0] == 'P' && random.chance(2)) png_fix_crcs(b);
        break;
    }
    }
    return b;
}

struct Outcome {
    int opened = 0, read = 0;
    int32_t width = 0, height = 0;
    bool too_large = false;
    std::string fault;
};

// One whole load as a careful caller makes it: the sizes are checked before a
// buffer is made, and a load that will not be read is ended with a null row.
// Rows are pitch bytes apart with a gap after each, downwards or upwards.
Outcome load(const Bytes& bytes, bool upwards)
{
    Outcome o;
    GuardedCopy input(bytes);
    MemoryBlock block{input.data(), input.size()};
    o.opened = image_decode_open(nullptr, &block);
    if (!o.opened) return o;
    o.width = image_decode_width();
    o.height = image_decode_height();
    if (o.width <= 0 || o.height <= 0 || int64_t{o.width} * o.height > PIXEL_CAP || o.width > 65536 ||
        o.height > 65536) {
        o.too_large = true;
        if (image_decode_read(nullptr, 0) != 0) o.fault = "a read without rows reported success";
        return o;
    }
    const intptr_t row_bytes = intptr_t{o.width} * 3, pitch = row_bytes + 5;
    // A gap before the first row too; the last row's gap ends at the fence.
    FencedRegion area(size_t(pitch) * o.height + 8);
    if (!area.ready()) return o;
    std::memset(area.data(), GAP, area.size());
    uint8_t* const top = area.data() + 8;
    uint8_t* first = top + (upwards ? pitch * (o.height - 1) : 0);
    o.read = image_decode_read(first, upwards ? -pitch : pitch);
    for (int i = 0; i < 8; ++i)
        if (area.data()[i] != GAP) o.fault = "a byte before the first row was written";
    for (int32_t y = 0; y < o.height && o.fault.empty(); ++y) {
        const uint8_t* gap = top + pitch * y + row_bytes;
        for (int i = 0; i < 5; ++i)
            if (gap[i] != GAP) o.fault = "the gap after row " + std::to_string(y) + " was written";
    }
    if (image_decode_read(first, pitch) != 0) o.fault = "a second read of one load succeeded";
    return o;
}

TEST(ImageFuzz, BasePicturesDecode)
{
    for (const BasePicture& base : base_pictures()) {
        if (base.bytes.empty()) {
            std::printf("%s: the platform made none; its mutants are left out\n", base.name);
            continue;
        }
        Outcome o = load(base.bytes, false);
        EXPECT_EQ(o.opened, 1) << base.name;
        EXPECT_EQ(o.read, 1) << base.name;
        EXPECT_EQ(o.fault, "") << base.name;
    }
}

uint32_t mutant_count(const BasePicture& base)
{
    return base.name[0] == 'P' ? 150 : 160;
}

int env_number(const char* name)
{
    char text[32];
    DWORD length = ::GetEnvironmentVariableA(name, text, sizeof text);
    return length > 0 && length < sizeof text ? std::atoi(text) : -1;
}

// The mutants of one picture from SONDREL_FUZZ_FROM on. A fault in the
// platform's own decoding kills the process, so the parent test below runs
// this in a child and starts it again after the mutant that killed it.
TEST(DISABLED_ImageChild, MutantsOfOnePicture)
{
    const int which = env_number("SONDREL_FUZZ_BASE"), from = env_number("SONDREL_FUZZ_FROM");
    ASSERT_TRUE(which >= 0 && which < int(base_pictures().size()) && from >= 0);
    const BasePicture& base = base_pictures()[which];
    const DWORD started = ::GetTickCount();
    int mutants = 0, opened = 0, read = 0, too_large = 0;
    std::vector<std::string> faults;
    ::testing::internal::CaptureStderr();
    for (uint32_t k = uint32_t(from); k < mutant_count(base); ++k) {
        std::string how;
        Bytes mutant = mutate(base, k, &how);
        if (mutant.empty()) continue;
        std::string what = std::string(base.name) + ", mutant " + std::to_string(k) + ": " + how;
        fuzz_case_begin(what, mutant);
        Outcome o = load(mutant, k % 2 == 1);
        fuzz_case_end();
        ++mutants;
        opened += o.opened;
        read += o.read;
        too_large += o.too_large;
        if (!o.fault.empty()) {
            std::string name = "fuzz_image_fault_" + std::to_string(which) + "_" + std::to_string(k) + ".bin";
            FILE* file = std::fopen(name.c_str(), "wb");
            if (file) {
                std::fwrite(mutant.data(), 1, mutant.size(), file);
                std::fclose(file);
            }
            faults.push_back(what + ": " + o.fault + " (input in " + name + ")");
        }
    }
    std::string printed = ::testing::internal::GetCapturedStderr();
    std::printf("%s from mutant %d: %d mutants, %d opened (%d too large to read), %d read whole; %.1f s\n", base.name,
                from, mutants, opened, too_large, read, (::GetTickCount() - started) / 1000.0);
    std::string listed;
    for (size_t i = 0; i < faults.size() && i < 10; ++i) listed += "  " + faults[i] + "\n";
    EXPECT_TRUE(faults.empty()) << faults.size() << " mutants broke a rule:\n" << listed;
    EXPECT_EQ(printed, "") << "the decoders print nothing";
}

TEST(ImageFuzz, MutantsDecodeOrFailCleanly)
{
    char self[MAX_PATH], folder[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    ::GetCurrentDirectoryA(MAX_PATH, folder);
    const DWORD started = ::GetTickCount();
    std::vector<std::string> faults;
    for (size_t which = 0; which < base_pictures().size(); ++which) {
        const BasePicture& base = base_pictures()[which];
        if (base.bytes.empty()) continue;
        for (uint32_t from = 0; from < mutant_count(base);) {
            std::remove("fuzz_image_crash.bin.txt");
            Child child =
                start_child(self, folder,
                            {"SONDREL_FUZZ_BASE=" + std::to_string(which), "SONDREL_FUZZ_FROM=" + std::to_string(from)},
                            child_test_arguments("DISABLED_ImageChild.*"));
            ASSERT_TRUE(child.started);
            long code = wait_child(child, 240000);
            if (code == -1) kill_child(child);
            if (code == 0) break;
            if (code != 3) {
                faults.push_back(std::string(base.name) + " from mutant " + std::to_string(from) +
                                 ": the child ended with code " + std::to_string(code) + " (its output is above)");
                break;
            }
            // Killed by a mutant: name it, keep its input, go on after it.
            FILE* file = std::fopen("fuzz_image_crash.bin.txt", "rb");
            char why[512] = "", what[512] = "";
            if (file) {
                if (!std::fgets(why, sizeof why, file) || !std::fgets(what, sizeof what, file)) what[0] = 0;
                std::fclose(file);
            }
            const char* at = std::strstr(what, "mutant ");
            const long killer = at ? std::atol(at + 7) : -1;
            if (killer < long(from)) { // no word of which mutant: the crash still counts
                faults.push_back(std::string(base.name) + " from mutant " + std::to_string(from) +
                                 ": the child was brought down and left no usable description");
                break;
            }
            std::string kept = "fuzz_image_crash_" + std::to_string(which) + "_" + std::to_string(killer) + ".bin";
            ::MoveFileExA("fuzz_image_crash.bin", kept.c_str(), MOVEFILE_REPLACE_EXISTING);
            std::string line = std::string(what) + "  " + why;
            line.erase(std::remove(line.begin(), line.end(), '\n'), line.end());
            faults.push_back(line + " (input in " + kept + ")");
            from = uint32_t(killer) + 1;
        }
    }
    std::printf("pictures: every mutant tried in %.1f s\n", (::GetTickCount() - started) / 1000.0);
    std::string listed;
    for (const std::string& fault : faults) listed += "  " + fault + "\n";
    EXPECT_TRUE(faults.empty()) << faults.size() << " mutants brought the decoding down or broke a rule:\n" << listed;
}

} // namespace
