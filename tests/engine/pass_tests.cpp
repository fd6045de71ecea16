#include "engine/pass.h"
#include "engine/random_name.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

#include <random>

TEST(EraseRng, MatchesThePublishedCheckValueAndByteMapping)
{
    EraseRng rng(5489);
    EraseRng copy = rng;
    for (int i = 1; i < 10000; ++i) rng();
    EXPECT_EQ(9981545732273789042ULL, rng());
    EXPECT_EQ((std::vector<uint8_t>{0xC9, 0x40, 0xB5, 0xF2, 0x04, 0x67, 0x40, 0x05}), Expected(RandomPass(), 8, copy));
}

TEST(EraseRng, SeedsFromEightLittleEndianBytesAndKeepsTheEngineOnFailure)
{
    FakeOs fake;
    fake.ScriptRandom({0x71, 0x15, 0, 0, 0, 0, 0, 0});  // 0x1571 == 5489
    EraseRng rng(1);
    ASSERT_TRUE(SeedEraseRng(rng));
    EXPECT_EQ(EraseRng(5489), rng);
    EXPECT_EQ(8, fake.CallsOf(OsFn::BCryptGenRandom).at(0).number);
    fake.FailNthCall(OsFn::BCryptGenRandom, 2);
    EXPECT_FALSE(SeedEraseRng(rng));
    EXPECT_EQ(EraseRng(5489), rng);
}

// Fills `total` bytes in chunks of at most 65,536, as the writers do.
static std::vector<uint8_t> FillInChunks(const PassSpec& pass, size_t total, EraseRng& rng, uint64_t& cursor)
{
    std::vector<uint8_t> out(total, 0xEE);
    for (size_t done = 0; done < total;) {
        size_t chunk = std::min<size_t>(65536, total - done);
        FillPassBuffer(out.data() + done, chunk, pass, cursor, rng, ByteDistribution());
        done += chunk;
    }
    return out;
}

TEST(FillPassBuffer, EachKindFormsOneSequenceAcrossChunks)
{
    EraseRng rng(42), untouched(42);
    uint64_t cursor = 0;
    EXPECT_EQ(std::vector<uint8_t>(100000, 0xFF), FillInChunks(Fixed(0xFF), 100000, rng, cursor));
    std::vector<uint8_t> rotation = FillInChunks(Pattern({0x92, 0x49, 0x24}), 131072, rng, cursor);
    EXPECT_EQ(0x49, rotation[65536]);  // 65,536 mod 3 is 1
    for (size_t i = 0; i < rotation.size(); ++i) ASSERT_EQ((std::vector<uint8_t>{0x92, 0x49, 0x24})[i % 3], rotation[i]);
    EXPECT_EQ(131072u % 3, cursor);
    EXPECT_EQ(untouched, rng);  // neither kind draws from the engine
    cursor = 0;
    EXPECT_EQ(FillInChunks(Fixed(0x55), 1000, rng, cursor), FillInChunks(Pattern({0x55}), 1000, rng, cursor));
    EraseRng snapshot = rng;
    std::vector<uint8_t> random = FillInChunks(RandomPass(), 70000, rng, cursor);
    std::mt19937_64 reference(42);  // the standard engine, top byte per output
    for (size_t i = 0; i < random.size(); ++i) ASSERT_EQ(reference() >> 56, random[i]) << "byte " << i;
    snapshot.discard(70000);
    EXPECT_EQ(snapshot, rng);  // one output per byte
}

// Lengths around one and two periods and a whole chunk, from cursors at,
// inside and past the end of the pattern.
TEST(FillPassBuffer, PatternRepeatsFromAnyCursorAtAnyLength)
{
    for (size_t length : {1, 2, 3, 7, 64, 100}) {
        const std::vector<uint8_t> bytes = Ramp(length, 0x10);
        for (uint64_t start : {uint64_t{0}, uint64_t{length - 1}, uint64_t{length + 2}, ~uint64_t{0}}) {
            for (size_t count : {size_t{1}, length - 1, length, length + 1, 2 * length + 1, size_t{1000}, size_t{65536}}) {
                if (count == 0) continue;  // a zero count leaves the cursor alone, tested on its own
                SCOPED_TRACE(testing::Message() << "pattern " << length << ", cursor " << start << ", count " << count);
                std::vector<uint8_t> out(count + 8, 0xEE);
                uint64_t cursor = start;
                EraseRng rng(1), before(1);
                FillPassBuffer(out.data(), count, Pattern(bytes), cursor, rng, ByteDistribution());
                for (size_t i = 0; i < count; ++i) ASSERT_EQ(bytes[(start % length + i) % length], out[i]) << "byte " << i;
                EXPECT_EQ(std::vector<uint8_t>(8, 0xEE), std::vector<uint8_t>(out.begin() + count, out.end()));
                EXPECT_EQ((start % length + count) % length, cursor);
                EXPECT_EQ(before, rng);
            }
        }
    }
}

TEST(FillPassBuffer, ZeroCountChangesNothing)
{
    EraseRng rng(7), before(7);
    uint64_t cursor = 2;
    uint8_t byte = 0xAB;
    FillPassBuffer(&byte, 0, Pattern({1, 2, 3}), cursor, rng, ByteDistribution());
    FillPassBuffer(&byte, 0, RandomPass(), cursor, rng, ByteDistribution());
    EXPECT_EQ(0xAB, byte);
    EXPECT_EQ(2u, cursor);
    EXPECT_EQ(before, rng);
}

TEST(FillPassBuffer, UnknownKindAndEmptyPatternWriteZeros)
{
    PassSpec unknown{static_cast<PassKind>(9), 0x77, {1, 2}};
    for (const PassSpec& pass : {unknown, Pattern({})}) {
        EraseRng rng(3), before(3);
        uint64_t cursor = 5;
        std::vector<uint8_t> buffer(300, 0xEE);  // left over from an earlier chunk
        FillPassBuffer(buffer.data(), buffer.size(), pass, cursor, rng, ByteDistribution());
        EXPECT_EQ(std::vector<uint8_t>(300, 0), buffer);
        EXPECT_EQ(5u, cursor);
        EXPECT_EQ(before, rng);
    }
}

TEST(DrawRandomName, MapsEachByteModulo62AndKeepsTheNameOnFailure)
{
    FakeOs fake;
    fake.ScriptRandom({0, 25, 26, 51, 52, 61, 62, 255, 1, 2, 3, 4, 5, 6, 7, 8});
    std::wstring name = L"old";
    ASSERT_TRUE(DrawRandomName(name));
    EXPECT_EQ(L"azAZ09ahbcdefghi", name);
    EXPECT_EQ(16, fake.CallsOf(OsFn::BCryptGenRandom).at(0).number);
    fake.FailEveryCall(OsFn::BCryptGenRandom);
    EXPECT_FALSE(DrawRandomName(name));
    EXPECT_EQ(L"azAZ09ahbcdefghi", name);
}
