// GIF image data for decoder tests.
#pragma once
#include <cstdint>
#include <vector>

// Packs LZW codes that are all 3 bits wide, least significant bit first, as
// GIF image data stores them (before it is cut into sub-blocks).
inline std::vector<uint8_t> gif_pack_codes3(const std::vector<int>& codes)
{
    std::vector<uint8_t> data((codes.size() * 3 + 7) / 8, 0);
    for (size_t i = 0; i < codes.size(); ++i)
        for (int bit = 0; bit < 3; ++bit)
            if (codes[i] >> bit & 1) data[(i * 3 + bit) / 8] |= uint8_t(1 << ((i * 3 + bit) % 8));
    return data;
}
