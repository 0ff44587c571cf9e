// The visualizer's drawing load per frame: one box, 512 plots and 2 lines on
// image 0; one box and 1000 bars on image 1; two unstretched copies into the
// 1000 by 600 window. Prints the time per frame, per pass and per primitive.
#include "core/object_heap.h"
#include "core/runtime.h"
#include "image/drawing.h"
#include "image/image.h"
#include "window/window.h"

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {
constexpr int WARM_UP_FRAMES = 30;
constexpr int FRAMES = 500;

double now_ms()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        ::QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    ::QueryPerformanceCounter(&t);
    return 1000.0 * static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

struct Series {
    std::vector<double> ms;
    void print(const char* name, int primitives) const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        double mean = 0;
        for (double v : sorted) mean += v;
        mean /= static_cast<double>(sorted.size());
        double median = sorted[sorted.size() / 2];
        double p95 = sorted[sorted.size() * 95 / 100];
        std::printf("%-34s min %7.3f  median %7.3f  mean %7.3f  p95 %7.3f  max %7.3f ms", name, sorted.front(), median,
                    mean, p95, sorted.back());
        if (primitives) std::printf("  (median %.2f us per primitive)", 1000.0 * median / primitives);
        std::printf("\n");
    }
};
} // namespace

int main()
{
    if (!runtime_start(::GetModuleHandleA(nullptr))) return 1;
    drawing_init();
    object_heap_create();
    images_init();
    windows_init();
    if (!window_open(0, 0, 0, 1000, 600, WINDOW_CENTRE_SCREEN | 0x10C80000, " drawing benchmark")) {
        std::printf("no window could be opened\n");
        return 1;
    }
    if (!image_create(0, 1000, 600) || !image_create(1, 1000, 600)) {
        std::printf("the frame images could not be made\n");
        return 1;
    }

    // Stand-ins for the capture (left channel high bytes) and the spectrum bins.
    std::vector<int8_t> samples(2048 * 4);
    std::vector<float> bins(2050);
    for (size_t i = 0; i < 2048; ++i)
        samples[4 * i + 1] = static_cast<int8_t>(100.0 * std::sin(0.05 * static_cast<double>(i)));
    for (size_t i = 0; i < bins.size(); ++i)
        bins[i] = static_cast<float>(1.0e6 * std::sin(0.37 * static_cast<double>(i)));
    const float scale = 0.0000999999902f;

    Series oscilloscope, spectrum, window, frame;
    for (int n = 0; n < WARM_UP_FRAMES + FRAMES; ++n) {
        double t0 = now_ms();
        image_get(0);
        drawing_begin(image_output());
        draw_box(0, 0, 1000, 300);
        int32_t x = 0;
        for (int32_t index = 1; index <= 2047; index += 4, x += 2) draw_plot(x, 150 + samples[index], 0x00FF00);
        draw_line(0, 299, 1000, 299, 0xA0A0A0);
        draw_line(0, 150, 1000, 150, 0x931A1E);
        drawing_end();
        double t1 = now_ms();
        image_get(1);
        drawing_begin(image_output());
        draw_box(0, 0, 1000, 300, 0x030113);
        for (int32_t index = 1; index <= 1000; ++index) {
            float scaled = bins[index] * scale;
            draw_box(index, 300, 3, static_cast<int32_t>(std::nearbyint(scaled - 10.0f)), 0x1306C9);
        }
        drawing_end();
        double t2 = now_ms();
        drawing_begin(window_output());
        draw_image(image_get(0), 0, 0);
        draw_image(image_get(1), 0, 300);
        drawing_end();
        double t3 = now_ms();
        while (window_event() != 0) {
        }
        if (n >= WARM_UP_FRAMES) {
            oscilloscope.ms.push_back(t1 - t0);
            spectrum.ms.push_back(t2 - t1);
            window.ms.push_back(t3 - t2);
            frame.ms.push_back(t3 - t0);
        }
    }
    std::printf("%d frames after %d warm-up frames, 1000x600 images, 1000x600 window\n", FRAMES, WARM_UP_FRAMES);
    oscilloscope.print("image 0: box, 512 plots, 2 lines", 515);
    spectrum.print("image 1: box, 1000 bars", 1001);
    window.print("window: two copies", 2);
    frame.print("whole frame", 1518);
    windows_close_all();
    images_free_all();
    return 0;
}
