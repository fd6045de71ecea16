#include "engine/overwrite_pass.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

namespace {

// A real scratch file held open for writing, as the erase holds the main stream.
struct OpenScratchFile {
    TempFolder folder;
    std::wstring path = folder.File(L"target.bin", {});
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ~OpenScratchFile() { CloseHandle(handle); }
};

}  // namespace

TEST(RunOverwritePass, WritesWholeChunksAndMovesProgressOverAllPasses)
{
    OpenScratchFile file;
    FakeOs fake;
    SinkRecord sink;
    EraseRng rng(1);
    int64_t done = 0;
    const PassList passes = {Fixed(0x0F), Pattern({0x92, 0x49, 0x24}), RandomPass()};
    for (int32_t i = 0; i < 3; ++i) {
        ASSERT_TRUE(RunOverwritePass(file.handle, 131072, passes[i], i, 3, RecordProgress, RecordLog, &sink, nullptr,
                                     done, 3.0 * 131072, rng, ByteDistribution()));
    }
    EXPECT_EQ((std::vector<std::wstring>{L"Pass 1/3: Overwrite with 0x0F...", L"%16", L"%33",
                                         L"Pass 2/3: Overwrite with 0x924924 (rotation)...", L"%50", L"%66",
                                         L"Pass 3/3: Random overwrite...", L"%83", L"%100"}),
              sink.events);
    EXPECT_EQ(std::vector<int64_t>(6, 65536), WriteSizes(fake));
    EXPECT_EQ(3, fake.Calls(OsFn::FlushFileBuffers));
    EXPECT_EQ(3 * 131072, done);
    ASSERT_TRUE(RunOverwritePass(file.handle, 65537, Fixed(0), 0, 1, nullptr, nullptr, nullptr, nullptr, done, 1.0,
                                 rng, ByteDistribution()));
    EXPECT_EQ(65536, WriteSizes(fake).at(6));
    EXPECT_EQ(1, WriteSizes(fake).at(7));
    // Fewer than three pattern bytes get the plain announcement; a length of 0 writes nothing but still flushes.
    sink.events.clear();
    ASSERT_TRUE(RunOverwritePass(file.handle, 0, Pattern({0x55, 0xAA}), 2, 35, RecordProgress, RecordLog, &sink,
                                 nullptr, done, 0.0, rng, ByteDistribution()));
    EXPECT_EQ(std::vector<std::wstring>{L"Pass 3/35: Overwrite with pattern..."}, sink.events);
    EXPECT_EQ(8, fake.Calls(OsFn::WriteFile));
    EXPECT_EQ(5, fake.Calls(OsFn::FlushFileBuffers));
}

TEST(RunOverwritePass, FailsWithoutFlushOnPositioningWriteShortWriteAndStop)
{
    enum class Fault { Seek, Write, ShortWrite, Stop };
    for (Fault fault : {Fault::Seek, Fault::Write, Fault::ShortWrite, Fault::Stop}) {
        OpenScratchFile file;
        FakeOs fake;
        StopFlag stop{0};
        SinkRecord sink{{}, &stop, 50};  // raises the stop once the first of two chunks is written
        if (fault == Fault::Seek) fake.FailNthCall(OsFn::SetFilePointerEx, 1);
        if (fault == Fault::Write) fake.FailNthCall(OsFn::WriteFile, 2);
        if (fault == Fault::ShortWrite) fake.ShortenNthWrite(2, 100);
        EraseRng rng(1);
        int64_t done = 0;
        EXPECT_FALSE(RunOverwritePass(file.handle, 131072, Fixed(0xC3), 0, 1,
                                      fault == Fault::Stop ? RecordProgress : nullptr, RecordLog, &sink, &stop, done,
                                      131072.0, rng, ByteDistribution()));
        EXPECT_EQ(L"Pass 1/1: Overwrite with 0xC3...", sink.events.at(0));  // logged before the failure
        EXPECT_EQ(0, fake.Calls(OsFn::FlushFileBuffers));
        EXPECT_EQ(fault == Fault::Seek ? 0 : 2 - (fault == Fault::Stop), fake.Calls(OsFn::WriteFile));
        if (fault == Fault::Stop) {
            EXPECT_EQ(std::vector<uint8_t>(65536, 0xC3), ReadAll(file.path));
        }
    }
}
