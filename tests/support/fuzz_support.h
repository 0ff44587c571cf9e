// What the hostile-input tests share: a seeded generator, memory fenced by
// inaccessible pages, and a last word when a mutant brings the process down.
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// The run's seed: SONDREL_FUZZ_SEED when set (decimal or 0x hex), else `fixed`.
// Printed once, so that any run can be repeated.
uint64_t fuzz_seed(uint64_t fixed);

// splitmix64: small, fast and the same everywhere.
struct FuzzRandom {
    uint64_t state;
    explicit FuzzRandom(uint64_t seed) : state(seed) {}
    uint64_t next();
    // 0 to bound - 1 (bound > 0).
    uint32_t below(uint32_t bound) { return uint32_t(next() % bound); }
    bool chance(uint32_t one_in) { return below(one_in) == 0; }
};

// A copy of some bytes that ends exactly where an inaccessible page begins:
// reading one byte past the end faults at once.
class GuardedCopy {
public:
    explicit GuardedCopy(const std::vector<uint8_t>& bytes);
    ~GuardedCopy();
    GuardedCopy(const GuardedCopy&) = delete;
    GuardedCopy& operator=(const GuardedCopy&) = delete;
    const uint8_t* data() const { return start_; }
    size_t size() const { return size_; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* start_ = nullptr;
    size_t size_ = 0;
};

// A writable region of whole pages with an inaccessible page on each side:
// a write just before or just after it faults.
class FencedRegion {
public:
    explicit FencedRegion(size_t bytes);
    ~FencedRegion();
    FencedRegion(const FencedRegion&) = delete;
    FencedRegion& operator=(const FencedRegion&) = delete;
    uint8_t* data() const { return start_; }
    size_t size() const { return size_; }
    bool ready() const { return start_ != nullptr; }

private:
    uint8_t* base_ = nullptr;
    uint8_t* start_ = nullptr;
    size_t size_ = 0;
};

// Names the case being tried; if the process then dies of an unhandled
// exception or the watchdog finds it stuck, the case is printed and its input
// written to `dump_name` in the current folder, ready to be replayed, with
// the reason and the description in `dump_name`.txt.
void fuzz_case_begin(const std::string& description, const std::vector<uint8_t>& input);
void fuzz_case_end();
const char* fuzz_dump_name();
// Starts the handlers once per process: a case still running after
// `limit_ms` is reported as a hang and the process ends with code 3.
void fuzz_guard_start(const char* dump_name, DWORD limit_ms);
