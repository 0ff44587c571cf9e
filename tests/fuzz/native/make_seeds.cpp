// Writes the kept seed corpus: synthesised Ogg Vorbis streams (every rate
// class the encoder takes, 1 to 8 channels, chains with and without a format
// change, a stream cut mid-page, one with a lost page) and small PNGs of the
// kinds the reader converts. Each Ogg seed begins with the refill target's
// two bytes of half size.
//   make_seeds OGG_DIR PNG_DIR
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "tools/oggsynth.h"

namespace {

int written = 0;

void save(const std::string& path, const Bytes& data)
{
    if (data.empty() || !write_file(path, data)) {
        std::fprintf(stderr, "make_seeds: could not make %s\n", path.c_str());
        std::exit(1);
    }
    written++;
}

void save_ogg(const std::string& dir, const char* name, uint16_t half, const Bytes& ogg)
{
    // The target's half is 2 + 2 * code, the code's top bit marking one of at most 64 bytes.
    const uint16_t code = uint16_t(half / 2 - 1) | (half <= 64 ? 0x8000 : 0);
    Bytes seed{uint8_t(code >> 8), uint8_t(code)};
    if (!ogg.empty()) seed.insert(seed.end(), ogg.begin(), ogg.end());
    save(dir + "/" + name, ogg.empty() ? Bytes{} : seed);
}

// A short tone, so that a seed stays a few KB.
Bytes tone(int channels, int rate, double seconds = 0.15)
{
    return ogg_encode(pcm_sine(channels, rate, size_t(rate * seconds), 440.0 + 55 * channels, 9000.0), channels, rate,
                      0.0f);
}

void append_png(png_structp write, png_bytep data, size_t length)
{
    Bytes* out = static_cast<Bytes*>(png_get_io_ptr(write));
    out->insert(out->end(), data, data + length);
}

void flush_png(png_structp) {}

// A width x height picture of the given kind with a simple gradient.
Bytes png_picture(uint32_t width, uint32_t height, int bit_depth, int colour_type, bool interlaced,
                  bool transparency = false)
{
    Bytes out;
    png_structp write = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(write);
    if (setjmp(png_jmpbuf(write))) {
        png_destroy_write_struct(&write, &info);
        return Bytes{};
    }
    png_set_write_fn(write, &out, append_png, flush_png);
    png_set_IHDR(write, info, width, height, bit_depth, colour_type,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (colour_type == PNG_COLOR_TYPE_PALETTE) {
        png_color palette[16];
        for (int i = 0; i < 16; i++) palette[i] = {png_byte(i * 16), png_byte(255 - i * 16), png_byte(i * 7)};
        png_set_PLTE(write, info, palette, 1 << bit_depth);
        png_byte alpha[4] = {0, 128, 255, 64};
        if (transparency) png_set_tRNS(write, info, alpha, 4, nullptr);
    }
    png_write_info(write, info);
    const size_t row_bytes = png_get_rowbytes(write, info);
    Bytes row(row_bytes);
    const int passes = png_set_interlace_handling(write);
    for (int pass = 0; pass < passes; pass++) {
        for (uint32_t y = 0; y < height; y++) {
            for (size_t x = 0; x < row_bytes; x++) row[x] = png_byte(x * 13 + y * 29);
            png_write_row(write, row.data());
        }
    }
    png_write_end(write, info);
    png_destroy_write_struct(&write, &info);
    return out;
}

// The picture with its declared size changed and the header's checksum
// mended, so that only the size is wrong.
Bytes png_declared(Bytes png, uint32_t width, uint32_t height)
{
    const uint32_t sizes[2] = {width, height};
    for (int i = 0; i < 2; i++)
        for (int b = 0; b < 4; b++) png[16 + 4 * i + b] = uint8_t(sizes[i] >> (24 - 8 * b));
    const uLong crc = crc32(0, png.data() + 12, 17);
    for (int b = 0; b < 4; b++) png[29 + b] = uint8_t(crc >> (24 - 8 * b));
    return png;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_seeds OGG_DIR PNG_DIR\n");
        return 2;
    }
    const std::string ogg = argv[1], png = argv[2];
    const int rates[] = {8000, 11025, 16000, 22050, 32000, 44100, 48000, 96000};
    for (int channels = 1; channels <= 8; channels++) {
        const int rate = rates[channels - 1];
        // Halves that are and are not whole frames of the format.
        const uint16_t half = channels % 2 ? 16384 : channels == 8 ? 6 : uint16_t(1000 + channels);
        save_ogg(ogg, ("tone-" + std::to_string(channels) + "ch-" + std::to_string(rate)).c_str(), half,
                 tone(channels, rate));
    }
    save_ogg(ogg, "tone-2ch-192000", 16384, tone(2, 192000, 0.05));
    save_ogg(ogg, "music-2ch-44100", 4098, ogg_encode(pcm_demo_music(44100, 0.4), 2, 44100, 0.0f));
    save_ogg(ogg, "chain-same-format", 16384, ogg_chain({tone(2, 44100, 0.1), tone(2, 44100, 0.1)}));
    save_ogg(ogg, "chain-format-change", 16384, ogg_chain({tone(2, 44100, 0.1), tone(1, 22050, 0.1)}));
    save_ogg(ogg, "chain-rate-change", 10, ogg_chain({tone(1, 22050, 0.1), tone(1, 32000, 0.1)}));
    const Bytes whole = tone(2, 22050, 0.4);
    std::vector<Bytes> pages = ogg_pages(whole);
    Bytes cut;
    for (size_t i = 0; i + 1 < pages.size(); i++) cut.insert(cut.end(), pages[i].begin(), pages[i].end());
    cut.insert(cut.end(), pages.back().begin(), pages.back().begin() + pages.back().size() / 2);
    save_ogg(ogg, "cut-mid-page", 16384, cut);
    Bytes holed;
    for (size_t i = 0; i < pages.size(); i++)
        if (i != pages.size() / 2 + 1 || pages.size() < 5) holed.insert(holed.end(), pages[i].begin(), pages[i].end());
    save_ogg(ogg, "lost-page", 4, holed);

    save(png + "/rgb-interlaced.png", png_picture(13, 11, 8, PNG_COLOR_TYPE_RGB, true));
    save(png + "/palette-4bit-trns.png", png_picture(9, 7, 4, PNG_COLOR_TYPE_PALETTE, false, true));
    save(png + "/rgb-16bit.png", png_picture(6, 5, 16, PNG_COLOR_TYPE_RGB, false));
    save(png + "/grey-alpha.png", png_picture(7, 6, 8, PNG_COLOR_TYPE_GRAY_ALPHA, false));
    save(png + "/grey-1bit-interlaced.png", png_picture(17, 9, 1, PNG_COLOR_TYPE_GRAY, true));
    save(png + "/rgba-16bit.png", png_picture(4, 4, 16, PNG_COLOR_TYPE_RGB_ALPHA, false));
    const Bytes small = png_picture(2, 2, 8, PNG_COLOR_TYPE_RGB, false);
    save(png + "/declared-32767x2.png", png_declared(small, 32767, 2));
    save(png + "/declared-huge.png", png_declared(small, 0x7FFFFFFF, 0x7FFFFFFF));
    std::printf("make_seeds: %d seeds\n", written);
    return 0;
}
