// The visualizer's drawing load per frame: one box, 512 plots and 2 lines on
// image 0; one box and 1000 bars on image 1; two unstretched copies into the
// 1000 by 600 window. Each frame is drawn twice, through the runtime and with
// the same platform calls written bare, in turns, so that both see the same
// machine; prints both per pass and the runtime's ratio to the bare calls.
#include "core/object_heap.h"
#include "core/runtime.h"
#include "image/drawing.h"
#include "image/image.h"
#include "window/window.h"
#include "bare_frame.h"

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
    double median() const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        return sorted[sorted.size() / 2];
    }
    void print(const char* name, int primitives) const
    {
        std::vector<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        double mean = 0;
        for (double v : sorted) mean += v;
        mean /= static_cast<double>(sorted.size());
        double p95 = sorted[sorted.size() * 95 / 100];
        std::printf("%-40s min %7.3f  median %7.3f  mean %7.3f  p95 %7.3f  max %7.3f ms", name, sorted.front(),
                    median(), mean, p95, sorted.back());
        if (primitives) std::printf("  (median %.2f us per primitive)", 1000.0 * median() / primitives);
        std::printf("\n");
    }
};

// One row of figures: the runtime's pass and the same calls written bare.
struct Row {
    const char* name;
    int primitives;
    Series runtime, bare;
};

// Stand-ins for the capture (left channel high bytes) and the spectrum bins.
std::vector<int8_t> samples(2048 * 4);
std::vector<float> bins(2050);

void runtime_oscilloscope()
{
    image_get(0);
    drawing_begin(image_output());
    draw_box(0, 0, 1000, 300);
    int32_t x = 0;
    for (int32_t index = 1; index <= 2047; index += 4, x += 2) draw_plot(x, 150 + samples[index], 0x00FF00);
    draw_line(0, 299, 1000, 299, 0xA0A0A0);
    draw_line(0, 150, 1000, 150, 0x931A1E);
    drawing_end();
}

void runtime_spectrum()
{
    image_get(1);
    drawing_begin(image_output());
    draw_box(0, 0, 1000, 300, 0x030113);
    for (int32_t index = 1; index <= 1000; ++index) draw_box(index, 300, 3, bare_bar_height(bins[index]), 0x1306C9);
    drawing_end();
}

void runtime_window()
{
    drawing_begin(window_output());
    draw_image(image_get(0), 0, 0);
    draw_image(image_get(1), 0, 300);
    drawing_end();
}

// Times the three passes of one frame into the rows (and the frame into the last).
template <typename Oscilloscope, typename Spectrum, typename Window>
void frame(bool keep, Row* rows, Series Row::*side, Oscilloscope oscilloscope, Spectrum spectrum, Window window)
{
    double t0 = now_ms();
    oscilloscope();
    double t1 = now_ms();
    spectrum();
    double t2 = now_ms();
    window();
    double t3 = now_ms();
    if (!keep) return;
    (rows[0].*side).ms.push_back(t1 - t0);
    (rows[1].*side).ms.push_back(t2 - t1);
    (rows[2].*side).ms.push_back(t3 - t2);
    (rows[3].*side).ms.push_back(t3 - t0);
}
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
    HWND window = window_current();
    auto image0 = static_cast<HBITMAP>(image_get(0));
    auto image1 = static_cast<HBITMAP>(image_get(1));

    for (size_t i = 0; i < 2048; ++i)
        samples[4 * i + 1] = static_cast<int8_t>(100.0 * std::sin(0.05 * static_cast<double>(i)));
    for (size_t i = 0; i < bins.size(); ++i)
        bins[i] = static_cast<float>(1.0e6 * std::sin(0.37 * static_cast<double>(i)));

    Row rows[4] = {{"image 0: box, 512 plots, 2 lines", 515, {}, {}},
                   {"image 1: box, 1000 bars", 1001, {}, {}},
                   {"window: two copies", 2, {}, {}},
                   {"whole frame", 1518, {}, {}}};
    auto ours = [&](bool keep) {
        frame(keep, rows, &Row::runtime, runtime_oscilloscope, runtime_spectrum, runtime_window);
    };
    auto bare = [&](bool keep) {
        frame(
            keep, rows, &Row::bare, [&] { bare_oscilloscope(image0, samples.data()); },
            [&] { bare_spectrum(image1, bins.data()); }, [&] { bare_window(window, image0, image1); });
    };
    for (int n = 0; n < WARM_UP_FRAMES + FRAMES; ++n) {
        bool keep = n >= WARM_UP_FRAMES;
        // Turn about, so that neither side always follows the other.
        if (n % 2) {
            ours(keep);
            bare(keep);
        } else {
            bare(keep);
            ours(keep);
        }
        while (window_event() != 0) {
        }
    }
    std::printf(
        "%d frames after %d warm-up frames, 1000x600 images, 1000x600 window; each frame drawn through the "
        "runtime and with the bare platform calls, in turns\n",
        FRAMES, WARM_UP_FRAMES);
    for (const Row& row : rows) {
        row.runtime.print(row.name, row.primitives);
        char bare_name[64];
        std::snprintf(bare_name, sizeof bare_name, "  bare calls: %s", row.name);
        row.bare.print(bare_name, row.primitives);
    }
    std::printf("runtime / bare calls, medians:");
    for (const Row& row : rows) std::printf("  %s %.2f", row.name, row.runtime.median() / row.bare.median());
    std::printf("  (target: whole frame <= 1.15)\n");
    windows_close_all();
    images_free_all();
    return 0;
}
