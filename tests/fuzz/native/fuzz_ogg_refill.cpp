// Hostile Ogg through the refill, as the worker drives it: the stream opened
// from memory and given a buffer in its first link's format, then refilled
// half after half until it ends. The halves laid end to end must be exactly
// what a plain decode of that format gives, then silence: every byte written,
// a frame cut by a half's end finished by the next, no link in another format
// played, the end reported once and never undone.
//
// Input: two bytes choosing the half size (2 to 16384 bytes, not always whole
// frames, often shorter than one), then the stream. The device rounds the buffer up to whole frames, as it does.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "refill.h"

namespace {

// Past this much music a run shows nothing new and only slows the fuzzer.
const size_t MUSIC_LIMIT = size_t(1) << 21;
const int HALF_LIMIT = 8192;
const int HOLE_LIMIT = 1024; // the refill's own

void check(bool ok, const char* promise)
{
    if (ok) return;
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

// A stream opened as the player opens one; `channels` and `rate` are 0 when
// the player would refuse it.
struct Stream {
    MemorySource source;
    OggVorbis_File decoder;
    int channels = 0;
    long rate = 0;

    Stream(const uint8_t* data, size_t size) : source{data, uint32_t(size), 0}
    {
        if (ov_open_callbacks(&source, &decoder, nullptr, 0, MEMORY_CALLBACKS) != 0) {
            source.base = nullptr;
            return;
        }
        vorbis_info* info = ov_info(&decoder, 0);
        if (!info || info->rate < 1 || info->channels < 1 || info->channels > 255 ||
            uint64_t(info->rate) * uint64_t(info->channels) * 2 > 0xFFFFFFFFull || ov_pcm_seek(&decoder, 0) != 0)
            return;
        channels = info->channels;
        rate = info->rate;
    }
    ~Stream()
    {
        if (source.base) ov_clear(&decoder);
    }
};

// The first link's music in its format, read plainly: holes skipped, the end
// at an error, at the stream's end or where the format changes.
std::vector<uint8_t> plain_decode(Stream& s, size_t limit, bool* complete)
{
    const long frame_bytes = s.channels * 2;
    static char chunk[255 * 2 * 256];
    std::vector<uint8_t> music;
    int holes = 0;
    *complete = false;
    while (music.size() < limit) {
        int link = 0;
        long n = ov_read(&s.decoder, chunk, int(frame_bytes * 256), 0, 2, 1, &link);
        if (n == OV_HOLE) {
            if (++holes >= HOLE_LIMIT) break;
            continue;
        }
        vorbis_info* info = n > 0 ? ov_info(&s.decoder, -1) : nullptr;
        if (!info || info->channels != s.channels || info->rate != s.rate || n % frame_bytes) break;
        music.insert(music.end(), chunk, chunk + n);
        holes = 0;
    }
    *complete = music.size() < limit;
    return music;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size - 2 > UINT32_MAX) return 0;
    // Even, as every half of the player's buffers, so that samples stay
    // aligned. Half the inputs take a half of at most 64 bytes, where a frame
    // is cut at both ends or a half lies inside one frame.
    const uint32_t code = uint32_t(data[0]) << 8 | data[1];
    const uint32_t half = 2 + 2 * (code & 0x8000 ? code % 32 : code % 8192);
    Stream stream(data + 2, size - 2), reference(data + 2, size - 2);
    if (!stream.channels) return 0;
    check(reference.channels == stream.channels, "the same bytes open the same way");

    const uint32_t frame_bytes = uint32_t(stream.channels) * 2;
    const uint32_t buffer = (2 * half + frame_bytes - 1) / frame_bytes * frame_bytes;
    RefillState state{stream.channels, stream.rate, false};
    std::vector<uint8_t> played;
    uint64_t audio = 0;
    int after_end = 0;
    for (int i = 0; i < HALF_LIMIT && played.size() < MUSIC_LIMIT && after_end < 2; i++) {
        const uint32_t index = i % 2, offset = index * half, length = index ? buffer - half : half;
        // A half of its own, filled with a mark the refill must overwrite.
        uint8_t* destination = static_cast<uint8_t*>(std::malloc(length));
        std::memset(destination, 0xA5 ^ (i * 0x3B), length);
        const bool was_ended = after_end > 0;
        const HalfFill fill = refill_half(&stream.decoder, &state, offset, destination, length);
        check(fill.audio_bytes <= length, "the audio is never more than the half");
        check(!was_ended || (fill.ended && fill.audio_bytes == 0), "an ended stream stays ended and silent");
        played.insert(played.end(), destination, destination + length);
        std::free(destination);
        audio += fill.audio_bytes;
        if (fill.ended) after_end++;
    }

    // One byte more than was played tells whether the music goes on.
    bool complete = false;
    const std::vector<uint8_t> music = plain_decode(reference, played.size() + 1, &complete);
    const size_t compared = complete ? music.size() : played.size();
    check(compared == 0 || std::memcmp(played.data(), music.data(), compared) == 0,
          "the halves hold the stream's music, every byte in its place");
    check(audio == compared, "the audio bytes reported add up to the music played");
    if (complete) {
        for (size_t i = music.size(); i < played.size(); i++) check(played[i] == 0, "silence after the end");
        check(after_end > 0 || music.size() == played.size(), "silence is played only once the end is reported");
    } else {
        check(after_end == 0, "no end is reported while music remains");
    }
    return 0;
}
