#include "engine/pass.h"
#include "tests/engine/engine_test_support.h"

#include <gtest/gtest.h>

// The writers fill a pass 65,536 bytes at a time; a rotation must run on
// across chunks whose size is not a multiple of its period, and draw nothing.
TEST(FillPassBuffer, APatternContinuesAcrossChunks)
{
    const std::vector<uint8_t> bytes = {0x92, 0x49, 0x24};
    EraseRng rng(42), untouched(42);
    uint64_t cursor = 0;
    std::vector<uint8_t> out(3 * 65536 + 7);
    for (size_t done = 0; done < out.size(); done += 65536)
        FillPassBuffer(out.data() + done, std::min<size_t>(65536, out.size() - done), Pattern(bytes), cursor, rng,
                       ByteDistribution());
    for (size_t i = 0; i < out.size(); ++i) ASSERT_EQ(bytes[i % 3], out[i]) << "byte " << i;
    EXPECT_EQ(out.size() % 3, cursor);
    EXPECT_EQ(untouched, rng);
}
