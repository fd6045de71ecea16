// One overwrite pass, the per-file random stream, and the routine that turns
// a pass into bytes chunk by chunk.
#pragma once

#include "engine/erase_types.h"
#include "engine/fast_mt64.h"

#include <cstddef>
#include <cstdint>
#include <vector>

enum class PassKind : uint32_t {
    FixedByte = 0,
    Pattern = 1,
    Random = 2,
};

struct PassSpec {
    PassKind kind = PassKind::FixedByte;
    uint8_t value = 0;             // the byte of a FixedByte pass
    std::vector<uint8_t> pattern;  // the bytes of a Pattern pass
};

using PassList = std::vector<PassSpec>;

// The random stream of one file: MT19937-64, a plain value that can be copied
// as a snapshot. Its outputs are those of std::mt19937_64 seeded alike, bit
// for bit; it only fills bytes faster.
using EraseRng = FastMt64;

// Maps engine outputs to bytes over 0..255: each byte is the top eight bits of
// one output, so no output is ever rejected and every random byte costs
// exactly one output.
struct ByteDistribution {
    // Writes the next `count` random bytes of `rng` to `dest`. Returns nothing.
    void Fill(EraseRng& rng, uint8_t* dest, size_t count) const { rng.FillTopBytes(dest, count); }
};

// The 8 bytes of the system's preferred cryptographic generator that seed a
// file's random stream.
using EraseSeedBytes = uint8_t[8];

// Seeds `rng` from `bytes`, read as a little-endian number. Returns nothing.
void SeedEraseRng(EraseRng& rng, const EraseSeedBytes& bytes);

// Writes exactly `count` bytes of `pass` into `dest`, carrying the pattern
// cursor and the engine on from the previous chunk. Cannot fail.
void FillPassBuffer(uint8_t* dest, uint64_t count, const PassSpec& pass, uint64_t& cursor,
                    EraseRng& rng, const ByteDistribution& dist);
