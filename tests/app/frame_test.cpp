// The frame drawing, driven with chosen captures and bins, checked pixel by pixel.
#include "app/program.h"
#include "app/visualizer.h"
#include "core/object_heap.h"
#include "core/runtime.h"
#include "image/drawing.h"
#include "image/image.h"
#include "window/window.h"
#include "bare_frame.h"
#include "image_pixels.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace {
constexpr uint32_t BLACK = 0x000000;
constexpr uint32_t GREEN = 0x00FF00;
constexpr uint32_t AXIS = 0x1E1A93; // as 0xRRGGBB
constexpr uint32_t BACKGROUND = 0x130103;
constexpr uint32_t BAR = 0xC90613;

struct AppEnvironment : ::testing::Environment {
    void SetUp() override
    {
        ASSERT_TRUE(program_start(::GetModuleHandleA(nullptr)));
        application_start();
        ASSERT_NE(nullptr, window_current()) << "expected the application's window";
    }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new AppEnvironment);

// Rows 0..299 of an image as 0x00RRGGBB.
std::vector<uint32_t> image_rows(int number)
{
    HGDIOBJ bitmap = image_get(number);
    std::vector<uint32_t> pixels(1000 * 300);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = 1000;
    info.bmiHeader.biHeight = -600;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> all(1000 * 600);
    HDC screen = ::GetDC(nullptr);
    int rows = ::GetDIBits(screen, static_cast<HBITMAP>(bitmap), 0, 600, all.data(), &info, DIB_RGB_COLORS);
    ::ReleaseDC(nullptr, screen);
    EXPECT_EQ(600, rows) << "could not read image " << number;
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = all[i] & 0x00FFFFFF;
    return pixels;
}

uint32_t at(const std::vector<uint32_t>& rows, int x, int y)
{
    return rows[size_t(y) * 1000 + x];
}

struct Frame {
    std::vector<uint8_t> capture = std::vector<uint8_t>(8192, 0);
    std::vector<float> bins = std::vector<float>(2050, 0.0f);

    void left(int frame, uint16_t value) { std::memcpy(&capture[frame * 4], &value, 2); }
    void right(int frame, uint16_t value) { std::memcpy(&capture[frame * 4 + 2], &value, 2); }
    void draw()
    {
        visualizer().samples = reinterpret_cast<int8_t*>(capture.data());
        visualizer().spectrum = bins.data();
        frame_draw();
    }
};

// Rows that bar column x fills, counted up from row 299.
int column_height(const std::vector<uint32_t>& rows, int x)
{
    int h = 0;
    while (h < 300 && at(rows, x, 299 - h) == BAR) ++h;
    return h;
}
} // namespace

TEST(BarHeight, ScalesAndRoundsHalvesToEven)
{
    EXPECT_EQ(-10, bar_height(0.0f));
    EXPECT_EQ(-110, bar_height(-1000000.0f));
    EXPECT_EQ(-2, bar_height(85000.0f));
    EXPECT_EQ(-1, bar_height(86000.0f));
    EXPECT_EQ(20, bar_height(300000.0f));
    // 25000 * scale is just under 2.5, so rounds to 2 - 10 = -8 (and not to -7).
    EXPECT_EQ(-8, bar_height(25000.0f));
    EXPECT_EQ(-12, bar_height(-25000.0f));
}

// The product is a float: rounded to float32 before the offset, so a product
// just off a half that rounds onto it then goes to even. Kept wider (as the
// x87 stack can), these would be a pixel off.
namespace {
struct RoundingCase {
    uint32_t bits; // the float's bits: these values have no short decimal form
    int32_t expected;
};
constexpr RoundingCase ROUNDING_CASES[] = {
    {0xC77DE802, -16}, // about -65000.008: product -6.50000014, as a float -6.5
    {0x477DE802, -4},  // about 65000.008: 6.50000014, as a float 6.5
    {0xC7B98C01, -20}, // about -95000.008: -9.49999985, as a float -9.5
    {0x47B98C01, 0},   // about 95000.008: 9.49999985, as a float 9.5
    {0xC66A6001, -12}, // about -15000.001: -1.49999995, as a float -1.5
};

float float_of(uint32_t bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
} // namespace

TEST(BarHeight, ScaledValueIsRoundedToFloatFirst)
{
    for (const RoundingCase& c : ROUNDING_CASES)
        EXPECT_EQ(c.expected, bar_height(float_of(c.bits))) << "value 0x" << std::hex << c.bits;
}

// With SONDREL_FRAME_FOLDER set, draws frames from seeded captures and bins and
// writes both images' rows there, as frame-N.bin: the 32-bit and the 64-bit
// build must write the same bytes. The inputs come from integer arithmetic
// only, so both builds draw from the same ones.
TEST(CrossBuild, SeededFramesGoToTheFolder)
{
    const char* folder = std::getenv("SONDREL_FRAME_FOLDER");
    if (!folder) GTEST_SKIP() << "SONDREL_FRAME_FOLDER names no folder to write to";
    uint32_t seed = 0x2545F491;
    auto next = [&seed] {
        seed ^= seed << 13;
        seed ^= seed >> 17;
        seed ^= seed << 5;
        return seed;
    };
    // Any float from 1000 to 3.5 million, either sign: bars
    // from none to the full height, and every rounding on the way.
    const uint32_t low = 0x447A0000, high = 0x4A559F80;
    for (int n = 0; n < 8; ++n) {
        Frame f;
        for (uint8_t& byte : f.capture) byte = uint8_t(next() >> 24);
        for (float& bin : f.bins) {
            uint32_t magnitude = low + next() % (high - low);
            bin = float_of(magnitude | (next() & 0x80000000));
        }
        if (n == 0)
            for (size_t i = 0; i < std::size(ROUNDING_CASES); ++i)
                f.bins[10 + 4 * i] = float_of(ROUNDING_CASES[i].bits);
        f.draw();
        char path[MAX_PATH];
        std::snprintf(path, sizeof path, "%s/frame-%d.bin", folder, n);
        std::FILE* file = std::fopen(path, "wb");
        ASSERT_NE(nullptr, file) << "could not write " << path;
        for (int image = 0; image < 2; ++image) {
            std::vector<uint32_t> rows = image_rows(image);
            EXPECT_EQ(rows.size(), std::fwrite(rows.data(), sizeof rows[0], rows.size(), file)) << path;
        }
        std::fclose(file);
    }
}

TEST(Oscilloscope, OnlyTheHighByteOfTheLeftSampleCounts)
{
    Frame f;
    f.left(0, 0x7FFF);   // x 0
    f.left(1, 0x8000);   // x 2
    f.left(2, 0x00FF);   // x 4
    f.left(3, 0xFFFF);   // x 6
    f.right(10, 0x7FFF); // the right channel never shows
    f.draw();
    auto rows = image_rows(0);
    EXPECT_EQ(GREEN, at(rows, 0, 277)) << "0x7FFF plots at row 277";
    EXPECT_EQ(GREEN, at(rows, 2, 22)) << "0x8000 plots at row 22";
    EXPECT_EQ(AXIS, at(rows, 4, 150)) << "0x00FF lies on the axis, which covers it";
    EXPECT_EQ(GREEN, at(rows, 6, 149)) << "0xFFFF (-1) plots just above the axis";
    EXPECT_EQ(BLACK, at(rows, 20, 277)) << "the right channel must not be drawn";
    EXPECT_EQ(BLACK, at(rows, 1, 277)) << "points lie on even columns only";
    int green = 0;
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 1000; ++x) green += at(rows, x, y) == GREEN;
    EXPECT_EQ(3, green) << "three off-axis points; the axis covers all the others";
}

TEST(Oscilloscope, SilenceLiesUnderTheAxisBetweenTheLines)
{
    Frame f;
    f.draw();
    auto rows = image_rows(0);
    for (int x = 0; x < 1000; ++x) {
        ASSERT_EQ(AXIS, at(rows, x, 150)) << "column " << x;
        ASSERT_EQ(0xA0A0A0u, at(rows, x, 299)) << "column " << x;
        ASSERT_EQ(BLACK, at(rows, x, 149)) << "column " << x;
        ASSERT_EQ(BLACK, at(rows, x, 0)) << "column " << x;
    }
}

TEST(Spectrum, BarHeightsFollowTheSignedValues)
{
    Frame f;
    f.draw();
    auto rows = image_rows(1);
    EXPECT_EQ(BACKGROUND, at(rows, 0, 299)) << "column 0 shows only background";
    EXPECT_EQ(9, column_height(rows, 1)) << "a value of 0 draws 9 pixels";
    EXPECT_EQ(9, column_height(rows, 999)) << "the last column is covered";

    // Every other bar out of the way (h = 10), so each column shows one bar.
    for (int i = 1; i <= 1000; ++i) f.bins[i] = 200000.0f;
    f.bins[100] = -1000000.0f; // h = -110: 109 pixels
    f.bins[200] = 85000.0f;    // h = -2: 1 pixel
    f.bins[300] = 86000.0f;    // h = -1: nothing
    f.bins[400] = 1.0e9f;      // far above: nothing
    f.draw();
    rows = image_rows(1);
    EXPECT_EQ(109, column_height(rows, 100));
    EXPECT_EQ(BACKGROUND, at(rows, 100, 299 - 109));
    for (int x = 200; x <= 202; ++x) EXPECT_EQ(1, column_height(rows, x)) << "h = -2 fills row 299 of column " << x;
    EXPECT_EQ(BACKGROUND, at(rows, 200, 298));
    for (int x : {199, 203, 300, 301, 302, 400})
        EXPECT_EQ(BACKGROUND, at(rows, x, 299)) << "h >= -1 shows nothing in column " << x;
}

TEST(Spectrum, OverlappingBarsShowTheTallestOfThree)
{
    Frame f;
    for (int i = 1; i <= 1000; ++i) f.bins[i] = 200000.0f; // h = 10: no bar anywhere
    f.bins[500] = -500000.0f;                              // h = -60: 59 pixels
    f.bins[502] = -200000.0f;                              // h = -30: 29 pixels
    f.draw();
    auto rows = image_rows(1);
    EXPECT_EQ(0, column_height(rows, 499));
    EXPECT_EQ(59, column_height(rows, 500));
    EXPECT_EQ(59, column_height(rows, 502)) << "bars 500 and 502 both cover column 502";
    EXPECT_EQ(29, column_height(rows, 503));
    EXPECT_EQ(29, column_height(rows, 504));
    EXPECT_EQ(0, column_height(rows, 505));
}

namespace {
// Where two pictures first differ, and in how many pixels; empty when equal.
std::string difference(const Pixels& ours, const Pixels& bare)
{
    if (ours.width != bare.width || ours.height != bare.height) return "the sizes differ";
    size_t first = 0, differing = 0;
    for (size_t i = 0; i < ours.values.size(); ++i) {
        if (ours.values[i] == bare.values[i]) continue;
        if (!differing++) first = i;
    }
    if (!differing) return {};
    char text[160];
    std::snprintf(text, sizeof text, "%zu pixels differ, first at (%zu, %zu): expected 0x%06X, got 0x%06X", differing,
                  first % ours.width, first / ours.width, bare.values[first], ours.values[first]);
    return text;
}

void paint_window(HWND window, COLORREF colour)
{
    HDC dc = ::GetDC(window);
    HBRUSH brush = ::CreateSolidBrush(colour);
    RECT all{0, 0, 1000, 600};
    ::FillRect(dc, &all, brush);
    ::DeleteObject(brush);
    ::ReleaseDC(window, dc);
}
} // namespace

// Random captures and spectra, bars of every height from none to taller than
// the window: each frame, both images and the window, must be exactly what
// the same platform calls draw written bare.
TEST(Frame, RandomFramesMatchTheBarePlatformCallsPixelForPixel)
{
    frame_images_create(); // no earlier test's bars below row 300
    HDC display = ::CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    HBITMAP bare[2] = {::CreateCompatibleBitmap(display, 1000, 600), ::CreateCompatibleBitmap(display, 1000, 600)};
    ::DeleteDC(display);
    ASSERT_TRUE(bare[0] && bare[1]);
    HWND window = window_current();
    ASSERT_EQ(bitmap_pixels(bare[1]).values, bitmap_pixels(static_cast<HBITMAP>(image_get(1))).values)
        << "both sides start black";

    std::mt19937 random(14);
    std::uniform_int_distribution<int> byte(0, 255), kind(0, 9);
    std::uniform_real_distribution<float> usual(-3.5e6f, 3.0e5f), extreme(-1.4e8f, 1.4e8f);
    for (int n = 0; n < 300; ++n) {
        Frame f;
        for (uint8_t& b : f.capture) b = static_cast<uint8_t>(byte(random));
        for (float& v : f.bins) {
            int k = kind(random);
            v = k == 0 ? 0.0f : k == 1 ? extreme(random) : usual(random);
        }
        paint_window(window, 0xFFFFFF);
        f.draw();
        Pixels ours = window_pixels(window);
        paint_window(window, 0xFFFFFF);
        bare_oscilloscope(bare[0], reinterpret_cast<const int8_t*>(f.capture.data()));
        bare_spectrum(bare[1], f.bins.data());
        bare_window(window, bare[0], bare[1]);
        for (int image = 0; image < 2; ++image) {
            std::string d =
                difference(bitmap_pixels(static_cast<HBITMAP>(image_get(image))), bitmap_pixels(bare[image]));
            ASSERT_EQ("", d) << "frame " << n << ", image " << image;
        }
        ASSERT_EQ("", difference(ours, window_pixels(window))) << "frame " << n << ", window";
    }
    ::DeleteObject(bare[0]);
    ::DeleteObject(bare[1]);
}
