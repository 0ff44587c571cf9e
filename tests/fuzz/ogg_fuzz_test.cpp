// Hostile Ogg input through the refill worker's own routine: every mutant is
// opened from memory as the player opens a stream, then decoded half by half
// into fenced halves until it ends. Nothing may fault, hang, write outside a
// half or leave a byte of one unwritten, and once a stream has ended, by its
// end or by an error, it is silence.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "stream_player_internal.h"
#include "app_process.h"
#include "test_main.h"
#include "fuzz_support.h"
#include "ogg_craft.h"
#include "tools/oggsynth.h"

namespace {

constexpr uint32_t HALF = 16384;
constexpr uint64_t FIXED_SEED = 0x5EED0060;

uint64_t run_seed()
{
    static const uint64_t seed = fuzz_seed(FIXED_SEED);
    return seed;
}

double now_ms()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * double(counter.QuadPart) / double(frequency.QuadPart);
}

struct BaseStream {
    const char* name;
    Bytes ogg;
};

// Small streams, so that thousands of mutants decode in seconds: common and
// odd formats (a frame size that does not divide a half), one shorter than a
// half, and a chain whose second link changes the format.
const std::vector<BaseStream>& base_streams()
{
    static const std::vector<BaseStream> bases = [] {
        std::vector<BaseStream> b;
        b.push_back({"stereo 44100 music", ogg_encode(pcm_demo_music(44100, 0.5), 2, 44100)});
        b.push_back({"mono 22050 sine", ogg_encode(pcm_sine(1, 22050, 9000, 440.0, 9000.0), 1, 22050)});
        b.push_back({"6 channels 8000", ogg_encode(pcm_sine(6, 8000, 3000, 300.0, 8000.0), 6, 8000)});
        b.push_back({"3 channels 32000, under a half", ogg_encode(pcm_sine(3, 32000, 1500, 500.0, 7000.0), 3, 32000)});
        b.push_back({"chain stereo 44100 then mono 11025",
                     ogg_chain({ogg_encode(pcm_sine(2, 44100, 6000, 660.0, 10000.0), 2, 44100),
                                ogg_encode(pcm_sine(1, 11025, 3000, 220.0, 10000.0), 1, 11025)})});
        return b;
    }();
    return bases;
}

Bytes join(const std::vector<Bytes>& pages)
{
    Bytes out;
    for (const Bytes& page : pages) out.insert(out.end(), page.begin(), page.end());
    return out;
}

// What playing one mutant came to.
struct Play {
    bool opened = false;      // the decoder took it
    bool accepted = false;    // the player would have made a buffer for it
    bool seek_failed = false; // not decoded: see SeekFailures below
    bool ended = false;
    uint32_t halves = 0;
    double worst_refill_ms = 0;
    Bytes written;     // every half, in order
    std::string fault; // empty when every check held
};

// Opens the block as stream_open_memory does and refills halves as the worker
// does, each one in a region fenced by inaccessible pages and filled with
// `sentinel` beforehand.
Play play(const GuardedCopy& input, FencedRegion& half, uint8_t sentinel)
{
    Play p;
    MemorySource source = {input.data(), uint32_t(input.size()), 0};
    OggVorbis_File decoder;
    std::memset(&decoder, 0, sizeof decoder);
    if (ov_open_callbacks(&source, &decoder, nullptr, 0, MEMORY_CALLBACKS) != 0) return p;
    p.opened = true;
    vorbis_info* info = ov_info(&decoder, 0);
    WAVEFORMATEX format;
    if (!info || !wave_format_for(info->rate, info->channels, &format)) {
        ov_clear(&decoder);
        return p;
    }
    p.accepted = true;
    // The player goes on after a failed seek to frame 0; libvorbis may then
    // have left half-built codebooks that the first read divides by. Those
    // streams are tried through the player itself, in a process of their own.
    if (ov_pcm_seek(&decoder, 0) != 0) {
        p.seek_failed = true;
        ov_clear(&decoder);
        return p;
    }
    RefillState state = {info->channels, info->rate, false};
    const uint32_t frame_bytes = uint32_t(info->channels) * 2;
    // Each byte of input is at most one packet, and a packet gives at most half
    // of the largest block (4096 frames): beyond that the decode is runaway.
    const uint64_t limit = (uint64_t(input.size()) + 1) * 4096 * frame_bytes / HALF + 4;
    bool ended_before = false;
    for (uint32_t i = 0;; ++i) {
        if (i > limit) {
            p.fault = "no end after " + std::to_string(i) + " halves";
            break;
        }
        std::memset(half.data(), sentinel, HALF);
        const uint32_t offset = (i % 2) * HALF;
        uint32_t lead = 0, frames = 0;
        half_frame_span(offset, HALF, frame_bytes, &lead, &frames);
        // A frame cut by the half's start is finished from what the last half carried.
        const bool carried = lead && state.carry_bytes == lead;
        double start = now_ms();
        HalfFill fill = refill_half(&decoder, &state, offset, half.data(), HALF);
        double took = now_ms() - start;
        if (took > p.worst_refill_ms) p.worst_refill_ms = took;
        p.written.insert(p.written.end(), half.data(), half.data() + HALF);
        p.halves = i + 1;

        const std::string where = "half " + std::to_string(i) + ": ";
        const uint32_t from = carried ? 0 : lead, to = from + fill.audio_bytes;
        // Music ends on the frame grid, or at the half's end with a frame cut there.
        const bool on_grid = to >= lead && (to - lead) % frame_bytes == 0 && to <= lead + frames * frame_bytes;
        if (to > HALF || !(on_grid || to == HALF)) {
            p.fault = where + std::to_string(fill.audio_bytes) + " audio bytes, not whole frames inside the half";
            break;
        }
        if (ended_before && (fill.audio_bytes || !fill.ended)) {
            p.fault = where + "music after the stream had ended";
            break;
        }
        for (uint32_t at = 0; at < HALF && p.fault.empty(); ++at) {
            bool audio = at >= from && at < to;
            if (!audio && half.data()[at] != 0)
                p.fault = where + "byte " + std::to_string(at) + " outside the decoded frames is not silence";
        }
        if (!p.fault.empty()) break;
        if (ended_before) break; // one whole silent half after the end is enough
        ended_before = fill.ended;
    }
    p.ended = ended_before;
    ov_clear(&decoder);
    return p;
}

struct Tally {
    const char* family;
    int mutants = 0, opened = 0, accepted = 0, silent = 0, seek_failed = 0;
    uint32_t most_halves = 0;
    double worst_refill_ms = 0;
    double started_ms = now_ms();
    std::vector<std::string> faults;

    explicit Tally(const char* name) : family(name) {}
    ~Tally()
    {
        std::printf(
            "%s: %d mutants, %d opened, %d played (%d failed their seek to frame 0), %d gave no music; "
            "at most %u halves, slowest refill %.2f ms; %.1f s\n",
            family, mutants, opened, accepted, seek_failed, silent, most_halves, worst_refill_ms,
            (now_ms() - started_ms) / 1000.0);
        std::fflush(stdout);
    }
};

// Plays one mutant twice, with different sentinels: a byte left unwritten, or
// a decode that does not repeat itself, shows as a difference.
void try_mutant(Tally& tally, const std::string& what, const Bytes& mutant)
{
    static FencedRegion half(HALF);
    ASSERT_TRUE(half.ready());
    fuzz_case_begin(what, mutant);
    GuardedCopy input(mutant);
    Play first = play(input, half, 0xA5);
    Play second = first.accepted && !first.seek_failed && first.fault.empty() ? play(input, half, 0x5A) : first;
    fuzz_case_end();

    ++tally.mutants;
    tally.opened += first.opened;
    tally.accepted += first.accepted;
    tally.seek_failed += first.seek_failed;
    if (first.halves > tally.most_halves) tally.most_halves = first.halves;
    if (first.worst_refill_ms > tally.worst_refill_ms) tally.worst_refill_ms = first.worst_refill_ms;
    std::string fault = first.fault;
    if (fault.empty() && first.written != second.written) {
        size_t at = 0;
        while (at < first.written.size() && at < second.written.size() && first.written[at] == second.written[at]) ++at;
        fault = "byte " + std::to_string(at % HALF) + " of half " + std::to_string(at / HALF) +
                " was left unwritten (or the decode does not repeat)";
    }
    bool music = false;
    for (uint8_t b : first.written) music |= b != 0;
    tally.silent += first.accepted && !first.seek_failed && !music;
    if (!fault.empty()) {
        std::string name = "fuzz_ogg_fault_" + std::to_string(tally.faults.size()) + ".ogg";
        if (tally.faults.size() < 5) write_file(name, mutant);
        tally.faults.push_back(what + ": " + fault + " (input in " + name + ")");
    }
}

void expect_no_faults(const Tally& tally)
{
    std::string listed;
    for (size_t i = 0; i < tally.faults.size() && i < 10; ++i) listed += "  " + tally.faults[i] + "\n";
    EXPECT_TRUE(tally.faults.empty()) << tally.faults.size() << " of " << tally.mutants << " mutants broke a rule:\n"
                                      << listed;
}

std::string label(const BaseStream& base, const std::string& how, uint64_t seed = 0)
{
    char text[64] = "";
    if (seed) std::snprintf(text, sizeof text, " (mutant seed 0x%llx)", static_cast<unsigned long long>(seed));
    return std::string(base.name) + ", " + how + text;
}

// Each mutant draws from a generator of its own, so that any one can be made
// again from the run's seed and its number alone.
uint64_t mutant_seed(uint64_t family, uint32_t index)
{
    return (run_seed() ^ (family * 0x9E3779B97F4A7C15ull) ^ (uint64_t(index) * 0xD1B54A32D192ED03ull)) | 1;
}

struct Environment : ::testing::Environment {
    void SetUp() override
    {
        run_seed();
        fuzz_guard_start("fuzz_ogg_crash.ogg", 30000);
    }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new Environment);

TEST(OggFuzz, BaseStreamsPlayToTheirEnd)
{
    Tally tally("well-formed");
    for (const BaseStream& base : base_streams()) {
        ASSERT_FALSE(base.ogg.empty()) << base.name << ": the encoder gave nothing";
        try_mutant(tally, label(base, "unchanged"), base.ogg);
    }
    expect_no_faults(tally);
    EXPECT_EQ(tally.accepted, int(base_streams().size())) << "every well-formed stream plays";
    EXPECT_EQ(tally.silent, 0) << "every well-formed stream has music";
}

TEST(OggFuzz, TruncatedAtEveryPageBoundaryAndInsidePages)
{
    Tally tally("truncated");
    FuzzRandom random(mutant_seed(1, 0));
    for (const BaseStream& base : base_streams()) {
        std::vector<Bytes> pages = ogg_pages(base.ogg);
        size_t at = 0;
        for (const Bytes& page : pages) {
            for (size_t cut : {at, at + 1, at + 27, at + page.size() / 2,
                               at + 27 + random.below(uint32_t(page.size() - 27)), at + page.size() - 1}) {
                if (cut >= base.ogg.size()) continue;
                Bytes mutant(base.ogg.begin(), base.ogg.begin() + cut);
                try_mutant(tally, label(base, "cut to " + std::to_string(cut) + " bytes"), mutant);
            }
            at += page.size();
        }
    }
    expect_no_faults(tally);
}

// The mutant families. Each mutant draws from a generator of its own, so that
// any one can be made again from the run's seed, its family and its number.
using Mutator = Bytes (*)(uint32_t index, std::string* how);

const BaseStream& base_for(uint32_t index)
{
    return base_streams()[index % base_streams().size()];
}

Bytes flipped_bits(uint32_t k, std::string* how)
{
    FuzzRandom random(mutant_seed(2, k));
    Bytes mutant = base_for(k).ogg;
    // Mostly few flips, which leave most checksums in place when they land in
    // a page's body; now and then many.
    uint32_t flips = random.chance(8) ? 1 + random.below(200) : 1 + random.below(6);
    // Half of them aim at the first pages, where the headers are.
    uint32_t span = random.chance(2) ? uint32_t(std::min<size_t>(mutant.size(), 4500)) : uint32_t(mutant.size());
    for (uint32_t f = 0; f < flips; ++f) mutant[random.below(span)] ^= uint8_t(1 << random.below(8));
    *how = std::to_string(flips) + " flipped bits";
    return mutant;
}

// Pages whose bytes were changed and whose checksums were then made right
// again, so that every change reaches the decoder.
Bytes damaged_pages(uint32_t k, std::string* how)
{
    FuzzRandom random(mutant_seed(3, k));
    std::vector<Bytes> pages = ogg_pages(base_for(k).ogg);
    uint32_t damaged = 1 + (random.chance(4) ? random.below(4) : 0);
    for (uint32_t d = 0; d < damaged; ++d) {
        // The header pages take a third of the damage.
        size_t index = random.chance(3) ? random.below(std::min<uint32_t>(3, uint32_t(pages.size())))
                                        : random.below(uint32_t(pages.size()));
        Bytes& page = pages[index];
        const size_t body = 27 + page[26];
        const std::string which = " page " + std::to_string(index);
        switch (random.below(7)) {
        case 0:
            for (uint32_t n = 1 + random.below(12); n > 0 && page.size() > body; --n)
                page[body + random.below(uint32_t(page.size() - body))] = uint8_t(random.next());
            *how += " body bytes of" + which;
            break;
        case 1:
            for (size_t i = body; i < page.size(); ++i) page[i] = uint8_t(random.next());
            *how += " garbage body in" + which;
            break;
        case 2: {
            static const int64_t values[] = {-1, 0, 1, INT64_MAX, INT64_MIN, 0x7FFFFFFF, -2, 1LL << 40};
            int64_t v = random.chance(2) ? values[random.below(8)] : int64_t(random.next());
            std::memcpy(&page[6], &v, 8);
            *how += " granule position of" + which;
            break;
        }
        case 3: // continued, first, last
            page[5] = uint8_t(random.below(8));
            *how += " flags of" + which;
            break;
        case 4:
            page[14 + random.below(8)] ^= uint8_t(1 + random.below(255));
            *how += " serial or sequence number of" + which;
            break;
        case 5: // packets cut differently
            if (page[26]) page[27 + random.below(page[26])] = uint8_t(random.next());
            *how += " lacing of" + which;
            break;
        default:
            page[4] = uint8_t(random.next());
            *how += " version of" + which;
            break;
        }
        ogg_page_fix_crc(page);
    }
    return join(pages);
}

Bytes reordered_pages(uint32_t k, std::string* how)
{
    FuzzRandom random(mutant_seed(4, k));
    std::vector<Bytes> pages = ogg_pages(base_for(k).ogg);
    for (uint32_t n = 1 + random.below(3); n > 0 && pages.size() > 3; --n) {
        uint32_t a = random.below(uint32_t(pages.size())), b = random.below(uint32_t(pages.size()));
        switch (random.below(5)) {
        case 0:
            pages.insert(pages.begin() + a, pages[a]);
            *how += " page " + std::to_string(a) + " twice";
            break;
        case 1:
            pages.erase(pages.begin() + a);
            *how += " page " + std::to_string(a) + " dropped";
            break;
        case 2:
            std::swap(pages[a], pages[b]);
            *how += " pages " + std::to_string(a) + " and " + std::to_string(b) + " swapped";
            break;
        case 3: { // a run of pages played again elsewhere
            uint32_t length = 1 + random.below(4);
            std::vector<Bytes> run(pages.begin() + a, pages.begin() + std::min<size_t>(a + length, pages.size()));
            pages.insert(pages.begin() + b, run.begin(), run.end());
            *how += " " + std::to_string(run.size()) + " pages from " + std::to_string(a) + " again at " +
                    std::to_string(b);
            break;
        }
        default: { // a header page moved behind the audio
            Bytes header = pages[a % 3];
            pages.erase(pages.begin() + a % 3);
            pages.push_back(header);
            *how += " page " + std::to_string(a % 3) + " moved to the end";
            break;
        }
        }
    }
    return join(pages);
}

// Packets changed and paged again: the pages are well-formed and only the
// Vorbis data is hostile.
Bytes hostile_packets(uint32_t k, std::string* how)
{
    FuzzRandom random(mutant_seed(5, k));
    int serial = 0;
    std::vector<OggPacket> packets = ogg_packets(base_for(k).ogg, &serial);
    if (packets.size() <= 3) return {};
    for (uint32_t n = 1 + random.below(3); n > 0; --n) {
        // The setup header (packet 2) is where the decoder's tables come from.
        uint32_t index = random.chance(3)   ? 2
                         : random.chance(4) ? random.below(3)
                                            : 3 + random.below(uint32_t(packets.size() - 3));
        Bytes& data = packets[index].data;
        const std::string which = " packet " + std::to_string(index);
        switch (random.below(6)) {
        case 0:
            for (uint32_t f = 1 + random.below(8); f > 0 && !data.empty(); --f)
                data[random.below(uint32_t(data.size()))] ^= uint8_t(1 << random.below(8));
            *how += " bits of" + which;
            break;
        case 1:
            data.resize(data.empty() ? 0 : random.below(uint32_t(data.size())));
            *how += which + " cut to " + std::to_string(data.size());
            break;
        case 2:
            for (uint32_t extra = random.below(300); extra > 0; --extra) data.push_back(uint8_t(random.next()));
            *how += " garbage after" + which;
            break;
        case 3:
            for (uint8_t& b : data) b = random.chance(2) ? uint8_t(random.next()) : b;
            *how += which + " half garbage";
            break;
        case 4:
            data.clear();
            *how += which + " empty";
            break;
        default:
            packets[index].granulepos = random.chance(2) ? int64_t(random.next()) : -int64_t(random.below(100000));
            *how += " granule position of" + which;
            break;
        }
    }
    return ogg_from_packets(packets, serial);
}

struct Family {
    const char* name;
    uint64_t number;
    Mutator make;
    uint32_t count;
};
const Family FAMILIES[] = {
    {"bit flips", 2, flipped_bits, 2000},
    {"damaged pages, valid checksums", 3, damaged_pages, 2000},
    {"page order", 4, reordered_pages, 1000},
    {"hostile packets", 5, hostile_packets, 2000},
};

void run_family(const Family& family)
{
    Tally tally(family.name);
    for (uint32_t k = 0; k < family.count; ++k) {
        std::string how;
        Bytes mutant = family.make(k, &how);
        char seed[96];
        std::snprintf(seed, sizeof seed, " (%s mutant %u, seed 0x%llx)", family.name, k,
                      static_cast<unsigned long long>(run_seed()));
        try_mutant(tally, std::string(base_for(k).name) + "," + how + seed, mutant);
    }
    expect_no_faults(tally);
}

TEST(OggFuzz, FlippedBits)
{
    run_family(FAMILIES[0]);
}
TEST(OggFuzz, DamagedPagesWithValidChecksums)
{
    run_family(FAMILIES[1]);
}
TEST(OggFuzz, DuplicatedDroppedAndReorderedPages)
{
    run_family(FAMILIES[2]);
}
TEST(OggFuzz, HostilePacketsInWellFormedPages)
{
    run_family(FAMILIES[3]);
}

Bytes with_identification(const Bytes& ogg, const std::function<void(Bytes&)>& change)
{
    int serial = 0;
    std::vector<OggPacket> packets = ogg_packets(ogg, &serial);
    if (packets.empty() || packets[0].data.size() < 30) return ogg;
    change(packets[0].data);
    return ogg_from_packets(packets, serial);
}

void put32(Bytes& packet, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) packet[at + i] = uint8_t(value >> (8 * i));
}

// The identification header's fields at the edges: no channels, 255 of them,
// a rate of 0 or of 2^31 and more, block sizes out of range or out of order.
TEST(OggFuzz, AbsurdHeaderValues)
{
    Tally tally("absurd header values");
    for (const BaseStream& base : base_streams()) {
        for (int channels : {0, 1, 2, 7, 64, 255})
            try_mutant(tally, label(base, "channels " + std::to_string(channels)),
                       with_identification(base.ogg, [&](Bytes& p) { p[11] = uint8_t(channels); }));
        for (uint32_t rate : {0u, 1u, 7u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 192000u, 1000000u})
            try_mutant(tally, label(base, "rate " + std::to_string(rate)),
                       with_identification(base.ogg, [&](Bytes& p) { put32(p, 12, rate); }));
        for (int small = 0; small < 16; small += 3)
            for (int large = 0; large < 16; large += 2)
                try_mutant(tally,
                           label(base, "block sizes 2^" + std::to_string(small) + ", 2^" + std::to_string(large)),
                           with_identification(base.ogg, [&](Bytes& p) { p[28] = uint8_t(small | large << 4); }));
        try_mutant(tally, label(base, "version 1"), with_identification(base.ogg, [](Bytes& p) { put32(p, 7, 1); }));
        try_mutant(tally, label(base, "no framing bit"), with_identification(base.ogg, [](Bytes& p) { p[29] = 0; }));
        try_mutant(tally, label(base, "bitrates all ones"), with_identification(base.ogg, [](Bytes& p) {
                       for (size_t at = 16; at < 28; ++at) p[at] = 0xFF;
                   }));
        // A codebook that claims more entries, or wider vectors, than any
        // stream needs: the decoder must refuse it or cope, not exhaust memory.
        const int books = ogg_codebook_count(base.ogg);
        ASSERT_GT(books, 0) << base.name;
        const struct {
            uint32_t entries, dim;
        } huge[] = {{1u << 16, 1}, {1u << 20, 1}, {(1u << 24) - 1, 1}, {256, 1u << 15}, {1u << 12, 1u << 12}};
        for (auto h : huge) {
            Bytes mutant = ogg_with_huge_codebook(base.ogg, books - 1, h.entries, h.dim);
            if (!mutant.empty())
                try_mutant(
                    tally,
                    label(base, "codebook of " + std::to_string(h.entries) + " entries of " + std::to_string(h.dim)),
                    mutant);
        }
    }
    expect_no_faults(tally);
}

// Streams that open but whose seek to frame 0 fails, opened by the player's
// own stream_open_memory and refilled until they end. A fault kills the
// process, so each runs in a child: this program again, told to run the test
// below on one file.
TEST(DISABLED_OggChild, OpenWithThePlayerAndRefillToTheEnd)
{
    char path[MAX_PATH];
    DWORD length = ::GetEnvironmentVariableA("SONDREL_FUZZ_INPUT", path, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH) << "SONDREL_FUZZ_INPUT names the stream";
    Bytes ogg = read_file(path);
    fuzz_case_begin(std::string("the player's own opening of ") + path, ogg);
    GuardedCopy input(ogg);
    StreamPlayer& p = stream_player();
    if (!sound_device_open(nullptr)) GTEST_SKIP() << "no sound device";
    if (!stream_open_memory(input.data(), uint32_t(input.size()))) return; // refused: nothing more to prove
    static FencedRegion half(HALF);
    RefillState state = {p.stream.stream_channels, p.stream.stream_rate, false};
    bool ended = false;
    for (uint32_t i = 0; i < 10000 && !ended; ++i)
        ended = refill_half(&p.stream.decoder, &state, (i % 2) * HALF, half.data(), HALF).ended;
    EXPECT_TRUE(ended) << "the stream did not end";
    stream_close();
    fuzz_case_end();
}

TEST(OggFuzz, StreamsWhoseSeekFailsAreRefusedOrPlayedByThePlayer)
{
    // The first few such mutants of every family.
    std::vector<std::pair<std::string, Bytes>> found;
    for (const Family& family : FAMILIES) {
        int taken = 0;
        for (uint32_t k = 0; k < family.count && taken < 3; ++k) {
            std::string how;
            Bytes mutant = family.make(k, &how);
            GuardedCopy input(mutant);
            static FencedRegion half(HALF);
            Play probe = play(input, half, 0);
            if (probe.seek_failed) {
                found.push_back({std::string(family.name) + " mutant " + std::to_string(k) + ":" + how, mutant});
                ++taken;
            }
        }
    }
    std::printf("%zu mutants whose seek to frame 0 fails, tried through the player\n", found.size());
    char self[MAX_PATH];
    ::GetModuleFileNameA(nullptr, self, MAX_PATH);
    for (size_t i = 0; i < found.size(); ++i) {
        std::string name = "fuzz_ogg_seek_" + std::to_string(i) + ".ogg";
        ASSERT_TRUE(write_file(name, found[i].second));
        char folder[MAX_PATH];
        ::GetCurrentDirectoryA(MAX_PATH, folder);
        Child child = start_child(self, folder, {"SONDREL_FUZZ_INPUT=" + std::string(folder) + "\\" + name},
                                  child_test_arguments("DISABLED_OggChild.*"));
        ASSERT_TRUE(child.started);
        long code = wait_child(child, 60000);
        if (code == -1) kill_child(child);
        EXPECT_EQ(code, 0) << found[i].first << ": the player accepted " << name
                           << ", whose seek to frame 0 fails, and refilling it "
                           << (code == 3                      ? "crashed"
                               : code == -1                   ? "did not end"
                               : code == NO_VERDICT_EXIT_CODE ? "was not tried (no sound device)"
                                                              : "failed");
        if (code == 0) std::remove(name.c_str());
    }
}

} // namespace
