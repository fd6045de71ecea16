// Each method is judged by what the engine writes over a real file of three
// whole 64 KiB chunks (nothing lengthened or zeroed first), so a pattern must
// run on across chunk ends that are no multiple of its period.
#include "methods/erase_methods.h"
#include "tests/engine/engine_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using Sequence = std::vector<uint8_t>;
constexpr size_t kSize = 3 * 65536;
const PassSpec R = RandomPass();
const uint64_t kSeed = 0x6363636363636363ULL;  // what eight 0x63 bytes seed
const std::vector<Sequence> kPublished = {
    {0x55}, {0xAA}, {0x92, 0x49, 0x24}, {0x49, 0x24, 0x92}, {0x24, 0x92, 0x49}, {0x00}, {0x11}, {0x22}, {0x33},
    {0x44}, {0x55}, {0x66}, {0x77}, {0x88}, {0x99}, {0xAA}, {0xBB}, {0xCC}, {0xDD}, {0xEE}, {0xFF},
    {0x92, 0x49, 0x24}, {0x49, 0x24, 0x92}, {0x24, 0x92, 0x49}, {0x6D, 0xB6, 0xDB}, {0xB6, 0xDB, 0x6D}, {0xDB, 0x6D, 0xB6},
};

// Erases a fresh file in `folder` with `method` under `fake`, which the caller
// has scripted. Returns every byte the engine wrote, in order, and sets `result`.
Sequence Observe(FakeOs& fake, EraseMethodFn method, const TempFolder& folder, EraseResult& result)
{
    verifyReadBack = 0;
    const std::wstring path = folder.File(L"v.bin", Ramp(kSize));
    Sequence written;
    CaptureWrites(fake, written);
    StopFlag stop{0};
    result = method(path.c_str(), nullptr, nullptr, nullptr, &stop, false);
    return written;
}

// Returns a Gutmann erase's passes: `middle`, with four random passes on each side.
std::vector<PassSpec> GutmannPasses(const std::vector<Sequence>& middle)
{
    std::vector<PassSpec> passes(4, R);
    for (const Sequence& bytes : middle) passes.push_back(bytes.size() == 1 ? Fixed(bytes[0]) : Pattern(bytes));
    passes.insert(passes.end(), 4, R);
    return passes;
}

}  // namespace

// A method whose own draw (DoD's bytes, any of Gutmann's shuffle draws) fails must not touch the file.
TEST(EraseMethodTable, EachRowWritesItsPassesWithTheBytesItDrewAndNothingWhenADrawFails)
{
    std::vector<Sequence> allZeroOrder(kPublished.begin() + 1, kPublished.end());  // position 1 moves to the end
    allZeroOrder.push_back(kPublished[0]);
    Sequence keepOrder;  // r = i at every step of the shuffle
    for (uint8_t i = 26; i >= 1; --i) keepOrder.insert(keepOrder.end(), {i, 0, 0, 0});
    const struct { int index; Sequence draws; std::vector<PassSpec> passes; int failedDraw = 0; } rows[] = {
        {0, {}, {R}}, {1, {}, {Fixed(0)}}, {2, {}, {Fixed(0), R}},
        {3, {0x12}, {Fixed(0x12), Fixed(0xED), R}}, {3, {0x00}, {Fixed(0x00), Fixed(0xFF), R}},
        {4, {0x12, 0xA0}, {Fixed(0x12), Fixed(0xED), R, Fixed(0xA0), Fixed(0x5F), R, R}},
        {5, {}, {Fixed(0), Fixed(0xFF), R}}, {6, {}, {Fixed(0xFF), Fixed(0), R, R, R, R, R}},
        {7, {}, {Fixed(0), Fixed(0xFF), Fixed(0), Fixed(0xFF), Fixed(0), Fixed(0xFF), R}},
        {8, keepOrder, GutmannPasses(kPublished)}, {8, Sequence(104, 0), GutmannPasses(allZeroOrder)},
        {3, {}, {}, 1}, {4, {}, {}, 1}, {8, {}, {}, 1}, {8, {}, {}, 26},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.index << " failing draw " << row.failedDraw);
        TempFolder folder;
        FakeOs fake;
        Sequence script = row.draws;
        script.resize(script.size() + 8, 0x63);  // then the engine's seed
        fake.ScriptRandom(script);
        if (row.failedDraw) fake.FailNthCall(OsFn::BCryptGenRandom, row.failedDraw);
        EraseResult result;
        Sequence written = Observe(fake, SelectEraseMethod(row.index).run, folder, result);
        EXPECT_EQ(row.failedDraw ? EraseResult::Error : EraseResult::Success, result);
        EXPECT_TRUE(written == ExpectedBytes(row.passes, kSize, EraseRng(kSeed)));
        EXPECT_EQ(row.failedDraw ? Ramp(kSize) : Sequence(), ReadAll(folder / L"v.bin"));
    }
}
