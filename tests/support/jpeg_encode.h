// JPEG data for decoder tests, made with the platform's own encoder.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

// Encodes width by height 24-bit blue, green, red pixels (rows top-down, no
// padding); empty if the platform has no JPEG encoder. COM must be started.
std::vector<uint8_t> jpeg_encode(const std::vector<uint8_t>& bgr_pixels, UINT width, UINT height);
