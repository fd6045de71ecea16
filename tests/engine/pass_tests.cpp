#include "engine/pass.h"
#include "engine/random_name.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

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
    EXPECT_EQ(Expected(RandomPass(), 70000, snapshot), random);
    snapshot.discard(70000);
    EXPECT_EQ(snapshot, rng);  // one output per byte
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
