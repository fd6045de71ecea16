#include "engine/verify.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

namespace {

// One read as the log shows it: bytes asked, bytes got, and whether the
// handle it went through was unbuffered.
struct Read {
    int64_t asked, got;
    bool unbuffered;
    bool operator==(const Read&) const = default;
};

std::vector<Read> ReadsOf(const FakeOs& fake)
{
    std::vector<Read> reads;
    bool unbuffered = false;
    for (const OsCallRecord& call : fake.CallLog()) {
        if (call.fn == OsFn::CreateFileW && call.ok) unbuffered = (call.number & FILE_FLAG_NO_BUFFERING) != 0;
        if (call.fn == OsFn::ReadFile) reads.push_back({call.number, call.done, unbuffered});
    }
    return reads;
}

// A file that holds a Random pass of `size` bytes from engine 99.
struct WrittenPass {
    TempFolder folder;
    EraseRng snapshot{99};
    std::wstring path;
    explicit WrittenPass(size_t size) : path(folder.File(L"f", Expected(RandomPass(), size, snapshot))) {}
};

}  // namespace

TEST(VerifyPass, ReadsUnbufferedAndFallsBackOnceForAPartialSector)
{
    const struct {
        size_t size;
        std::vector<Read> reads;
        int64_t reopenedAt;  // -1: no reopen
    } cases[] = {
        {8192, {{8192, 8192, true}}, -1},
        {5000, {{5000, 0, true}, {5000, 5000, false}}, 0},
        {70000, {{65536, 65536, true}, {4464, 0, true}, {4464, 4464, false}}, 65536},
    };
    for (const auto& c : cases) {
        WrittenPass file(c.size);
        FakeOs fake;
        fake.EmulateUnbufferedReads(512);
        SinkRecord sink;
        EXPECT_TRUE(VerifyPass(file.path.c_str(), c.size, RandomPass(), file.snapshot, RecordLog, &sink, nullptr, 1, 3));
        EXPECT_EQ(std::vector<std::wstring>{L"Verifying pass 2/3 (disk read-back)..."}, sink.events);
        EXPECT_EQ(c.reads, ReadsOf(fake));
        std::vector<OsCallRecord> seeks = fake.CallsOf(OsFn::SetFilePointerEx);
        EXPECT_EQ(c.reopenedAt < 0 ? 0u : 1u, seeks.size());
        if (!seeks.empty()) {
            EXPECT_EQ(c.reopenedAt, seeks[0].number);
        }
        EXPECT_LEDGER_BALANCED(fake);
    }
}

TEST(VerifyPass, ReportsEveryFailureAndReleasesEverything)
{
    const wchar_t* const openFailed = L"Verification: failed to open file for read-back.";
    const wchar_t* const readError = L"Verification: read error during read-back.";
    const wchar_t* const mismatch = L"VERIFICATION FAILED: disk content does not match expected overwrite pattern.";
    enum class Fault {
        NoOpen, NoBuffer, NoReopen, BufferedReadFails, BufferedOnly, ShortUnbufferedRead, ChangedByte, Stop, Empty
    };
    const struct {
        Fault fault;
        bool result;
        const wchar_t* message;  // null: only the announcement
    } cases[] = {
        {Fault::NoOpen, false, openFailed},   {Fault::NoBuffer, false, nullptr},
        {Fault::NoReopen, false, readError},  {Fault::BufferedReadFails, false, readError},
        {Fault::BufferedOnly, false, readError},  // opened buffered: a failed read is not retried
        {Fault::ShortUnbufferedRead, true, nullptr}, {Fault::ChangedByte, false, mismatch},
        {Fault::Stop, false, nullptr},        {Fault::Empty, true, nullptr},
    };
    for (const auto& c : cases) {
        WrittenPass file(c.fault == Fault::ShortUnbufferedRead ? 8192 : 5000);
        int64_t length = c.fault == Fault::Empty ? 0 : c.fault == Fault::ShortUnbufferedRead ? 8192 : 5000;
        if (c.fault == Fault::ChangedByte) {
            std::vector<uint8_t> bytes = ReadAll(file.path);
            bytes[4321] ^= 0x01;
            file.folder.File(L"f", bytes);
        }
        FakeOs fake;
        fake.EmulateUnbufferedReads(512);
        if (c.fault == Fault::NoOpen) fake.FailEveryCall(OsFn::CreateFileW);
        if (c.fault == Fault::NoBuffer) fake.FailNthCall(OsFn::AlignedAlloc, 2);
        if (c.fault == Fault::NoReopen) fake.FailNthCall(OsFn::CreateFileW, 2);
        if (c.fault == Fault::BufferedOnly) {
            fake.FailNthCall(OsFn::CreateFileW, 1);
            fake.FailNthCall(OsFn::ReadFile, 1);
        }
        if (c.fault == Fault::BufferedReadFails) fake.FailNthCall(OsFn::ReadFile, 2);
        if (c.fault == Fault::ShortUnbufferedRead) fake.ShortenNthRead(1, 4096);
        StopFlag stop{c.fault == Fault::Stop};
        SinkRecord sink;
        EXPECT_EQ(c.result, VerifyPass(file.path.c_str(), length, RandomPass(), file.snapshot, RecordLog, &sink, &stop,
                                       0, 1));
        std::vector<std::wstring> expected{L"Verifying pass 1/1 (disk read-back)..."};
        if (c.message != nullptr) expected.push_back(c.message);
        EXPECT_EQ(expected, sink.events) << static_cast<int>(c.fault);
        EXPECT_LEDGER_BALANCED(fake);
        if (c.fault == Fault::Stop || c.fault == Fault::Empty) {
            EXPECT_EQ(0, fake.Calls(OsFn::ReadFile));
        }
    }
}

TEST(VerifyPass, StopBetweenChunksEndsWithoutAMessage)
{
    WrittenPass file(3 * 65536);
    FakeOs fake;
    StopFlag stop{0};
    fake.hooks.ReadFile = [&](HANDLE h, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) {
        stop = 1;
        return RealOsCalls().ReadFile(h, b, n, d, o);
    };
    SinkRecord sink;
    EXPECT_FALSE(VerifyPass(file.path.c_str(), 3 * 65536, RandomPass(), file.snapshot, RecordLog, &sink, &stop, 0, 1));
    EXPECT_EQ(1u, sink.events.size());
    EXPECT_EQ(1, fake.Calls(OsFn::ReadFile));
    EXPECT_LEDGER_BALANCED(fake);
}
