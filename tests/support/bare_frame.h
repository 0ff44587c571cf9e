// The visualizer's frame drawn with the platform calls alone, without the
// runtime: the same calls in the same order on the same kind of targets,
// making and deleting the same objects. A reference for pixels and for time.
#pragma once
#include <windows.h>

#include <cstdint>

// Bar height for one float of the bins, worked out apart from the program.
int32_t bare_bar_height(float value);

// Black box, 512 points from the capture's left high bytes, two lines.
void bare_oscilloscope(HBITMAP image, const int8_t* capture);
// Dark box and 1000 bars from floats 1 to 1000 of the bins.
void bare_spectrum(HBITMAP image, const float* bins);
// The two images copied into the window's client area, upper and lower half.
void bare_window(HWND window, HBITMAP oscilloscope, HBITMAP spectrum);
