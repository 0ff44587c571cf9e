// The visualizer's own logic: start-up, frame loop and frame drawing.
#pragma once
#include <windows.h>

#include <cstdint>

struct VisualizerState {
    float* spectrum; // the player's bins, read as a flat float array
    int8_t* samples; // the capture array, read byte by byte
    int32_t index;   // loop counter of both drawing loops
    int32_t x;       // x of the next waveform point
    float scaled;    // the current bar's value after scaling
    HWND window;     // the program's window, as window_open returned it
};

VisualizerState& visualizer();

constexpr int32_t FRAME_WIDTH = 1000; // the client area and both frame images
constexpr int32_t FRAME_HEIGHT = 600;
// Points of the player's transform; also the bytes of the 512 frames a refill captures.
constexpr int32_t SPECTRUM_POINTS = 2048;

void application_start();            // the window, the frame images, the working arrays, the spectrum
[[noreturn]] void application_run(); // application_start, the music and the frame loop; ends in program_end

// One frame: newest spectrum and capture, drawing, 10 ms pause, exit test.
// False when the user asked to quit.
bool frame_run();

// Creates the two 1000 by 600 frame images (0: oscilloscope, 1: spectrum).
void frame_images_create();
// Draws the oscilloscope into image 0, the bars into image 1, both into the window.
void frame_draw();
// Height argument of a spectrum bar for one float of the bins (negative rises).
int32_t bar_height(float value);
