#include "tools/oggsynth.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include <ogg/ogg.h>
#include <vorbis/vorbisenc.h>
#define OV_EXCLUDE_STATIC_CALLBACKS
#include <vorbis/vorbisfile.h>

namespace {

const double TAU = 6.283185307179586;

// Every encoded link gets its own serial number, so chains of separately
// encoded links are valid as they are.
int next_serial = 0x5e000;

void append_page(Bytes& out, const ogg_page& page)
{
    out.insert(out.end(), page.header, page.header + page.header_len);
    out.insert(out.end(), page.body, page.body + page.body_len);
}

struct MemoryReader {
    const Bytes* data;
    size_t position;
};

size_t reader_read(void* destination, size_t size, size_t count, void* source)
{
    MemoryReader* r = static_cast<MemoryReader*>(source);
    size_t n = size * count;
    size_t left = r->data->size() - r->position;
    if (n > left) n = left;
    if (n) std::memcpy(destination, r->data->data() + r->position, n);
    r->position += n;
    return n;
}

int reader_seek(void* source, ogg_int64_t offset, int whence)
{
    MemoryReader* r = static_cast<MemoryReader*>(source);
    int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? int64_t(r->position) : int64_t(r->data->size());
    int64_t p = base + offset;
    if (p < 0 || p > int64_t(r->data->size())) return -1;
    r->position = size_t(p);
    return 0;
}

long reader_tell(void* source)
{
    return long(static_cast<MemoryReader*>(source)->position);
}

int16_t clamp16(double v)
{
    if (v > 32767.0) return 32767;
    if (v < -32768.0) return -32768;
    return int16_t(std::lround(v));
}

// Deterministic noise for the percussion: the same music on every run.
struct Noise {
    uint32_t state = 0x12345678u;
    double next()
    {
        state = state * 1664525u + 1013904223u;
        return double(int32_t(state)) / 2147483648.0;
    }
};

double note_hz(int midi)
{
    return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

} // namespace

Bytes ogg_encode(const Pcm& pcm, int channels, int rate, float quality)
{
    Bytes out;
    if (channels < 1 || rate < 1) return out;
    vorbis_info vi;
    vorbis_info_init(&vi);
    if (vorbis_encode_init_vbr(&vi, channels, rate, quality) != 0) {
        vorbis_info_clear(&vi);
        return out;
    }
    vorbis_comment vc;
    vorbis_comment_init(&vc);
    vorbis_dsp_state vd;
    vorbis_block vb;
    vorbis_analysis_init(&vd, &vi);
    vorbis_block_init(&vd, &vb);
    ogg_stream_state os;
    ogg_stream_init(&os, next_serial++);

    ogg_packet header, comments, codebooks;
    vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
    ogg_stream_packetin(&os, &header);
    ogg_stream_packetin(&os, &comments);
    ogg_stream_packetin(&os, &codebooks);
    ogg_page page;
    // Audio starts on a page of its own, as decoders expect.
    while (ogg_stream_flush(&os, &page)) append_page(out, page);

    const size_t frames = pcm.size() / size_t(channels);
    const size_t chunk = 1024;
    size_t done = 0;
    for (;;) {
        size_t n = frames - done < chunk ? frames - done : chunk;
        if (n) {
            float** buffer = vorbis_analysis_buffer(&vd, int(n));
            for (size_t i = 0; i < n; i++)
                for (int c = 0; c < channels; c++)
                    buffer[c][i] = pcm[(done + i) * size_t(channels) + size_t(c)] / 32768.0f;
            done += n;
        }
        // A count of 0 marks the end; the last granule position then trims
        // the decoded length to exactly what was written.
        vorbis_analysis_wrote(&vd, int(n));
        while (vorbis_analysis_blockout(&vd, &vb) == 1) {
            vorbis_analysis(&vb, nullptr);
            vorbis_bitrate_addblock(&vb);
            ogg_packet packet;
            while (vorbis_bitrate_flushpacket(&vd, &packet)) {
                ogg_stream_packetin(&os, &packet);
                while (ogg_stream_pageout(&os, &page)) append_page(out, page);
            }
        }
        if (!n) break;
    }
    while (ogg_stream_flush(&os, &page)) append_page(out, page);

    ogg_stream_clear(&os);
    vorbis_block_clear(&vb);
    vorbis_dsp_clear(&vd);
    vorbis_comment_clear(&vc);
    vorbis_info_clear(&vi);
    return out;
}

Bytes ogg_chain(const std::vector<Bytes>& links)
{
    // Each link gets a serial of its own, rewritten page by page.
    Bytes out;
    int serial = next_serial;
    next_serial += int(links.size()) + 1;
    for (size_t l = 0; l < links.size(); l++, serial++) {
        for (Bytes page : ogg_pages(links[l])) {
            if (page.size() < 27) continue;
            for (int b = 0; b < 4; b++) page[14 + size_t(b)] = uint8_t(uint32_t(serial) >> (8 * b));
            ogg_page_fix_crc(page);
            out.insert(out.end(), page.begin(), page.end());
        }
    }
    return out;
}

Pcm ogg_decode(const Bytes& ogg, int* channels, int* rate)
{
    Pcm out;
    if (channels) *channels = 0;
    if (rate) *rate = 0;
    MemoryReader reader{&ogg, 0};
    ov_callbacks callbacks = {reader_read, reader_seek, nullptr, reader_tell};
    OggVorbis_File vf;
    if (ov_open_callbacks(&reader, &vf, nullptr, 0, callbacks) != 0) return out;
    if (vorbis_info* vi = ov_info(&vf, -1)) {
        if (channels) *channels = vi->channels;
        if (rate) *rate = int(vi->rate);
    }
    // Opening a chain can leave the decoder past a first link whose audio
    // fits in one page; start from frame 0 as the player does.
    ov_pcm_seek(&vf, 0);
    char buffer[16384];
    int link = 0;
    for (;;) {
        long n = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &link);
        if (n == OV_HOLE) continue;
        if (n <= 0) break;
        size_t at = out.size();
        out.resize(at + size_t(n) / 2);
        std::memcpy(out.data() + at, buffer, size_t(n) & ~size_t(1));
    }
    ov_clear(&vf);
    return out;
}

Pcm pcm_silence(int channels, size_t frames)
{
    return Pcm(size_t(channels) * frames, 0);
}

Pcm pcm_sine(int channels, int rate, size_t frames, double frequency, double amplitude)
{
    Pcm out(size_t(channels) * frames);
    for (size_t i = 0; i < frames; i++) {
        int16_t v = clamp16(amplitude * std::sin(TAU * frequency * double(i) / rate));
        for (int c = 0; c < channels; c++) out[i * size_t(channels) + size_t(c)] = v;
    }
    return out;
}

Pcm pcm_demo_music(int rate, double seconds)
{
    const size_t frames = size_t(seconds * rate);
    std::vector<double> left(frames, 0.0), right(frames, 0.0);
    // A table sine keeps a minute of music quick to make.
    static double table[4097];
    for (int i = 0; i <= 4096; i++) table[i] = std::sin(TAU * i / 4096.0);
    auto wave = [](double cycles) {
        double f = (cycles - std::floor(cycles)) * 4096.0;
        int i = int(f);
        return table[i] + (table[i + 1] - table[i]) * (f - i);
    };
    auto decay = [rate](double per_second) { return std::exp(-per_second / rate); };
    auto add = [&](size_t at, double l, double r) {
        if (at < frames) {
            left[at] += l;
            right[at] += r;
        }
    };

    const double beat = 60.0 / 112.0; // seconds per beat
    const double bar = 4 * beat;
    // A minor, F, C, G: bass roots and triads (MIDI note numbers).
    const int roots[4] = {45, 41, 48, 43};
    const int triads[4][3] = {{57, 60, 64}, {53, 57, 60}, {55, 60, 64}, {55, 59, 62}};
    const int melody[16] = {69, 72, 76, 74, 72, 69, 67, 69, 64, 67, 72, 71, 67, 71, 74, 72};

    const int bars = int(seconds / bar) + 1;
    Noise noise;
    for (int b = 0; b < bars; b++) {
        const double bar_start = b * bar;
        const int chord = b % 4;
        // Chords: a soft pad over the whole bar, spread across the stereo field.
        for (int v = 0; v < 3; v++) {
            const double hz = note_hz(triads[chord][v]) / rate;
            const double pan = 0.3 + 0.2 * v;
            const size_t start = size_t(bar_start * rate), len = size_t(bar * rate), attack = size_t(0.08 * rate);
            const double k = decay(0.6);
            double env = 0.09;
            for (size_t i = 0; i < len; i++, env *= k) {
                double p = hz * double(i);
                double s = wave(p) + 0.3 * wave(2 * p) + 0.15 * wave(3 * p);
                s *= env * (i < attack ? double(i) / attack : 1.0);
                add(start + i, s * (1 - pan), s * pan);
            }
        }
        for (int e = 0; e < 8; e++) {
            const double t0 = bar_start + e * beat / 2;
            const size_t start = size_t(t0 * rate);
            // Bass: eighth notes on the root, an octave up on the off-beats.
            {
                const double hz = note_hz(roots[chord] + (e % 2 ? 12 : 0)) / rate;
                const size_t len = size_t(beat / 2 * rate);
                const double k = decay(5.0);
                double env = 0.28;
                for (size_t i = 0; i < len; i++, env *= k) {
                    double p = hz * double(i);
                    double saw = 2.0 * (p - std::floor(p)) - 1.0;
                    add(start + i, (0.7 * wave(p) + 0.3 * saw) * env, (0.7 * wave(p) + 0.3 * saw) * env);
                }
            }
            // Hi-hat on every eighth, slightly to the right.
            {
                const size_t len = size_t(0.05 * rate);
                const double k = decay(80.0);
                double env = 0.06, last = 0;
                for (size_t i = 0; i < len; i++, env *= k) {
                    double n = noise.next();
                    double s = (n - last) * env;
                    last = n;
                    add(start + i, s * 0.7, s);
                }
            }
            // Kick on beats 1 and 3, snare on 2 and 4.
            if (e == 0 || e == 4) {
                const size_t len = size_t(0.3 * rate);
                const double k = decay(9.0), sweep_k = decay(30.0);
                double env = 0.55, sweep = 110.0, phase = 0;
                for (size_t i = 0; i < len; i++, env *= k, sweep *= sweep_k) {
                    phase += (50.0 + sweep) / rate;
                    add(start + i, wave(phase) * env, wave(phase) * env);
                }
            } else if (e == 2 || e == 6) {
                const size_t len = size_t(0.2 * rate);
                const double k = decay(18.0), hz = 190.0 / rate;
                double env = 0.35;
                for (size_t i = 0; i < len; i++, env *= k) {
                    double s = (0.6 * noise.next() + 0.4 * wave(hz * double(i))) * env;
                    add(start + i, s, s);
                }
            }
        }
        // A melody from the second round of chords on, in quarter notes.
        if (b >= 4) {
            for (int q = 0; q < 4; q++) {
                const double hz = note_hz(melody[chord * 4 + q]) / rate, vibrato = 5.0 / rate;
                const size_t start = size_t((bar_start + q * beat) * rate), len = size_t(beat * rate);
                const size_t attack = size_t(0.01 * rate);
                const double k = decay(3.0);
                double env = 0.12;
                for (size_t i = 0; i < len; i++, env *= k) {
                    double p = hz * double(i);
                    double s = (wave(p) + 0.2 * wave(2 * p + 0.08 * wave(vibrato * double(i)))) * env;
                    s *= i < attack ? double(i) / attack : 1.0;
                    add(start + i, s * 0.6, s * 0.4);
                }
            }
        }
    }

    // Fade in and out, and a soft limiter that keeps the peaks in range.
    Pcm out(frames * 2);
    const double fade = 0.05 * rate, tail = 2.0 * rate;
    for (size_t i = 0; i < frames; i++) {
        double g = 1.0;
        if (double(i) < fade) g = double(i) / fade;
        if (double(frames - i) < tail) g *= double(frames - i) / tail;
        out[2 * i] = clamp16(std::tanh(left[i] * 1.6) * 30000.0 * g);
        out[2 * i + 1] = clamp16(std::tanh(right[i] * 1.6) * 30000.0 * g);
    }
    return out;
}

bool write_file(const std::string& path, const Bytes& data)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

Bytes read_file(const std::string& path)
{
    Bytes out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
    std::fclose(f);
    return out;
}

std::vector<Bytes> ogg_pages(const Bytes& ogg)
{
    std::vector<Bytes> pages;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, long(ogg.size()));
    if (!ogg.empty()) std::memcpy(buffer, ogg.data(), ogg.size());
    ogg_sync_wrote(&sync, long(ogg.size()));
    ogg_page page;
    int r;
    while ((r = ogg_sync_pageout(&sync, &page)) != 0) {
        if (r < 0) continue; // skipped bytes that were not a page
        Bytes p;
        append_page(p, page);
        pages.push_back(std::move(p));
    }
    ogg_sync_clear(&sync);
    return pages;
}

void ogg_page_fix_crc(Bytes& page)
{
    if (page.size() < 27) return;
    const size_t header_len = 27 + size_t(page[26]);
    if (page.size() < header_len) return;
    ogg_page p;
    p.header = page.data();
    p.header_len = long(header_len);
    p.body = page.data() + header_len;
    p.body_len = long(page.size() - header_len);
    ogg_page_checksum_set(&p);
}

std::vector<OggPacket> ogg_packets(const Bytes& ogg, int* serial)
{
    std::vector<OggPacket> packets;
    std::vector<Bytes> pages = ogg_pages(ogg);
    if (pages.empty()) return packets;
    ogg_stream_state os;
    bool started = false;
    for (Bytes& bytes : pages) {
        const size_t header_len = 27 + size_t(bytes[26]);
        ogg_page page;
        page.header = bytes.data();
        page.header_len = long(header_len);
        page.body = bytes.data() + header_len;
        page.body_len = long(bytes.size() - header_len);
        if (!started) {
            ogg_stream_init(&os, ogg_page_serialno(&page));
            if (serial) *serial = ogg_page_serialno(&page);
            started = true;
        }
        if (ogg_page_serialno(&page) != os.serialno) continue;
        if (ogg_stream_pagein(&os, &page) != 0) continue;
        ogg_packet op;
        int r;
        while ((r = ogg_stream_packetout(&os, &op)) != 0) {
            if (r < 0) continue;
            OggPacket p;
            p.data.assign(op.packet, op.packet + op.bytes);
            p.granulepos = op.granulepos;
            p.bos = op.b_o_s != 0;
            p.eos = op.e_o_s != 0;
            packets.push_back(std::move(p));
        }
    }
    ogg_stream_clear(&os);
    return packets;
}

Bytes ogg_from_packets(const std::vector<OggPacket>& packets, int serial)
{
    Bytes out;
    ogg_stream_state os;
    ogg_stream_init(&os, serial);
    ogg_page page;
    for (size_t i = 0; i < packets.size(); i++) {
        const OggPacket& p = packets[i];
        ogg_packet op;
        op.packet = const_cast<unsigned char*>(p.data.data());
        op.bytes = long(p.data.size());
        op.b_o_s = i == 0;
        op.e_o_s = i + 1 == packets.size();
        op.granulepos = p.granulepos;
        op.packetno = ogg_int64_t(i);
        ogg_stream_packetin(&os, &op);
        // The three headers end on a page of their own before the audio.
        if (i == 2) {
            while (ogg_stream_flush(&os, &page)) append_page(out, page);
        } else {
            while (ogg_stream_pageout(&os, &page)) append_page(out, page);
        }
    }
    while (ogg_stream_flush(&os, &page)) append_page(out, page);
    ogg_stream_clear(&os);
    return out;
}
