// FastMt64 against std::mt19937_64, the reference for every random byte the
// eraser writes, on the plain x86-64 path and on the AVX2 path.
#include "engine/fast_mt64.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

// Fill lengths lie around the 4- and 16-word AVX2 steps and the 312-word generation.
TEST(FastMt64, MatchesTheStandardEngineInDrawsFillsAndCopiesOnBothPaths)
{
    for (Mt64Path path : {Mt64Path::Scalar, Mt64Path::Avx2}) {
        SCOPED_TRACE(path == Mt64Path::Avx2 ? "AVX2" : "scalar");
        if (!UseMt64Path(path)) continue;  // this processor or its OS cannot run AVX2
        FastMt64 published;  // the standard engine's default seed, 5489
        std::vector<uint8_t> first(8);
        published.FillTopBytes(first.data(), first.size());
        EXPECT_EQ((std::vector<uint8_t>{0xC9, 0x40, 0xB5, 0xF2, 0x04, 0x67, 0x40, 0x05}), first);
        for (int i = 8; i < 9999; ++i) published();
        EXPECT_EQ(9981545732273789042ULL, published());
        for (uint64_t seed : {0ULL, 1ULL, ~0ULL, 0x0123456789ABCDEFULL}) {
            std::mt19937_64 reference(seed);
            FastMt64 engine(seed);
            for (size_t length : {0, 1, 3, 4, 5, 15, 16, 17, 311, 312, 313, 623, 625, 4095, 65537}) {
                std::vector<uint8_t> bytes(length + 16, 0xA5);
                engine.FillTopBytes(bytes.data(), length);
                for (size_t i = 0; i < length; ++i) ASSERT_EQ(reference() >> 56, bytes[i]) << seed << ": " << length;
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
    UseMt64Path(BestMt64Path());
}
