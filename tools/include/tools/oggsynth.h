// Synthesised PCM and Ogg Vorbis streams, for the demo track and the tests.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

using Pcm = std::vector<int16_t>; // interleaved 16-bit samples
using Bytes = std::vector<uint8_t>;

// Encodes interleaved PCM (frames = pcm.size() / channels) as one Ogg Vorbis
// stream. The decoded length equals the input length exactly.
Bytes ogg_encode(const Pcm& pcm, int channels, int rate, float quality = 0.4f);
// A chained stream: the links one after another (serial numbers kept distinct).
Bytes ogg_chain(const std::vector<Bytes>& links);
// Decodes a whole stream with libvorbisfile (16-bit little-endian signed).
Pcm ogg_decode(const Bytes& ogg, int* channels = nullptr, int* rate = nullptr);

Pcm pcm_silence(int channels, size_t frames);
// A sine of the given frequency and amplitude (0..32767) in every channel.
Pcm pcm_sine(int channels, int rate, size_t frames, double frequency, double amplitude);
// About `seconds` of music: bass, chords and percussion (stereo).
Pcm pcm_demo_music(int rate, double seconds);

bool write_file(const std::string& path, const Bytes& data);
Bytes read_file(const std::string& path);

// Raw Ogg, for crafting damaged or hostile streams.
struct OggPacket {
    Bytes data;
    int64_t granulepos = -1;
    bool bos = false, eos = false;
};
// The whole pages of a stream (header and body), in order.
std::vector<Bytes> ogg_pages(const Bytes& ogg);
// Recomputes the checksum of one whole page after its bytes were changed.
void ogg_page_fix_crc(Bytes& page);
// The packets of the first logical stream, with its serial number.
std::vector<OggPacket> ogg_packets(const Bytes& ogg, int* serial = nullptr);
// Pages packets as one logical stream; the three headers get pages of their own.
Bytes ogg_from_packets(const std::vector<OggPacket>& packets, int serial);
