// Opening a stream from a file or from a block of memory.
#include <cstring>

#include "stream_player_internal.h"

size_t memory_read(void* destination, size_t item_size, size_t item_count, void* source)
{
    MemorySource* m = static_cast<MemorySource*>(source);
    const size_t left = m->size - m->position;
    size_t n = left;
    if (item_size == 0 || item_count == 0) return 0;
    if (item_count <= left / item_size) n = item_size * item_count;
    if (n) std::memcpy(destination, m->base + m->position, n);
    m->position += uint32_t(n);
    return n;
}

int memory_seek(void* source, ogg_int64_t offset, int whence)
{
    MemorySource* m = static_cast<MemorySource*>(source);
    int64_t target;
    switch (whence) {
    case SEEK_SET: target = offset; break;
    case SEEK_CUR: target = int64_t(m->position) + offset; break;
    case SEEK_END:
        // The decoder only seeks to the end itself, with offset 0.
        target = m->size;
        break;
    default: return 0;
    }
    if (target < 0) target = 0;
    if (target > int64_t(m->size)) target = m->size;
    m->position = uint32_t(target);
    return 0;
}

int memory_close(void*)
{
    return 1;
} // the block stays its owner's

long memory_tell(void* source)
{
    return long(static_cast<MemorySource*>(source)->position);
}

const ov_callbacks MEMORY_CALLBACKS = {memory_read, memory_seek, memory_close, memory_tell};

namespace {

// Format and buffer for a decoder that has just opened; on failure the stream
// is released (its source closed), so nothing stays half-open.
bool stream_finish_open()
{
    StreamPlayer& p = stream_player();
    // Playing starts at frame 0: the buffer takes the first link's format,
    // wherever opening a chain has left the decoder.
    vorbis_info* info = ov_info(&p.decoder, 0);
    if (info && stream_create_buffer(info->rate, info->channels)) return true;
    player_release(PLAYER_STREAM);
    return false;
}

} // namespace

bool stream_attach(FILE* file)
{
    StreamPlayer& p = stream_player();
    // A refused stream leaves the file to us.
    if (ov_open(file, &p.decoder, nullptr, 0) != 0) {
        std::fclose(file);
        return false;
    }
    return stream_finish_open();
}

bool stream_open_file(const char* path)
{
    StreamPlayer& p = stream_player();
    if (p.stream_open) return false; // one stream at a time: close it first
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    if (!p.device_open && !sound_device_open(nullptr)) {
        std::fclose(file);
        return false;
    }
    return stream_attach(file);
}

bool stream_open_memory(const void* base, uint32_t size)
{
    StreamPlayer& p = stream_player();
    if (p.stream_open) return false;
    p.memory_source = {static_cast<const uint8_t*>(base), size, 0};
    if (ov_open_callbacks(&p.memory_source, &p.decoder, nullptr, 0, MEMORY_CALLBACKS) != 0) return false;
    return stream_finish_open();
}
