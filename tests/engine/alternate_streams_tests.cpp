#include "engine/alternate_streams.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

namespace {

const PassList kThreePasses = {Fixed(0x5A), Fixed(0xA5), RandomPass()};

// A scratch file whose listing shows the main stream, two named streams of
// 26 and 10 bytes, and the records the listing has to pass over.
struct FileWithStreams {
    TempFolder folder;
    std::wstring path = folder.File(L"f", Ramp(100));
    FakeOs fake;
    FileWithStreams()
    {
        fake.ScriptStreams({{L"::$DATA", {}},
                            {L":Zone.Identifier:$DATA", Ramp(26)},
                            {L":noType", Ramp(5)},
                            {L":empty:$DATA", {}},
                            {L":locked:$DATA", Ramp(7), ERROR_SHARING_VIOLATION},
                            {L":second:$DATA", Ramp(10)}});
    }
    bool Overwrite(const PassList& passes, SinkRecord& sink, const StopFlag* stop, EraseRng& rng)
    {
        return OverwriteAlternateStreams(path.c_str(), passes, RecordLog, &sink, stop, rng, ByteDistribution());
    }
};

}  // namespace

TEST(OverwriteAlternateStreams, WritesEveryPassOverEachStreamItCanOpen)
{
    FileWithStreams file;
    EXPECT_EQ((std::vector<std::wstring>{L":Zone.Identifier", L":empty", L":locked", L":second"}),
              ListAlternateStreams(file.path.c_str()));
    SinkRecord sink;
    EraseRng rng(5), replay(5);
    ASSERT_TRUE(file.Overwrite(kThreePasses, sink, nullptr, rng));
    EXPECT_EQ((std::vector<std::wstring>{L"Overwriting ADS :Zone.Identifier (26 bytes)...",
                                         L"Overwriting ADS :second (10 bytes)..."}),
              sink.events);
    EXPECT_EQ(Expected(RandomPass(), 26, replay), file.fake.StreamContents(L":Zone.Identifier"));
    replay.discard(26);
    EXPECT_EQ(Expected(RandomPass(), 10, replay), file.fake.StreamContents(L":second"));
    replay.discard(10);
    EXPECT_EQ(replay, rng);  // one output per stream byte, nothing more
    EXPECT_EQ(Ramp(7), file.fake.StreamContents(L":locked"));
    EXPECT_EQ(6, file.fake.Calls(OsFn::WriteFile));
    EXPECT_EQ(6, file.fake.Calls(OsFn::FlushFileBuffers));
    for (const OsCallRecord& open : file.fake.CallsOf(OsFn::CreateFileW)) {
        EXPECT_EQ(static_cast<int64_t>(FILE_FLAG_OPEN_REPARSE_POINT), open.number);
        EXPECT_EQ(static_cast<DWORD>(GENERIC_WRITE), open.access);
    }
    EXPECT_EQ(Ramp(100), ReadAll(file.path));  // the main stream is not this step's business
    EXPECT_LEDGER_BALANCED(file.fake);
}

TEST(OverwriteAlternateStreams, AWriteFailureEndsTheStepButNotTheErase)
{
    FileWithStreams file;
    file.fake.FailNthCall(OsFn::WriteFile, 2);
    SinkRecord sink;
    EraseRng rng(5);
    EXPECT_TRUE(file.Overwrite(kThreePasses, sink, nullptr, rng));
    EXPECT_EQ(std::vector<uint8_t>(26, 0x5A), file.fake.StreamContents(L":Zone.Identifier"));
    EXPECT_EQ(Ramp(10), file.fake.StreamContents(L":second"));
    EXPECT_EQ(1u, sink.events.size());
    EXPECT_LEDGER_BALANCED(file.fake);
}

TEST(OverwriteAlternateStreams, AStopEndsTheStepWithFalse)
{
    for (bool duringPass : {false, true}) {
        FileWithStreams file;
        StopFlag stop{!duringPass};
        StopAtFirstWrite(file.fake, stop);
        SinkRecord sink;
        EraseRng rng(5);
        EXPECT_FALSE(file.Overwrite(kThreePasses, sink, &stop, rng));
        EXPECT_EQ(duringPass ? 1 : 0, file.fake.Calls(OsFn::WriteFile));
        EXPECT_EQ(Ramp(10), file.fake.StreamContents(L":second"));
        EXPECT_LEDGER_BALANCED(file.fake);
    }
}

TEST(OverwriteAlternateStreams, AnEmptyPassListOnlyAnnouncesAndNoStreamsMeansNothingToDo)
{
    FileWithStreams file;
    SinkRecord sink;
    EraseRng rng(5);
    EXPECT_TRUE(file.Overwrite({}, sink, nullptr, rng));
    EXPECT_EQ(2u, sink.events.size());
    EXPECT_EQ(0, file.fake.Calls(OsFn::WriteFile));
    file.fake.ScriptStreams({});
    sink.events.clear();
    EXPECT_TRUE(file.Overwrite(kThreePasses, sink, nullptr, rng));
    EXPECT_TRUE(sink.events.empty());
    EXPECT_LEDGER_BALANCED(file.fake);
}

TEST(ZeroSmallAlternateStreams, ZeroesEachStreamUnderTheLimitInPlaceAndGoesOnPastAFailure)
{
    const std::vector<uint8_t> zeros26(26, 0), zeros10(10, 0);
    const struct {
        const char* name;
        int64_t limit;
        bool failFirstWrite, stopAtFirstWrite;
        std::vector<uint8_t> zoneAfter, secondAfter;
    } cases[] = {
        {"limit between the two", 20, false, false, Ramp(26), zeros10},
        {"first write fails", 4096, true, false, Ramp(26), zeros10},
        {"stop at the first write", 4096, false, true, zeros26, Ramp(10)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        FileWithStreams file;
        StopFlag stop{0};
        if (c.failFirstWrite) file.fake.FailNthCall(OsFn::WriteFile, 1);
        if (c.stopAtFirstWrite) StopAtFirstWrite(file.fake, stop);
        ZeroSmallAlternateStreams(file.path.c_str(), c.limit, &stop);
        EXPECT_EQ(c.zoneAfter, file.fake.StreamContents(L":Zone.Identifier"));
        EXPECT_EQ(c.secondAfter, file.fake.StreamContents(L":second"));
        EXPECT_EQ(Ramp(7), file.fake.StreamContents(L":locked"));
        EXPECT_EQ(Ramp(100), ReadAll(file.path));
        for (const OsCallRecord& open : file.fake.CallsOf(OsFn::CreateFileW)) {
            EXPECT_EQ(static_cast<int64_t>(FILE_FLAG_OPEN_REPARSE_POINT), open.number);
        }
        EXPECT_LEDGER_BALANCED(file.fake);
    }
}
