#include "engine/secure_erase.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

#include <functional>

static const wchar_t kDone[] = L"File successfully overwritten (DoD 5220.22-M, 3-pass) and deleted.";
static StopFlag noStop{0};

static EraseResult Erase(const std::wstring& path, PassList passes, SinkRecord& sink, const StopFlag* stop = &noStop)
{
    return SecureEraseFile(path.c_str(), std::move(passes), kDone, RecordProgress, RecordLog, &sink, stop, false);
}

TEST(SecureEraseFile, OverwritesEveryByteUpToTheClusterEndAndReportsTheDodExampleInOrder)
{
    verifyReadBack = 1;
    TempFolder folder;
    FakeOs fake;
    fake.ScriptStreams({{L"::$DATA", {}}, {L":Zone.Identifier:$DATA", Ramp(26)}});
    fake.ScriptRandom({0x71, 0x15, 0, 0, 0, 0, 0, 0});  // seed 5489
    std::vector<uint8_t> lastContents;
    fake.hooks.DeleteFileW = [&](LPCWSTR name) {
        lastContents = ReadAll(name);
        return RealOsCalls().DeleteFileW(name);
    };
    SinkRecord sink;
    EXPECT_EQ(EraseResult::Success, Erase(folder.File(L"report.docx", Ramp(5000)), {Fixed(0x5A), Fixed(0xA5), RandomPass()}, sink));
    EXPECT_EQ((std::vector<std::wstring>{
                  L"File name scrambled.", L"Overwriting ADS :Zone.Identifier (26 bytes)...",
                  L"Extended +3192 bytes for slack space coverage.", L"Pass 1/3: Overwrite with 0x5A...", L"%33",
                  L"Verifying pass 1/3 (disk read-back)...", L"Pass 2/3: Overwrite with 0xA5...", L"%66",
                  L"Verifying pass 2/3 (disk read-back)...", L"Pass 3/3: Random overwrite...", L"%100",
                  L"Verifying pass 3/3 (disk read-back)...", kDone}),
              sink.events);
    EraseRng rng(5489);
    EXPECT_EQ(ExpectedBytes({RandomPass()}, 26, rng), fake.StreamContents(L":Zone.Identifier"));
    rng.discard(26);  // the stream's random pass draws before the file's
    EXPECT_EQ(ExpectedBytes({RandomPass()}, 8192, rng), lastContents);
    EXPECT_TRUE(folder.Names().empty());
}

// The rotation of pass 1 must run on across chunk ends that are no multiple of its period.
TEST(SecureEraseFile, AStopDuringPassTwoLeavesARotationAndTheFileUnderAScrambledName)
{
    verifyReadBack = 0;
    TempFolder folder;
    StopFlag stop{0};
    SinkRecord sink{{}, &stop, 44};  // 44 %: the first chunk of pass 2 of 3 over three chunks
    ASSERT_EQ(EraseResult::Canceled,
              Erase(folder.File(L"f", Ramp(3 * 65536)), {Pattern({0x92, 0x49, 0x24}), Fixed(0x22), Fixed(0x33)}, sink, &stop));
    EXPECT_EQ(L"Operation canceled by user.", sink.events.back());
    ASSERT_TRUE(folder.Names().size() == 1 && IsScrambledName(folder.Names()[0]));
    std::vector<uint8_t> expected = ExpectedBytes({Pattern({0x92, 0x49, 0x24})}, 3 * 65536, EraseRng(0));
    std::fill(expected.begin(), expected.begin() + 65536, 0x22);
    EXPECT_EQ(expected, ReadAll(folder / folder.Names()[0]));
}

// Read-only is cleared before the first write; the zeros of a file smaller than
// a cluster land before the rename; a second link keeps the overwritten bytes.
TEST(SecureEraseFile, ErasesAReadOnlyHardLinkedSmallFileInOrder)
{
    verifyReadBack = 0;
    TempFolder folder;
    std::wstring path = folder.File(L"ro", Ramp(300));
    ASSERT_TRUE(CreateHardLinkW((folder / L"other").c_str(), path.c_str(), nullptr));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
    FakeOs fake;
    std::vector<uint8_t> written;
    CaptureWrites(fake, written);
    SinkRecord sink;
    ASSERT_EQ(EraseResult::Success, Erase(path, {Fixed(0x11)}, sink));
    EXPECT_EQ(L"Warning: file has 2 hard links. Overwrite affects all links; only this link name will be removed.",
              sink.events.at(0));
    std::vector<OsFn> order;
    for (const OsCallRecord& call : fake.CallLog())
        if (call.fn == OsFn::SetFileAttributesW || call.fn == OsFn::WriteFile || call.fn == OsFn::MoveFileW) order.push_back(call.fn);
    EXPECT_EQ((std::vector<OsFn>{OsFn::SetFileAttributesW, OsFn::WriteFile, OsFn::MoveFileW, OsFn::MoveFileW, OsFn::WriteFile}), order);
    EXPECT_EQ(std::vector<uint8_t>(300, 0), std::vector<uint8_t>(written.begin(), written.begin() + 300));
    EXPECT_EQ(std::vector<std::wstring>{L"other"}, folder.Names());
    EXPECT_EQ(std::vector<uint8_t>(4096, 0x11), ReadAll(folder / L"other"));
}

TEST(SecureEraseFile, RefusesALinkSwappedInCatchesAChangedByteAndFallsBackFromUnbufferedReads)
{
    const struct {
        const char* name;
        std::function<void(FakeOs&)> arrange;
        EraseResult result;
        std::wstring message;
    } cases[] = {
        {"link swapped in after the path check", [](FakeOs& f) {
             f.hooks.GetFileInformationByHandle = [&f](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
                 BOOL ok = RealOsCalls().GetFileInformationByHandle(h, info);
                 if (f.Calls(OsFn::GetFileInformationByHandle) == 2) info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
                 return ok;
             };
         }, EraseResult::Refused, L"Refusing to process reparse point (symbolic link / junction)."},
        {"read-back differs", [](FakeOs& f) {
             f.hooks.ReadFile = [](HANDLE h, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) {
                 BOOL ok = RealOsCalls().ReadFile(h, b, n, d, o);
                 static_cast<uint8_t*>(b)[n - 1] ^= 0x80;
                 return ok;
             };
         }, EraseResult::VerifyFailed, L"VERIFICATION FAILED: disk content does not match expected overwrite pattern."},
        {"partial sector left unlengthened", [](FakeOs& f) {
             f.FailNthCall(OsFn::GetDiskFreeSpaceW, 1);
             f.EmulateUnbufferedReads(512);
         }, EraseResult::Success, kDone},
    };
    verifyReadBack = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        FakeOs fake;
        c.arrange(fake);
        SinkRecord sink;
        EXPECT_EQ(c.result, Erase(folder.File(L"f.bin", Ramp(5000)), {Fixed(0x11), Fixed(0x77)}, sink));
        EXPECT_EQ(c.message, sink.events.back());
        EXPECT_EQ(c.result == EraseResult::Success ? 0u : 1u, folder.Names().size());
        EXPECT_LEDGER_BALANCED(fake);
        const std::vector<OsCallRecord> reads = fake.CallsOf(OsFn::ReadFile);
        EXPECT_EQ(c.result == EraseResult::Success ? 2 : 0,  // one unbuffered try per verified pass
                  std::count_if(reads.begin(), reads.end(), [](const OsCallRecord& read) { return !read.ok; }));
        EXPECT_TRUE(c.result != EraseResult::Refused || fake.Calls(OsFn::WriteFile) == 0);
    }
}
