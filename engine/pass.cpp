#include "engine/pass.h"

#include <cstring>

void SeedEraseRng(EraseRng& rng, const EraseSeedBytes& bytes)
{
    uint64_t seed = 0;
    for (int i = 7; i >= 0; --i) seed = (seed << 8) | bytes[i];
    rng.seed(seed);
}

namespace {

// Repeats `pattern` into `dest` from position `cursor`; returns the position
// after the last byte written. One period is copied from the pattern, and
// then what is written so far, a whole number of periods, is copied after
// itself, doubling each time, so short patterns cost a few large copies
// rather than one small copy per period.
uint64_t FillPattern(uint8_t* dest, uint64_t count, const std::vector<uint8_t>& pattern, uint64_t cursor)
{
    const uint64_t length = pattern.size();
    const uint64_t position = cursor % length;
    const uint64_t toEnd = count < length - position ? count : length - position;
    memcpy(dest, pattern.data() + position, static_cast<size_t>(toEnd));
    const uint64_t wrapped = count - toEnd < position ? count - toEnd : position;
    memcpy(dest + toEnd, pattern.data(), static_cast<size_t>(wrapped));
    for (uint64_t done = toEnd + wrapped; done < count;) {
        const uint64_t run = count - done < done ? count - done : done;
        memcpy(dest + done, dest, static_cast<size_t>(run));
        done += run;
    }
    return (position + count % length) % length;
}

}  // namespace

// No method builds a pass of an unknown kind or a pattern pass without bytes;
// should one arrive anyway, it writes zeros, so the buffer never carries the
// bytes of an earlier chunk and no length is ever divided by zero. The cursor
// and the engine stay as they were.
void FillPassBuffer(uint8_t* dest, uint64_t count, const PassSpec& pass, uint64_t& cursor,
                    EraseRng& rng, const ByteDistribution& dist)
{
    if (count == 0) return;
    switch (pass.kind) {
    case PassKind::FixedByte:
        memset(dest, pass.value, static_cast<size_t>(count));
        return;
    case PassKind::Pattern:
        if (pass.pattern.empty()) break;
        cursor = FillPattern(dest, count, pass.pattern, cursor);
        return;
    case PassKind::Random:
        dist.Fill(rng, dest, static_cast<size_t>(count));
        return;
    }
    memset(dest, 0, static_cast<size_t>(count));
}
