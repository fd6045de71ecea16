// The Gutmann method: four random passes, the 27 patterned passes in an
// order shuffled afresh for every file, and four random passes again.
#include "methods/erase_methods.h"

#include "engine/secure_erase.h"

#include <array>
#include <numeric>
#include <utility>

const GutmannSequence GutmannPatterns[kGutmannPatternCount] = {
    {1, {0x55}},             {1, {0xAA}},             {3, {0x92, 0x49, 0x24}},
    {3, {0x49, 0x24, 0x92}}, {3, {0x24, 0x92, 0x49}}, {1, {0x00}},
    {1, {0x11}},             {1, {0x22}},             {1, {0x33}},
    {1, {0x44}},             {1, {0x55}},             {1, {0x66}},
    {1, {0x77}},             {1, {0x88}},             {1, {0x99}},
    {1, {0xAA}},             {1, {0xBB}},             {1, {0xCC}},
    {1, {0xDD}},             {1, {0xEE}},             {1, {0xFF}},
    {3, {0x92, 0x49, 0x24}}, {3, {0x49, 0x24, 0x92}}, {3, {0x24, 0x92, 0x49}},
    {3, {0x6D, 0xB6, 0xDB}}, {3, {0xB6, 0xDB, 0x6D}}, {3, {0xDB, 0x6D, 0xB6}},
};

namespace {

constexpr int kGutmannRandomPasses = 4;
constexpr int kGutmannPassCount = kGutmannPatternCount + 2 * kGutmannRandomPasses;

using GutmannOrder = std::array<uint8_t, kGutmannPatternCount>;

// Shuffles `order` by Fisher-Yates from the back, one 4-byte draw per step,
// taken little-endian and reduced by plain remainder. Returns false at the
// first failed draw.
bool ShuffleGutmannOrder(GutmannOrder& order)
{
    for (uint32_t i = kGutmannPatternCount - 1; i >= 1; --i) {
        uint8_t draw[4] = {};
        if (!DrawMethodBytes(draw, sizeof draw))
            return false;
        const uint32_t r = draw[0] | (draw[1] << 8) | (draw[2] << 16) | (static_cast<uint32_t>(draw[3]) << 24);
        const uint32_t j = r % (i + 1);
        if (j != i)
            std::swap(order[i], order[j]);
    }
    return true;
}

// Returns the pass that writes one sequence: a single byte as FixedByte,
// anything longer as a Pattern.
PassSpec GutmannPass(const GutmannSequence& sequence)
{
    if (sequence.length == 1)
        return PassSpec{PassKind::FixedByte, sequence.bytes[0], {}};
    return PassSpec{PassKind::Pattern, 0, {sequence.bytes, sequence.bytes + sequence.length}};
}

// Returns the 35 passes: random, the sequences in `order`, random.
PassList BuildGutmannPasses(const GutmannOrder& order)
{
    PassList passes;
    passes.reserve(kGutmannPassCount);
    passes.resize(kGutmannRandomPasses, PassSpec{PassKind::Random, 0, {}});
    for (uint8_t position : order)
        passes.push_back(GutmannPass(GutmannPatterns[position]));
    passes.resize(kGutmannPassCount, PassSpec{PassKind::Random, 0, {}});
    return passes;
}

}  // namespace

// A failed draw ends the method before the file is touched or anything is logged.
EraseResult EraseGutmann(const wchar_t* path, ProgressFn progress, LogFn log, void* context,
                         const StopFlag* stop, bool keepName)
{
    GutmannOrder order;
    std::iota(order.begin(), order.end(), uint8_t{0});
    if (!ShuffleGutmannOrder(order))
        return EraseResult::Error;
    return SecureEraseFile(path, BuildGutmannPasses(order),
                           L"File successfully wiped (Gutmann 35-pass historical profile) and deleted.",
                           progress, log, context, stop, keepName);
}
