// FastMt64 against std::mt19937_64, the reference for every random byte the
// eraser writes, on each path of its bulk steps that this machine can run.
#include "engine/fast_mt64.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

class FastMt64OnPath : public testing::TestWithParam<Mt64Path> {
protected:
    void SetUp() override
    {
        if (!UseMt64Path(GetParam())) GTEST_SKIP() << "this processor or its OS cannot run this path";
    }
    void TearDown() override { UseMt64Path(BestMt64Path()); }
};

// Fill lengths lie around the 4-, 8- and 16-word SIMD steps, the 156-word
// half and the 312-word generation; over three million outputs compared.
TEST_P(FastMt64OnPath, MatchesTheStandardEngineInDrawsFillsSkipsAndCopies)
{
    std::mt19937_64 seeds(20240611);
    for (int s = 0; s < 24; ++s) {
        const uint64_t seed = s == 0 ? 0 : s == 1 ? ~0ULL : seeds();
        std::mt19937_64 reference(seed);
        FastMt64 engine(seed);
        for (size_t length : {0, 1, 3, 4, 5, 7, 8, 9, 15, 16, 17, 63, 64, 65, 155, 157, 311, 312, 313, 623, 625, 4095, 65537}) {
            std::vector<uint8_t> bytes(length + 16, 0xA5), expected(length + 16, 0xA5);
            engine.FillTopBytes(bytes.data(), length);
            for (size_t i = 0; i < length; ++i) expected[i] = static_cast<uint8_t>(reference() >> 56);
            ASSERT_TRUE(expected == bytes) << "seed " << seed << ", length " << length;  // nothing written past the end
            ASSERT_EQ(reference(), engine());
            engine.discard(length);
            reference.discard(length);
        }
        FastMt64 copy = engine;  // taken mid-generation: both go on alike
        std::vector<uint8_t> bulk(1 << 16), expected(bulk.size()), replayed(bulk.size());
        engine.FillTopBytes(bulk.data(), bulk.size());
        for (uint8_t& byte : expected) byte = static_cast<uint8_t>(reference() >> 56);
        for (uint8_t& byte : replayed) byte = static_cast<uint8_t>(copy() >> 56);
        ASSERT_TRUE(expected == bulk && replayed == bulk) << "seed " << seed;
        EXPECT_TRUE(copy == engine);
    }
}

// Returns the path's name for the test's name.
static std::string PathName(const testing::TestParamInfo<Mt64Path>& info)
{
    return info.param == Mt64Path::Avx512 ? "Avx512" : info.param == Mt64Path::Avx2 ? "Avx2" : "Scalar";
}

INSTANTIATE_TEST_SUITE_P(Paths, FastMt64OnPath, testing::Values(Mt64Path::Scalar, Mt64Path::Avx2, Mt64Path::Avx512),
                         PathName);
