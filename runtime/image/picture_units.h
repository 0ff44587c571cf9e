// Inside the image runtime only: HIMETRIC units (0.01 mm) and screen pixels.
#pragma once
#include <cmath>
#include <cstdint>

// Pixels per HIMETRIC unit for a screen of the given pixels per inch.
inline float pixels_per_himetric(int32_t pixels_per_inch)
{
    return static_cast<float>(pixels_per_inch) / 2540.0f;
}

// Rounded to the nearest pixel; pictures stored upside down report negative sizes.
inline int32_t himetric_to_pixels(int32_t himetric, float scale)
{
    long pixels = std::lrintf(static_cast<float>(himetric) * scale);
    return static_cast<int32_t>(pixels < 0 ? -pixels : pixels);
}
