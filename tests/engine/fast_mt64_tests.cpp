// FastMt64 against the standard library's std::mt19937_64, the reference for
// every random byte the eraser writes: single draws, bulk fills, skips and
// copies, on the plain x86-64 path and on the AVX2 path.
#include "engine/fast_mt64.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <string>
#include <vector>

// Names the path in test names and failure messages.
static void PrintTo(Mt64Path path, std::ostream* out)
{
    *out << (path == Mt64Path::Avx2 ? "Avx2" : "Scalar");
}

namespace {

// Returns the top bytes of the next `count` outputs of `reference`.
std::vector<uint8_t> TopBytes(std::mt19937_64& reference, size_t count)
{
    std::vector<uint8_t> bytes(count);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(reference() >> 56);
    return bytes;
}

// Returns `count` bytes filled by `engine` in one call; fails the test if the
// fill wrote past them.
std::vector<uint8_t> Fill(FastMt64& engine, size_t count)
{
    std::vector<uint8_t> bytes(count + 64, 0xA5);
    engine.FillTopBytes(bytes.data(), count);
    for (size_t i = count; i < bytes.size(); ++i) EXPECT_EQ(0xA5, bytes[i]) << "written past " << count << " bytes";
    bytes.resize(count);
    return bytes;
}

const uint64_t kSeeds[] = {0, 1, 5489, ~0ULL, 1ULL << 63, 0x0123456789ABCDEFULL};

// Runs each test once per path; the AVX2 run is skipped where the processor
// or its OS cannot run it.
class FastMt64Path : public testing::TestWithParam<Mt64Path> {
protected:
    void SetUp() override
    {
        if (!UseMt64Path(GetParam())) GTEST_SKIP() << "this processor or its OS cannot run AVX2";
    }
    void TearDown() override { UseMt64Path(BestMt64Path()); }

    // Returns the fixed seeds and four fresh ones, the fresh ones named in a
    // failure so that it can be replayed.
    std::vector<uint64_t> Seeds()
    {
        std::vector<uint64_t> seeds(std::begin(kSeeds), std::end(kSeeds));
        std::random_device device;
        for (int i = 0; i < 4; ++i) seeds.push_back((uint64_t{device()} << 32) | device());
        return seeds;
    }
};

TEST_P(FastMt64Path, GivesThePublishedCheckValueAndFirstBytes)
{
    FastMt64 engine;  // the standard engine's default seed, 5489
    EXPECT_EQ((std::vector<uint8_t>{0xC9, 0x40, 0xB5, 0xF2, 0x04, 0x67, 0x40, 0x05}), Fill(engine, 8));
    FastMt64 drawn(5489);
    for (int i = 1; i < 10000; ++i) drawn();
    EXPECT_EQ(9981545732273789042ULL, drawn());
}

TEST_P(FastMt64Path, DrawsMatchTheStandardEngineForManySeeds)
{
    for (uint64_t seed : Seeds()) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937_64 reference(seed);
        FastMt64 engine(7);
        engine.seed(seed);  // reseeding a used engine starts afresh
        for (int i = 0; i < 250000; ++i) ASSERT_EQ(reference(), engine()) << "output " << i;
    }
}

// Fills of every awkward length (around the 16- and 4-word runs of the AVX2
// steps and the 312-word generation) from every offset in a generation, with
// single draws in between, stay in step with the standard engine.
TEST_P(FastMt64Path, FillsMatchTheStandardEngineAtOddLengthsAndBoundaries)
{
    const size_t lengths[] = {0,   1,   2,   3,   4,   5,   7,   8,    15,   16,    17,    31,    33,     155,   156,
                              157, 307, 308, 309, 311, 312, 313, 623,  624,  625,   936,   4095,  4096,   65535, 65536,
                              65537, 100003};
    for (uint64_t seed : Seeds()) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937_64 reference(seed);
        FastMt64 engine(seed);
        for (int round = 0; round < 3; ++round) {
            for (size_t length : lengths) {
                ASSERT_EQ(TopBytes(reference, length), Fill(engine, length)) << length << " bytes, round " << round;
                for (int draw = 0; draw < round; ++draw) ASSERT_EQ(reference(), engine());
            }
        }
        std::mt19937 script(static_cast<uint32_t>(seed));
        for (int step = 0; step < 3000; ++step) {
            const size_t length = script() % 700;
            ASSERT_EQ(TopBytes(reference, length), Fill(engine, length)) << length << " bytes, step " << step;
            if (script() % 2) {
                ASSERT_EQ(reference(), engine());
            }
        }
    }
}

TEST_P(FastMt64Path, CopiesTakenMidStateContinueIdentically)
{
    // Fresh (the first twist still ahead), inside a generation, at its last
    // word, exactly at its end, and a few generations on.
    for (size_t position : {size_t{0}, size_t{1}, size_t{311}, size_t{312}, size_t{313}, size_t{5000}}) {
        SCOPED_TRACE("position " + std::to_string(position));
        std::mt19937_64 reference(99);
        FastMt64 engine(99);
        Fill(engine, position / 2);
        for (size_t i = position / 2; i < position; ++i) engine();
        reference.discard(position);

        FastMt64 copy = engine;
        EXPECT_TRUE(copy == engine);
        const std::vector<uint8_t> expected = TopBytes(reference, 70000);
        EXPECT_EQ(expected, Fill(engine, 70000));
        EXPECT_FALSE(copy == engine);
        std::vector<uint8_t> fromCopy;
        for (int i = 0; i < 70000; ++i) fromCopy.push_back(static_cast<uint8_t>(copy() >> 56));
        EXPECT_EQ(expected, fromCopy);
        EXPECT_TRUE(copy == engine);
        EXPECT_EQ(reference(), engine());
    }
}

TEST_P(FastMt64Path, DiscardSkipsExactlyWhatDrawingWould)
{
    for (uint64_t count : {0ULL, 1ULL, 311ULL, 312ULL, 313ULL, 624ULL, 1000ULL, 100000ULL}) {
        SCOPED_TRACE("count " + std::to_string(count));
        std::mt19937_64 reference(2024);
        FastMt64 skipped(2024), filled(2024), drawn(2024);
        skipped.discard(count);
        Fill(filled, static_cast<size_t>(count));
        for (uint64_t i = 0; i < count; ++i) drawn();
        EXPECT_TRUE(skipped == filled);
        EXPECT_TRUE(skipped == drawn);
        reference.discard(count);
        EXPECT_EQ(reference(), skipped());
    }
}

INSTANTIATE_TEST_SUITE_P(BothPaths, FastMt64Path, testing::Values(Mt64Path::Scalar, Mt64Path::Avx2),
                         testing::PrintToStringParamName());

// The choice of path must agree with what Windows says of the processor
// (Windows 10 version 2004 and later report AVX2); a wrong AVX2 choice would
// crash the program on an older processor.
TEST(FastMt64, TakesAvx2ExactlyWhereWindowsReportsItAndCanBeForcedToScalar)
{
    const bool windowsHasAvx2 = IsProcessorFeaturePresent(PF_AVX2_INSTRUCTIONS_AVAILABLE) != 0;
    EXPECT_EQ(windowsHasAvx2, BestMt64Path() == Mt64Path::Avx2);
    EXPECT_EQ(BestMt64Path(), ActiveMt64Path());

    // Switching paths in the middle of a stream changes nothing in it.
    std::mt19937_64 reference(31337);
    FastMt64 engine(31337);
    ASSERT_TRUE(UseMt64Path(Mt64Path::Scalar));
    EXPECT_EQ(Mt64Path::Scalar, ActiveMt64Path());
    EXPECT_EQ(TopBytes(reference, 1000), Fill(engine, 1000));
    EXPECT_EQ(windowsHasAvx2, UseMt64Path(Mt64Path::Avx2));
    EXPECT_EQ(TopBytes(reference, 1000), Fill(engine, 1000));
    EXPECT_EQ(reference(), engine());
    UseMt64Path(BestMt64Path());
}

}  // namespace
