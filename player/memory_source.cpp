// The decoder's view of a block of memory: its read, seek, close and tell.
#include <cstdio>
#include <cstring>

#include "refill.h"

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
