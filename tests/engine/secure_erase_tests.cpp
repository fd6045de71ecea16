#include "engine/log_text.h"
#include "engine/secure_erase.h"
#include "tests/engine/engine_test_support.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <set>

namespace {

const wchar_t kDone[] = L"File successfully overwritten (test) and deleted.";
const wchar_t kRefused[] = L"Refusing to process reparse point (symbolic link / junction).";
const wchar_t kCanceled[] = L"Operation canceled by user.";
const std::vector<uint8_t> kSeed5489 = {0x71, 0x15, 0, 0, 0, 0, 0, 0};
StopFlag noStop{0};

EraseResult Erase(const std::wstring& path, PassList passes, SinkRecord& sink, const StopFlag* stop = &noStop,
                  bool keepName = false, LogFn log = RecordLog)
{
    return SecureEraseFile(path.c_str(), std::move(passes), kDone, RecordProgress, log, &sink, stop, keepName);
}

// Returns the first `count` calls of the functions `fns`, in order.
std::vector<OsFn> CallOrder(const FakeOs& fake, std::set<OsFn> fns, size_t count = SIZE_MAX)
{
    std::vector<OsFn> order;
    for (const OsCallRecord& call : fake.CallLog())
        if (order.size() < count && fns.count(call.fn)) order.push_back(call.fn);
    return order;
}

const std::set<OsFn> kWriteSteps = {OsFn::WriteFile, OsFn::FlushFileBuffers, OsFn::MoveFileW, OsFn::SetEndOfFile};

}  // namespace

TEST(SecureEraseFile, LengthensToTheClusterEndAndZeroesASubClusterFileInPlaceBeforeTheRename)
{
    const struct {
        size_t size;
        std::vector<int64_t> writes;
        const wchar_t* extended;
    } cases[] = {
        {8192, {8192, 8192}, nullptr},
        {300, {300, 4096, 4096}, L"Extended +3796 bytes for slack space coverage."},
    };
    VerifySetting verify(true);
    for (const auto& c : cases) {
        TempFolder folder;
        std::wstring path = folder.File(L"f.bin", Ramp(c.size));
        FakeOs fake;
        fake.ScriptRandom(kSeed5489);
        WriteCapture capture(fake);
        SinkRecord sink;
        ASSERT_EQ(EraseResult::Success, Erase(path, {Fixed(0x11), RandomPass()}, sink));
        std::vector<std::wstring> events = {L"File name scrambled.", L"Pass 1/2: Overwrite with 0x11...", L"%50",
                                            L"Verifying pass 1/2 (disk read-back)...", L"Pass 2/2: Random overwrite...",
                                            L"%100", L"Verifying pass 2/2 (disk read-back)...", kDone};
        if (c.extended != nullptr) events.insert(events.begin() + 1, c.extended);
        EXPECT_EQ(events, sink.events);
        EXPECT_EQ(c.writes, WriteSizes(fake));
        // The in-place zeros draw nothing: the random pass starts at the seed's first output.
        EXPECT_EQ(Expected(RandomPass(), c.writes.back(), EraseRng(5489)), capture.writes.back());
        EXPECT_TRUE(folder.Names().empty());
        EXPECT_EQ(0, fake.Calls(OsFn::SetFileAttributesW));
        EXPECT_LEDGER_BALANCED(fake);
        if (c.size == 300) {
            EXPECT_EQ(std::vector<uint8_t>(300, 0), capture.writes[0]);
            EXPECT_EQ((std::vector<OsFn>{OsFn::WriteFile, OsFn::FlushFileBuffers, OsFn::MoveFileW, OsFn::SetEndOfFile,
                                         OsFn::WriteFile}),
                      CallOrder(fake, kWriteSteps, 5));
        }
    }
}

TEST(SecureEraseFile, ReproducesTheDod3PassExampleWithANamedStream)
{
    VerifySetting verify(true);
    TempFolder folder;
    std::wstring path = folder.File(L"report.docx", Ramp(5000));
    FakeOs fake;
    fake.ScriptStreams({{L"::$DATA", {}}, {L":Zone.Identifier:$DATA", Ramp(26)}});
    fake.ScriptRandom(kSeed5489);
    WriteCapture capture(fake);
    SinkRecord sink;
    const wchar_t success[] = L"File successfully overwritten (DoD 5220.22-M, 3-pass) and deleted.";
    EXPECT_EQ(EraseResult::Success, SecureEraseFile(path.c_str(), {Fixed(0x5A), Fixed(0xA5), RandomPass()}, success,
                                                    RecordProgress, RecordLog, &sink, &noStop, false));
    EXPECT_EQ((std::vector<std::wstring>{
                  L"File name scrambled.", L"Overwriting ADS :Zone.Identifier (26 bytes)...",
                  L"Extended +3192 bytes for slack space coverage.", L"Pass 1/3: Overwrite with 0x5A...", L"%33",
                  L"Verifying pass 1/3 (disk read-back)...", L"Pass 2/3: Overwrite with 0xA5...", L"%66",
                  L"Verifying pass 2/3 (disk read-back)...", L"Pass 3/3: Random overwrite...", L"%100",
                  L"Verifying pass 3/3 (disk read-back)...", success}),
              sink.events);
    // The stream is zeroed in place before the rename, then gets its passes.
    EXPECT_EQ((std::vector<int64_t>{26, 26, 26, 26, 8192, 8192, 8192}), WriteSizes(fake));
    EXPECT_EQ(std::vector<uint8_t>(26, 0), capture.writes[0]);
    EXPECT_EQ((std::vector<OsFn>{OsFn::WriteFile, OsFn::FlushFileBuffers, OsFn::MoveFileW, OsFn::WriteFile}),
              CallOrder(fake, kWriteSteps, 4));
    EraseRng rng(5489);
    EXPECT_EQ(Expected(RandomPass(), 26, rng), fake.StreamContents(L":Zone.Identifier"));
    rng.discard(26);  // the stream's random pass comes before the main stream's
    EXPECT_EQ(Expected(RandomPass(), 8192, rng), capture.writes.back());
    EXPECT_TRUE(folder.Names().empty());
    for (const OsCallRecord& open : fake.CallsOf(OsFn::CreateFileW)) {  // only the read-back may follow a link
        if ((open.number & FILE_FLAG_SEQUENTIAL_SCAN) == 0) {
            EXPECT_EQ(FILE_FLAG_OPEN_REPARSE_POINT, open.number);
        }
    }
    EXPECT_LEDGER_BALANCED(fake);
}

TEST(SecureEraseFile, DeletesAnEmptyFileWithoutPassesAndWarnsAboutHardLinks)
{
    TempFolder folder;
    SinkRecord sink;
    ASSERT_EQ(EraseResult::Success, Erase(folder.File(L"empty", {}), {Fixed(0)}, sink));
    EXPECT_EQ((std::vector<std::wstring>{L"File name scrambled.", L"File size is 0. Deleting file."}), sink.events);
    std::wstring path = folder.File(L"linked", Ramp(5000));
    ASSERT_TRUE(CreateHardLinkW((folder / L"other").c_str(), path.c_str(), nullptr));
    sink.events.clear();
    ASSERT_EQ(EraseResult::Success, Erase(path, {Fixed(0x33)}, sink));
    EXPECT_EQ(L"Warning: file has 2 hard links. Overwrite affects all links; only this link name will be removed.",
              sink.events.at(0));
    EXPECT_EQ(std::vector<std::wstring>{L"other"}, folder.Names());
    EXPECT_EQ(std::vector<uint8_t>(8192, 0x33), ReadAll((folder / L"other")));
}

TEST(SecureEraseFile, AStopDuringPassTwoLeavesPassOneAndPartOfPassTwoUnderTheNewName)
{
    VerifySetting verify(false);
    TempFolder folder;
    StopFlag stop{0};
    SinkRecord sink{{}, &stop, 44};  // 44 %: the first chunk of pass 2 of 3 over three chunks
    ASSERT_EQ(EraseResult::Canceled,
              Erase(folder.File(L"f", Ramp(3 * 65536)), {Fixed(0x11), Fixed(0x22), Fixed(0x33)}, sink, &stop));
    EXPECT_EQ(kCanceled, sink.events.back());
    ASSERT_EQ(1u, folder.Names().size());
    ASSERT_TRUE(IsScrambledName(folder.Names()[0]));
    std::vector<uint8_t> expected(3 * 65536, 0x11);
    std::fill(expected.begin(), expected.begin() + 65536, 0x22);
    EXPECT_EQ(expected, ReadAll(folder / folder.Names()[0]));
}

TEST(SecureEraseFile, KeepNameEmptyPassListAndMissingLogRunTheSameSteps)
{
    VerifySetting verify(true);
    TempFolder folder;
    SinkRecord sink;
    FakeOs fake;
    ASSERT_EQ(EraseResult::Success, Erase(folder.File(L"keep", Ramp(5000)), {Fixed(1)}, sink, &noStop, true));
    EXPECT_EQ(0, fake.Calls(OsFn::MoveFileW));
    EXPECT_NE(L"File name scrambled.", sink.events.at(0));
    sink.events.clear();
    ASSERT_EQ(EraseResult::Success, Erase(folder.File(L"none", Ramp(5000)), {}, sink));
    EXPECT_EQ((std::vector<std::wstring>{L"File name scrambled.", L"Extended +3192 bytes for slack space coverage.",
                                         kDone}),
              sink.events);
    std::vector<std::vector<OsFn>> steps;
    for (LogFn log : {static_cast<LogFn>(RecordLog), static_cast<LogFn>(nullptr)}) {
        FakeOs run;
        run.FailNthCall(OsFn::DeleteFileW, 1);
        SinkRecord quiet;
        EXPECT_EQ(EraseResult::DeleteFailed, Erase(folder.File(L"f", Ramp(5000)), {RandomPass()}, quiet, &noStop,
                                                   true, log));
        steps.emplace_back();
        for (const OsCallRecord& call : run.CallLog()) steps.back().push_back(call.fn);
        EXPECT_EQ(log == nullptr ? 1u : 5u, quiet.events.size());  // the percent is still sent
    }
    EXPECT_EQ(steps[0], steps[1]);
}

namespace {

enum class Left { Untouched, Scrambled, Gone };

// Makes GetFileInformationByHandle report a reparse point on its `nth` call,
// as it does when a link was put in the file's place after the path check.
void SwapForLinkAt(FakeOs& fake, int nth)
{
    fake.hooks.GetFileInformationByHandle = [&fake, nth](HANDLE h, LPBY_HANDLE_FILE_INFORMATION info) {
        BOOL ok = RealOsCalls().GetFileInformationByHandle(h, info);
        if (fake.Calls(OsFn::GetFileInformationByHandle) == nth) info->dwFileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        return ok;
    };
}

}  // namespace

TEST(SecureEraseFile, EndsEachFailureInItsResultMessageAndFileState)
{
    const struct {
        const char* name;
        std::function<void(FakeOs&, StopFlag&)> arrange;
        EraseResult result;
        std::wstring message;  // the last text; "@" stands for the path given, "#" for the scrambled one
        Left left;
    } cases[] = {
        {"reparse path", [](FakeOs& f, StopFlag&) {
             f.hooks.GetFileAttributesW = [](LPCWSTR p) { return RealOsCalls().GetFileAttributesW(p) | FILE_ATTRIBUTE_REPARSE_POINT; };
         }, EraseResult::Refused, kRefused, Left::Untouched},
        {"probe open", [](FakeOs& f, StopFlag&) { f.FailNthCall(OsFn::CreateFileW, 1, ERROR_SHARING_VIOLATION); },
         EraseResult::OpenFailed, L"Failed to open file: @", Left::Untouched},
        {"size", [](FakeOs& f, StopFlag&) { f.FailNthCall(OsFn::GetFileSizeEx, 1); }, EraseResult::Error,
         L"Failed to get file size.", Left::Untouched},
        {"link at probe", [](FakeOs& f, StopFlag&) { SwapForLinkAt(f, 1); }, EraseResult::Refused, kRefused, Left::Untouched},
        {"seed", [](FakeOs& f, StopFlag&) { f.FailNthCall(OsFn::BCryptGenRandom, 1); }, EraseResult::Error,
         L"Failed to obtain cryptographic random seed.", Left::Untouched},
        {"link at write", [](FakeOs& f, StopFlag&) { SwapForLinkAt(f, 2); }, EraseResult::Refused, kRefused, Left::Scrambled},
        {"write open", [](FakeOs& f, StopFlag&) { f.FailNthCall(OsFn::CreateFileW, 2); }, EraseResult::OpenFailed,
         L"Unable to open for overwrite: #", Left::Scrambled},
        {"pass write", [](FakeOs& f, StopFlag&) { f.FailNthCall(OsFn::WriteFile, 1); }, EraseResult::WriteFailed,
         L"Failed during overwrite pass.", Left::Scrambled},
        {"read-back differs", [](FakeOs& f, StopFlag&) {
             f.hooks.ReadFile = [](HANDLE h, LPVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) {
                 BOOL ok = RealOsCalls().ReadFile(h, b, n, d, o);
                 static_cast<uint8_t*>(b)[n - 1] ^= 0x80;
                 return ok;
             };
         }, EraseResult::VerifyFailed, L"VERIFICATION FAILED: disk content does not match expected overwrite pattern.", Left::Scrambled},
        {"stop before a pass", [](FakeOs&, StopFlag& s) { s = 1; }, EraseResult::Canceled, kCanceled, Left::Scrambled},
        {"stop in a stream", [](FakeOs& f, StopFlag& s) { f.ScriptStreams({{L":s:$DATA", Ramp(9)}}); StopAtFirstWrite(f, s); },
         EraseResult::Canceled, kCanceled, Left::Scrambled},
        {"final delete", [](FakeOs& f, StopFlag&) { f.FailNthCall(OsFn::DeleteFileW, 1); }, EraseResult::DeleteFailed,
         L"Failed to delete file after overwrite.", Left::Scrambled},
        {"every rename", [](FakeOs& f, StopFlag&) { f.FailEveryCall(OsFn::MoveFileW); }, EraseResult::Success, kDone, Left::Gone},
    };
    VerifySetting verify(true);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        std::wstring path = folder.File(L"f.bin", Ramp(5000));
        FakeOs fake;
        StopFlag stop{0};
        c.arrange(fake, stop);
        SinkRecord sink;
        EXPECT_EQ(c.result, Erase(path, {Fixed(0x11), Fixed(0x77)}, sink, &stop));
        std::vector<std::wstring> names = folder.Names();
        std::wstring message = c.message;
        if (message.back() == L'@') message.replace(message.size() - 1, 1, path);
        if (message.back() == L'#' && names.size() == 1) message.replace(message.size() - 1, 1, (folder / names[0]));
        EXPECT_EQ(message, sink.events.back());
        EXPECT_LEDGER_BALANCED(fake);
        if (c.left == Left::Untouched) {
            EXPECT_EQ(std::vector<std::wstring>{L"f.bin"}, names);
            EXPECT_EQ(Ramp(5000), ReadAll(path));
        }
        if (c.left == Left::Scrambled) {
            ASSERT_EQ(1u, names.size());
            EXPECT_TRUE(IsScrambledName(names[0]));
        }
        if (c.left == Left::Gone) {
            EXPECT_TRUE(names.empty());
        }
        if (c.result == EraseResult::DeleteFailed) {
            EXPECT_EQ(std::vector<uint8_t>(8192, 0x77), ReadAll((folder / names[0])));
        }
        if (c.result == EraseResult::Refused) {
            EXPECT_EQ(0, fake.Calls(OsFn::WriteFile));
        }
    }
}

TEST(SecureEraseFile, TheInPlaceZeroingIsBestEffortAndAFileItMissesIsNeverLengthened)
{
    const std::wstring extended = L"Extended +3796 bytes for slack space coverage.";
    const struct {
        const char* name;
        std::function<void(FakeOs&, StopFlag&)> arrange;
        std::vector<int64_t> writes;  // the file's zeros, the stream's zeros, the stream's pass, the file's pass
        bool lengthened;
    } cases[] = {
        {"ordinary", [](FakeOs&, StopFlag&) {}, {300, 9, 9, 4096}, true},
        {"file's zero open fails", [](FakeOs& f, StopFlag&) { f.FailNthCall(OsFn::CreateFileW, 2); }, {9, 9, 300}, false},
        {"file's zero open is a link", [](FakeOs& f, StopFlag&) { SwapForLinkAt(f, 2); }, {9, 9, 300}, false},
        {"file's zero write fails", [](FakeOs& f, StopFlag&) { f.FailNthCall(OsFn::WriteFile, 1); }, {300, 9, 9, 300}, false},
        {"file's zero write is short", [](FakeOs& f, StopFlag&) { f.ShortenNthWrite(1, 100); }, {300, 9, 9, 300}, false},
        {"stream's zero write fails", [](FakeOs& f, StopFlag&) { f.FailNthCall(OsFn::WriteFile, 2); }, {300, 9, 9, 4096}, true},
        {"cluster size unknown", [](FakeOs& f, StopFlag&) { f.FailNthCall(OsFn::GetDiskFreeSpaceW, 1); }, {300, 9, 9, 300}, false},
        {"stop during the file's zeros", [](FakeOs& f, StopFlag& s) { StopAtFirstWrite(f, s); }, {300}, false},
    };
    VerifySetting verify(false);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        std::wstring path = folder.File(L"small.txt", Ramp(300));
        FakeOs fake;
        fake.ScriptStreams({{L":s:$DATA", Ramp(9)}});
        StopFlag stop{0};
        c.arrange(fake, stop);
        SinkRecord sink;
        EraseResult result = Erase(path, {Fixed(0x11)}, sink, &stop);
        EXPECT_EQ(c.writes, WriteSizes(fake));
        EXPECT_EQ(c.lengthened ? 1 : 0, std::count(sink.events.begin(), sink.events.end(), extended));
        EXPECT_LEDGER_BALANCED(fake);
        if (stop == 0) {
            EXPECT_EQ(EraseResult::Success, result);
            EXPECT_TRUE(folder.Names().empty());
            continue;
        }
        // The stop ends the zeroing; the stream step then reports it, after the rename.
        EXPECT_EQ(EraseResult::Canceled, result);
        EXPECT_EQ(kCanceled, sink.events.back());
        ASSERT_EQ(1u, folder.Names().size());
        EXPECT_TRUE(IsScrambledName(folder.Names()[0]));
        EXPECT_EQ(std::vector<uint8_t>(300, 0), ReadAll(folder / folder.Names()[0]));
        EXPECT_EQ(Ramp(9), fake.StreamContents(L":s"));
    }
}

TEST(SecureEraseFile, FailsCleanlyWithoutAStopFlagOrWhenAnEmptyFileCannotBeDeleted)
{
    TempFolder folder;
    std::wstring path = folder.File(L"e", {});
    FakeOs fake;
    SinkRecord sink;
    EXPECT_EQ(EraseResult::Error, Erase(path, {Fixed(0)}, sink, nullptr));
    EXPECT_TRUE(sink.events.empty());
    EXPECT_EQ(0, fake.InjectableCalls());
    fake.FailNthCall(OsFn::DeleteFileW, 1);
    EXPECT_EQ(EraseResult::DeleteFailed, Erase(path, {Fixed(0)}, sink));
    EXPECT_EQ(L"Failed to delete file.", sink.events.back());
    EXPECT_LEDGER_BALANCED(fake);
}

TEST(SecureEraseFile, ClearsReadOnlyBeforeAnythingIsWritten)
{
    TempFolder folder;
    std::wstring path = folder.File(L"ro", Ramp(300));
    ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    FakeOs fake;
    fake.ScriptStreams({{L":s:$DATA", Ramp(9)}});
    SinkRecord sink;
    ASSERT_EQ(EraseResult::Success, Erase(path, {Fixed(0x11)}, sink));
    EXPECT_EQ(path, fake.CallsOf(OsFn::SetFileAttributesW).at(0).path);
    for (const OsCallRecord& write : fake.CallsOf(OsFn::WriteFile)) EXPECT_TRUE(write.ok);
    // The in-place zeros of the file and its stream, the rename, the stream's pass, the file's pass.
    EXPECT_EQ((std::vector<OsFn>{OsFn::SetFileAttributesW, OsFn::WriteFile, OsFn::WriteFile, OsFn::MoveFileW,
                                 OsFn::WriteFile, OsFn::WriteFile}),
              CallOrder(fake, {OsFn::SetFileAttributesW, OsFn::WriteFile, OsFn::MoveFileW}));
    EXPECT_TRUE(folder.Names().empty());
}

TEST(SecureEraseFile, HandlesBadInputWithoutWritingAnywhereElse)
{
    VerifySetting verify(true);
    TempFolder folder;
    std::wstring held = folder.File(L"held", Ramp(10));
    HANDLE other = CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    std::wstring longFolder = L"\\\\?\\" + (folder / std::wstring(240, L'd'));
    ASSERT_TRUE(CreateDirectoryW(longFolder.c_str(), nullptr));
    const struct {
        std::wstring path;
        EraseResult result;
        bool logsPath;
    } cases[] = {
        {(folder / L"vanished"), EraseResult::OpenFailed, true},
        {held, EraseResult::OpenFailed, true},
        {longFolder, EraseResult::OpenFailed, true},
        {longFolder + L"\\" + std::wstring(300, L'x'), EraseResult::OpenFailed, true},
        {folder.File(L"\u00dcnic\u00f8de \U0001F600.txt", Ramp(5000)), EraseResult::Success, false},
        {longFolder + L"\\long.bin", EraseResult::Success, false},
    };
    CloseHandle(CreateFileW(cases[5].path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    for (const auto& c : cases) {
        FakeOs fake;
        SinkRecord sink;
        EXPECT_EQ(c.result, Erase(c.path, {RandomPass()}, sink));
        if (c.logsPath) {
            EXPECT_EQ(L"Failed to open file: " + c.path, sink.events.back());
        }
        const std::wstring folderPart = c.path.substr(0, c.path.find_last_of(L'\\') + 1);
        for (const std::wstring& written : fake.WrittenPaths()) {  // the file, under its own or a scrambled name
            EXPECT_TRUE(written == c.path || (written.substr(0, folderPart.size()) == folderPart &&
                                              IsScrambledName(written.substr(folderPart.size()))));
        }
        EXPECT_LEDGER_BALANCED(fake);
    }
    CloseHandle(other);
    EXPECT_EQ(Ramp(10), ReadAll(held));
    RemoveDirectoryW(longFolder.c_str());
}

TEST(FormatText, CutsAnOverlongTextAtAWholeCharacter)
{
    wchar_t buffer[8];
    EXPECT_STREQ(L"abcd\U0001F600", FormatText(buffer, 7, L"ab%ls", L"cd\U0001F600"));
    EXPECT_STREQ(L"abcd", FormatText(buffer, 6, L"ab%ls", L"cd\U0001F600"));
    EXPECT_STREQ(L"ab", FormatText(buffer, 3, L"ab%d", 12345));
}
