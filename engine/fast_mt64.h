// MT19937-64 with the standard library engine's parameters, seeding and
// outputs, whose bulk byte fill uses AVX-512 or AVX2 where the processor and
// the OS support them and plain x86-64 code everywhere else.
#pragma once

#include "engine/fast_mt64_kernels.h"

#include <cstddef>
#include <cstdint>

// A plain value: a copy continues with exactly the outputs the original
// would have produced. Produces the same sequence as std::mt19937_64 seeded
// with the same value, and compares equal under the same conditions.
struct FastMt64 {
    uint64_t words[kMt64Words];
    size_t next;  // the word the next output tempers; kMt64Words: twist first

    FastMt64() : FastMt64(5489) {}  // the standard engine's default seed
    explicit FastMt64(uint64_t value) { seed(value); }

    // Restarts the sequence from `value`. Returns nothing.
    void seed(uint64_t value);
    // Returns the next 64-bit output.
    uint64_t operator()();
    // Skips `count` outputs. Returns nothing.
    void discard(uint64_t count);
    // Writes the top eight bits of each of the next `count` outputs to `dest`,
    // as `count` calls of operator() would. Returns nothing.
    void FillTopBytes(uint8_t* dest, size_t count);

    friend bool operator==(const FastMt64&, const FastMt64&) = default;
};

// The instructions the engines' bulk steps use.
enum class Mt64Path {
    Scalar,  // any x86-64 processor
    Avx2,    // AVX2, with the OS saving the YMM registers
    Avx512,  // AVX-512 Foundation, with the OS saving the opmask and ZMM registers
};

// Returns the path every engine in the process takes now.
Mt64Path ActiveMt64Path();
// Returns the fastest path this processor and its OS can run.
Mt64Path BestMt64Path();
// Makes every engine in the process take `path`, so tests and benchmarks can
// run each.
// Returns false, changing nothing, when this processor cannot run it.
bool UseMt64Path(Mt64Path path);
