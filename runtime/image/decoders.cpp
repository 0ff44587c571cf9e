// The decoder registry and the load that picks the first decoder accepting the data.
#include "image/decoders.h"
#include "image_report.h"

#include <cerrno>
#include <cstring>

static struct DecoderRegistry {
    const ImageDecoder* table[DECODER_LIMIT];
    int32_t count;
    FILE* file;                   // the file the current load opened, or null
    const ImageDecoder* selected; // the decoder that accepted the current load
} decoders;

static void decode_file_close()
{
    if (decoders.file) ::fclose(decoders.file);
    decoders.file = nullptr;
}

void decoders_init()
{
    decoders = DecoderRegistry{};
}

bool decoder_register(const ImageDecoder* decoder)
{
    if (!decoder || decoders.count >= DECODER_LIMIT) return false;
    // A decoder listed twice would only be asked twice: keep the first place.
    for (int32_t i = 0; i < decoders.count; ++i)
        if (decoders.table[i] == decoder) return false;
    decoders.table[decoders.count++] = decoder;
    return true;
}

int image_decode_open(const char* path, const MemoryBlock* memory)
{
    // A load that was never read gives up its file here rather than leaking it.
    decode_file_close();
    decoders.selected = nullptr;
    if (path) {
        decoders.file = ::fopen(path, "rb");
        if (!decoders.file) {
            image_report("cannot open image %s: %s", path, std::strerror(errno));
            return 0;
        }
        for (int32_t i = 0; i < decoders.count; ++i) {
            ::fseek(decoders.file, 0, SEEK_SET);
            if (decoders.table[i]->check(decoders.file, nullptr, path)) {
                decoders.selected = decoders.table[i];
                return 1;
            }
        }
        decode_file_close();
        image_report("no decoder reads image %s", path);
        return 0;
    }
    if (!memory || !memory->data) return 0;
    for (int32_t i = 0; i < decoders.count; ++i) {
        if (decoders.table[i]->check(nullptr, memory, nullptr)) {
            decoders.selected = decoders.table[i];
            return 1;
        }
    }
    image_report("no decoder reads the image in memory (%lu bytes)", static_cast<unsigned long>(memory->size));
    return 0;
}

int32_t image_decode_width()
{
    return decoders.selected ? decoders.selected->width() : 0;
}
int32_t image_decode_height()
{
    return decoders.selected ? decoders.selected->height() : 0;
}

int image_decode_read(uint8_t* first_row, intptr_t pitch)
{
    if (!decoders.selected) return 0;
    // Each decoder lets go of its load here, whatever the decode did, and
    // refuses a second decode of the same load.
    int result = decoders.selected->decode(first_row, pitch);
    decode_file_close();
    return result;
}
