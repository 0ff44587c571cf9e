#include "player_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

Bytes sine_ogg(int channels, int rate, size_t frames, Pcm* pcm)
{
    Bytes ogg = ogg_encode(pcm_sine(channels, rate, frames, 441.0, 12000.0), channels, rate);
    if (pcm) *pcm = ogg_decode(ogg);
    return ogg;
}

Bytes pcm_bytes(const Pcm& pcm)
{
    Bytes out(pcm.size() * 2);
    for (size_t i = 0; i < pcm.size(); i++) {
        out[2 * i] = uint8_t(uint16_t(pcm[i]) & 0xFF);
        out[2 * i + 1] = uint8_t(uint16_t(pcm[i]) >> 8);
    }
    return out;
}

MemoryDecoder::MemoryDecoder(Bytes ogg) : stream(std::move(ogg))
{
    source = {stream.data(), uint32_t(stream.size()), 0};
    if (ov_open_callbacks(&source, &vf, nullptr, 0, MEMORY_CALLBACKS) != 0) return;
    open = true;
    vorbis_info* info = ov_info(&vf, 0);
    state = {info->channels, info->rate, false};
    ov_pcm_seek(&vf, 0);
}

MemoryDecoder::~MemoryDecoder()
{
    if (open) ov_clear(&vf);
}

uint32_t device_buffer_bytes(int channels)
{
    const uint32_t frame = uint32_t(channels) * 2;
    return (BUFFER_BYTES + frame - 1) / frame * frame;
}

uint32_t MemoryDecoder::half_bytes(uint32_t index) const
{
    return index % 2 ? device_buffer_bytes(state.channels) - HALF : HALF;
}

HalfFill MemoryDecoder::fill(uint32_t index, uint8_t* half)
{
    std::memset(half, 0xA5, half_bytes(index)); // stale bytes must not survive
    return refill_half(&vf, &state, (index % 2) * HALF, half, half_bytes(index));
}

bool open_memory_stream(const Bytes& ogg)
{
    StreamPlayer& p = stream_player();
    if (!p.sound.device_open && !sound_device_open(nullptr)) return false;
    return stream_open_memory(ogg.data(), uint32_t(ogg.size()));
}

namespace {

// A test that fails half-way leaves no stream open for the next one.
struct CloseAfterEachTest : testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override
    {
        stream_player().refill_observer = nullptr;
        if (stream_player().stream.stream_open) stream_close();
    }
};

const bool registered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new CloseAfterEachTest);
    return true;
}();

} // namespace
