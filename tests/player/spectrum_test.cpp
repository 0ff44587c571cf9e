// The spectrum of the capture against an independent DFT.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <random>

#include "player_fixture.h"

namespace {

// 512 captured frames, as a refill leaves them (the other 1536 stay zero).
void capture_frames(const std::vector<int16_t>& left, const std::vector<int16_t>& right)
{
    Bytes half(HALF, 0);
    for (size_t i = 0; i < 512; i++) {
        std::memcpy(&half[4 * i], &left[i], 2);
        std::memcpy(&half[4 * i + 2], &right[i], 2);
    }
    capture_store(half.data(), HALF);
}

std::complex<double> dft_bin(const std::vector<int16_t>& left, const std::vector<int16_t>& right, int k)
{
    const double pi = std::acos(-1.0);
    std::complex<double> sum = 0;
    for (int n = 0; n < 512; n++)
        sum += double(int(left[size_t(n)]) + right[size_t(n)]) * std::polar(1.0, -2 * pi * k * n / 2048.0);
    return sum;
}

int allocations_left = 0;
void* failing_malloc(size_t bytes)
{
    return allocations_left-- > 0 ? std::malloc(bytes) : nullptr;
}

} // namespace

TEST(Spectrum, MatchesAnIndependentDft)
{
    spectrum_init();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    std::vector<int16_t> left(512), right(512);
    for (size_t i = 0; i < 512; i++) {
        left[i] = int16_t(sample(random));
        right[i] = int16_t(sample(random));
    }
    capture_frames(left, right);
    kiss_fft_cpx* bins = spectrum_compute();
    ASSERT_NE(bins, nullptr);
    EXPECT_EQ(bins[0].r, 0.0f);
    EXPECT_EQ(bins[0].i, 0.0f);
    double worst = 0;
    for (int k = 1; k < 1025; k++) {
        std::complex<double> want = dft_bin(left, right, k);
        worst = std::max(worst, std::abs(want - std::complex<double>(bins[k].r, bins[k].i)));
    }
    EXPECT_LT(worst, 20.0) << "bins reach about 1e6; float rounding stays far below this";
    EXPECT_EQ(spectrum_compute(), bins) << "the same bins on every call";
}

TEST(Spectrum, ConstantAndOpposedChannels)
{
    spectrum_init();
    const int16_t v = 1000;
    capture_frames(std::vector<int16_t>(512, v), std::vector<int16_t>(512, v));
    kiss_fft_cpx* bins = spectrum_compute();
    ASSERT_NE(bins, nullptr);
    EXPECT_NEAR(std::hypot(bins[1].r, bins[1].i), 921.9 * v, 0.1 * v);
    for (int k = 4; k < 1025; k += 4) EXPECT_NEAR(std::hypot(bins[k].r, bins[k].i), 0.0, 0.5) << "bin " << k;

    std::vector<int16_t> left(512), right(512);
    for (int i = 0; i < 512; i++) {
        left[size_t(i)] = int16_t(i * 61 - 15000);
        right[size_t(i)] = int16_t(-left[size_t(i)]);
    }
    capture_frames(left, right);
    bins = spectrum_compute();
    for (int k = 0; k < 1025; k++) ASSERT_TRUE(bins[k].r == 0 && bins[k].i == 0) << "bin " << k;
}

TEST(Spectrum, FailedAllocationLeavesCaptureOff)
{
    StreamPlayer& p = stream_player();
    for (int succeed = 0; succeed < 3; succeed++) {
        player_release(PLAYER_SPECTRUM); // from nothing, as a fresh program would start
        ASSERT_EQ(p.spectrum.fft_plan, nullptr);
        allocations_left = succeed;
        spectrum_init_with(failing_malloc);
        EXPECT_FALSE(p.spectrum.capture_enabled.load()) << succeed << " allocations succeeded";
        EXPECT_EQ(spectrum_compute(), nullptr);
    }
    spectrum_init();
    EXPECT_NE(spectrum_compute(), nullptr) << "a later init that can allocate works";
}
