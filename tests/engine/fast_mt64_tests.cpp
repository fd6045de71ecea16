// FastMt64 against std::mt19937_64, the reference for every random byte the
// eraser writes, on the plain x86-64 path and on the AVX2 path.
#include "engine/fast_mt64.h"

#include <gtest/gtest.h>

#include <ostream>
#include <random>
#include <vector>

// Names the path in test names and failure messages.
static void PrintTo(Mt64Path path, std::ostream* out) { *out << (path == Mt64Path::Avx2 ? "Avx2" : "Scalar"); }

namespace {

// Runs the test once per path; the AVX2 run is skipped where the processor or its OS cannot run it.
class FastMt64Path : public testing::TestWithParam<Mt64Path> {
protected:
    void SetUp() override
    {
        if (!UseMt64Path(GetParam())) GTEST_SKIP() << "this processor or its OS cannot run AVX2";
    }
    void TearDown() override { UseMt64Path(BestMt64Path()); }
};

// Fill lengths around the 4- and 16-word AVX2 steps and the 312-word generation.
TEST_P(FastMt64Path, MatchesTheStandardEngineInDrawsFillsAndCopies)
{
    FastMt64 published;  // the standard engine's default seed, 5489
    std::vector<uint8_t> first(8);
    published.FillTopBytes(first.data(), first.size());
    EXPECT_EQ((std::vector<uint8_t>{0xC9, 0x40, 0xB5, 0xF2, 0x04, 0x67, 0x40, 0x05}), first);
    FastMt64 drawn(5489);
    for (int i = 1; i < 10000; ++i) drawn();
    EXPECT_EQ(9981545732273789042ULL, drawn());

    for (uint64_t seed : {0ULL, 1ULL, ~0ULL, 0x0123456789ABCDEFULL}) {
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        std::mt19937_64 reference(seed);
        FastMt64 engine(seed);
        for (size_t length : {0, 1, 3, 4, 5, 15, 16, 17, 311, 312, 313, 623, 625, 4095, 65537}) {
            std::vector<uint8_t> bytes(length + 16, 0xA5);
            engine.FillTopBytes(bytes.data(), length);
            for (size_t i = 0; i < length; ++i) ASSERT_EQ(reference() >> 56, bytes[i]) << length << " bytes, at " << i;
            ASSERT_EQ(std::vector<uint8_t>(16, 0xA5), std::vector<uint8_t>(bytes.begin() + length, bytes.end()));
            ASSERT_EQ(reference(), engine());
        }
        FastMt64 copy = engine;  // taken mid-generation: both go on alike
        std::vector<uint8_t> bulk(70000);
        engine.FillTopBytes(bulk.data(), bulk.size());
        for (uint8_t byte : bulk) ASSERT_EQ(reference() >> 56, byte);
        for (uint8_t byte : bulk) ASSERT_EQ(byte, copy() >> 56);
        EXPECT_TRUE(copy == engine);
    }
}

INSTANTIATE_TEST_SUITE_P(BothPaths, FastMt64Path, testing::Values(Mt64Path::Scalar, Mt64Path::Avx2),
                         testing::PrintToStringParamName());

}  // namespace
