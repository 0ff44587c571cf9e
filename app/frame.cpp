#include "app/visualizer.h"

#include "image/drawing.h"
#include "image/image.h"

#include <cmath>
#include <cstring>

namespace {
constexpr int32_t SHOWN_ROWS = FRAME_HEIGHT / 2; // of each image: the window shows one above the other
constexpr int32_t AXIS_ROW = SHOWN_ROWS / 2;
constexpr int32_t BAR_WIDTH = 3;
constexpr COLORREF WAVE_COLOUR = 0x00FF00;
constexpr COLORREF BOTTOM_LINE_COLOUR = 0xA0A0A0;
constexpr COLORREF AXIS_COLOUR = 0x931A1E;
constexpr COLORREF SPECTRUM_BACKGROUND = 0x030113;
constexpr COLORREF BAR_COLOUR = 0x1306C9;
constexpr uint32_t SPECTRUM_SCALE_BITS = 0x38D1B716; // just below the float nearest 0.0001
constexpr float SPECTRUM_OFFSET = -10.0f;

float spectrum_scale()
{
    float scale;
    std::memcpy(&scale, &SPECTRUM_SCALE_BITS, sizeof scale);
    return scale;
}
} // namespace

void frame_images_create()
{
    image_create(0, FRAME_WIDTH, FRAME_HEIGHT);
    image_create(1, FRAME_WIDTH, FRAME_HEIGHT);
}

int32_t bar_height(float value)
{
    float scaled = value * spectrum_scale();
    visualizer().scaled = scaled;
    // Nearest integer, halves to even (the default rounding mode).
    return static_cast<int32_t>(std::lrint(static_cast<double>(scaled) + SPECTRUM_OFFSET));
}

// The refill worker rewrites the capture while we draw: read the whole 4-byte
// frame atomically and take the wanted byte from it.
static int8_t sample_byte(const int8_t* samples, int32_t index)
{
    const auto* frame = reinterpret_cast<const uint32_t*>(samples + (index & ~3));
    uint32_t word = __atomic_load_n(frame, __ATOMIC_RELAXED);
    return static_cast<int8_t>(word >> (8 * (index & 3)));
}

// Point k is the high byte of frame k's left sample: 1/256 of its amplitude
// around the axis, positive samples below it.
static void draw_oscilloscope()
{
    VisualizerState& s = visualizer();
    image_get(0);
    drawing_begin(image_output());
    draw_box(0, 0, FRAME_WIDTH, SHOWN_ROWS);
    s.x = 0;
    for (s.index = 1; s.index < SPECTRUM_POINTS; s.index += 4) {
        int32_t b = s.samples ? sample_byte(s.samples, s.index) : 0;
        draw_plot(s.x, AXIS_ROW + b, WAVE_COLOUR);
        s.x += 2;
    }
    draw_line(0, SHOWN_ROWS - 1, FRAME_WIDTH, SHOWN_ROWS - 1, BOTTOM_LINE_COLOUR);
    draw_line(0, AXIS_ROW, FRAME_WIDTH, AXIS_ROW, AXIS_COLOUR); // over the points on the axis
    drawing_end();
}

// Bar k shows float k of the bins: real and imaginary parts in turn, signed.
static void draw_spectrum()
{
    VisualizerState& s = visualizer();
    image_get(1);
    drawing_begin(image_output());
    draw_box(0, 0, FRAME_WIDTH, SHOWN_ROWS, SPECTRUM_BACKGROUND);
    for (s.index = 1; s.index <= FRAME_WIDTH; ++s.index) {
        float value = s.spectrum ? s.spectrum[s.index] : 0.0f;
        draw_box(s.index, SHOWN_ROWS, BAR_WIDTH, bar_height(value), BAR_COLOUR);
    }
    drawing_end();
}

void frame_draw()
{
    draw_oscilloscope();
    draw_spectrum();
    drawing_begin(window_output());
    draw_image(image_get(0), 0, 0);
    draw_image(image_get(1), 0, SHOWN_ROWS);
    drawing_end();
}
