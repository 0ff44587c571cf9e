#include "ogg_craft.h"

#include <ogg/ogg.h>

#include <cstring>
#include <vector>

namespace {

int bit_length(uint64_t v)
{
    int n = 0;
    while (v) {
        n++;
        v >>= 1;
    }
    return n;
}

// The greatest v with v^dim <= entries: the value count of a lattice book.
long lattice_values(long entries, long dim)
{
    if (entries < 1 || dim < 1) return 0;
    long v = 1;
    for (;;) {
        long next = v + 1, acc = 1;
        bool over = false;
        for (long i = 0; i < dim && !over; i++) {
            if (acc > entries / next) over = true;
            acc *= next;
        }
        if (over || acc > entries) return v;
        v = next;
    }
}

struct BitReader {
    oggpack_buffer b;
    bool ok = true;
    long read(int bits)
    {
        if (bits == 0) return 0;
        long v = 0;
        // oggpack_read takes at most 32 bits at once.
        if (bits > 32) return -1;
        v = oggpack_read(&b, bits);
        if (v < 0 && bits < 32) ok = false;
        return v;
    }
};

// Skips one codebook; false when it does not parse.
bool skip_codebook(BitReader& r)
{
    if (r.read(24) != 0x564342) return false;
    long dim = r.read(16), entries = r.read(24);
    if (!r.ok) return false;
    if (r.read(1) == 0) {
        bool sparse = r.read(1) != 0;
        for (long i = 0; i < entries && r.ok; i++) {
            if (!sparse || r.read(1)) r.read(5);
        }
    } else {
        r.read(5);
        for (long i = 0; i < entries && r.ok;) {
            long num = r.read(bit_length(uint64_t(entries - i)));
            if (num <= 0 && !r.ok) return false;
            i += num;
        }
    }
    long maptype = r.read(4);
    if (maptype == 1 || maptype == 2) {
        r.read(32);
        r.read(32);
        long quant = r.read(4) + 1;
        r.read(1);
        long values = maptype == 1 ? lattice_values(entries, dim) : entries * dim;
        for (long i = 0; i < values && r.ok; i++) r.read(int(quant));
    } else if (maptype != 0) {
        return false;
    }
    return r.ok;
}

void write_huge_codebook(oggpack_buffer* w, uint32_t entries, uint32_t dim)
{
    oggpack_write(w, 0x564342, 24);
    oggpack_write(w, dim, 16);
    oggpack_write(w, entries, 24);
    oggpack_write(w, 1, 1); // lengths in ordered form: a count per length
    // A complete code tree: 2^L - n entries of length L - 1, the rest of length L.
    int full = 1;
    while ((uint64_t(1) << full) < entries) full++;
    if (full == 1) {
        oggpack_write(w, 0, 5); // length 1
        oggpack_write(w, entries, bit_length(entries));
    } else {
        const uint32_t shorter = uint32_t((uint64_t(1) << full) - entries);
        oggpack_write(w, uint32_t(full - 2), 5); // first length: full - 1
        oggpack_write(w, shorter, bit_length(entries));
        oggpack_write(w, entries - shorter, bit_length(entries - shorter));
    }
    oggpack_write(w, 0, 4); // no value mapping
}

struct SetupLayout {
    long books_start_bit = 0;          // after the book count
    std::vector<long> book_start_bits; // one per book, plus the end
};

bool parse_setup(const Bytes& setup, SetupLayout* layout)
{
    if (setup.size() < 8 || setup[0] != 5 || std::memcmp(&setup[1], "vorbis", 6) != 0) return false;
    BitReader r;
    oggpack_readinit(&r.b, const_cast<unsigned char*>(setup.data()), long(setup.size()));
    for (int i = 0; i < 7; i++) r.read(8);
    long count = r.read(8) + 1;
    layout->books_start_bit = oggpack_bits(&r.b);
    for (long i = 0; i < count; i++) {
        layout->book_start_bits.push_back(oggpack_bits(&r.b));
        if (!skip_codebook(r)) return false;
    }
    layout->book_start_bits.push_back(oggpack_bits(&r.b));
    return true;
}

void copy_bits(const Bytes& from, long begin_bit, long end_bit, oggpack_buffer* w)
{
    oggpack_buffer r;
    oggpack_readinit(&r, const_cast<unsigned char*>(from.data()), long(from.size()));
    oggpack_adv(&r, 0);
    for (long skip = begin_bit; skip > 0;) {
        int n = skip > 24 ? 24 : int(skip);
        oggpack_adv(&r, n);
        skip -= n;
    }
    for (long left = end_bit - begin_bit; left > 0;) {
        int n = left > 24 ? 24 : int(left);
        oggpack_write(w, uint32_t(oggpack_read(&r, n)), n);
        left -= n;
    }
}

} // namespace

int ogg_codebook_count(const Bytes& ogg)
{
    std::vector<OggPacket> packets = ogg_packets(ogg);
    SetupLayout layout;
    if (packets.size() < 3 || !parse_setup(packets[2].data, &layout)) return 0;
    return int(layout.book_start_bits.size()) - 1;
}

Bytes ogg_with_huge_codebook(const Bytes& ogg, int book, uint32_t entries, uint32_t dim)
{
    int serial = 0;
    std::vector<OggPacket> packets = ogg_packets(ogg, &serial);
    SetupLayout layout;
    if (packets.size() < 3 || !parse_setup(packets[2].data, &layout)) return {};
    const long count = long(layout.book_start_bits.size()) - 1;
    if (book < 0 || book >= count) return {};
    const Bytes& setup = packets[2].data;

    oggpack_buffer w;
    oggpack_writeinit(&w);
    copy_bits(setup, 0, layout.book_start_bits[size_t(book)], &w);
    write_huge_codebook(&w, entries, dim);
    copy_bits(setup, layout.book_start_bits[size_t(book) + 1], long(setup.size()) * 8, &w);
    packets[2].data.assign(oggpack_get_buffer(&w), oggpack_get_buffer(&w) + oggpack_bytes(&w));
    oggpack_writeclear(&w);
    return ogg_from_packets(packets, serial);
}
