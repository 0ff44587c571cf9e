// Opening a stream from a file or from a block of memory.
#include <cerrno>
#include <cstring>

#include "stream_player_internal.h"

namespace {

// Format and buffer for a decoder that has just opened; on failure the stream
// is released (its source closed), so nothing stays half-open.
bool stream_finish_open()
{
    // Playing starts at frame 0: the buffer takes the first link's format,
    // wherever opening a chain has left the decoder.
    vorbis_info* info = ov_info(&stream_player().stream.decoder, 0);
    if (info && stream_create_buffer(info->rate, info->channels)) return true;
    player_release(PLAYER_STREAM);
    return false;
}

} // namespace

bool stream_attach(FILE* file, const char* name)
{
    // A refused stream leaves the file to us.
    if (const int refused = ov_open(file, &stream_player().stream.decoder, nullptr, 0)) {
        player_report("%s: %s", name, decoder_refusal(refused));
        std::fclose(file);
        return false;
    }
    return stream_finish_open();
}

bool stream_open_file(const char* path)
{
    StreamPlayer& p = stream_player();
    if (p.stream.stream_open) return false; // one stream at a time: close it first
    FILE* file = std::fopen(path, "rb");
    if (!file) {
        player_report("%s: cannot open the file: %s", path, std::strerror(errno));
        return false;
    }
    if (!p.sound.device_open && !sound_device_open(nullptr)) {
        std::fclose(file);
        return false;
    }
    return stream_attach(file, path);
}

bool stream_open_memory(const void* base, uint32_t size)
{
    StreamPlayer& p = stream_player();
    StreamRecord& s = p.stream;
    if (s.stream_open) return false;
    s.memory_source = {static_cast<const uint8_t*>(base), size, 0};
    if (const int refused = ov_open_callbacks(&s.memory_source, &s.decoder, nullptr, 0, MEMORY_CALLBACKS)) {
        player_report("a stream in memory (%u bytes): %s", unsigned(size), decoder_refusal(refused));
        return false;
    }
    return stream_finish_open();
}
