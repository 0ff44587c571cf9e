// Streams and decoders shared by the player's tests.
#pragma once
#include <cstdint>
#include <vector>

#include "stream_player_internal.h"
#include "tools/oggsynth.h"

constexpr uint32_t HALF = 16384;
constexpr uint32_t BUFFER_BYTES = 2 * HALF;
// What the device makes of a buffer of BUFFER_BYTES: whole frames, rounded up.
uint32_t device_buffer_bytes(int channels);

// A sine stream of `frames` frames; its independent decode goes to *pcm.
Bytes sine_ogg(int channels, int rate, size_t frames, Pcm* pcm = nullptr);
Bytes pcm_bytes(const Pcm& pcm);

// A decoder on a block of memory through the player's own callbacks, at
// frame 0 as buffer creation leaves it: no sound device involved. It reads
// from a copy of its own, so a temporary stream cannot vanish under it.
struct MemoryDecoder {
    const Bytes stream;
    MemorySource source{};
    OggVorbis_File vf{};
    RefillState state{};
    bool open = false;
    explicit MemoryDecoder(Bytes ogg);
    ~MemoryDecoder();
    // The length of half (index % 2): the second runs to the buffer's end.
    uint32_t half_bytes(uint32_t index) const;
    // The next half at buffer offset (index % 2) * HALF, as the worker fills it.
    HalfFill fill(uint32_t index, uint8_t* half);
};

// Opens the default device and a stream on `ogg` (kept alive by the caller).
bool open_memory_stream(const Bytes& ogg);
