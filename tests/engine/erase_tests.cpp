// What the engine writes, in what order, and what it reports, over real files with the OS seam
// observed and faulted; and what each erase method writes through it.
#include "engine/pass.h"
#include "engine/secure_erase.h"
#include "methods/erase_methods.h"
#include "os/verbatim_path.h"
#include "tests/support/fake_os.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Texts = std::vector<std::wstring>;
const wchar_t kDone[] = L"File successfully overwritten (DoD 5220.22-M, 3-pass) and deleted.";
const wchar_t kRefusal[] = L"Refusing to process reparse point (symbolic link / junction).";
StopFlag stop{0};

PassSpec Fixed(uint8_t value) { return PassSpec{PassKind::FixedByte, value, {}}; }
PassSpec Pattern(std::vector<uint8_t> bytes) { return PassSpec{PassKind::Pattern, 0, std::move(bytes)}; }
const PassSpec R = PassSpec{PassKind::Random, 0, {}};

// Records each text the engine reports, and each percent as "%NN".
intptr_t RecordProgress(int32_t percent, void* events) { return static_cast<Texts*>(events)->push_back(L"%" + std::to_wstring(percent)), 0; }
intptr_t RecordLog(const wchar_t* text, void* events) { return static_cast<Texts*>(events)->push_back(text), 0; }

// Erases `path` with `passes`; returns the result and appends what was reported to `events`.
EraseResult Erase(const std::wstring& path, PassList passes, Texts& events)
{
    stop = 0;
    return SecureEraseFile(path.c_str(), std::move(passes), kDone, RecordProgress, RecordLog, &events, &stop, false);
}

// Returns the bytes `passes` write over `size` bytes, pass after pass, when the file's stream is `rng`.
std::vector<uint8_t> ExpectedBytes(const PassList& passes, size_t size, EraseRng rng)
{
    std::vector<uint8_t> bytes(passes.size() * size);
    for (size_t at = 0; at < bytes.size(); at += size) {
        uint64_t cursor = 0;
        FillPassBuffer(bytes.data() + at, size, passes[at / size], cursor, rng, ByteDistribution());
    }
    return bytes;
}

// Makes `fake` append every byte written to `written`, in order, while the writes still reach the file.
void CaptureWrites(FakeOs& fake, std::vector<uint8_t>& written)
{
    fake.hooks.WriteFile = [&written](HANDLE h, LPCVOID b, DWORD n, LPDWORD d, LPOVERLAPPED o) {
        written.insert(written.end(), static_cast<const uint8_t*>(b), static_cast<const uint8_t*>(b) + n);
        return RealOsCalls().WriteFile(h, b, n, d, o);
    };
}

}  // namespace

TEST(SecureEraseFile, TheDodExampleInOrderEachPassFlushedAndReadBackUnderAFullAlphabetName)
{
    verifyReadBack = 1;
    TempFolder folder;
    FakeOs fake;
    fake.ScriptStreams({{L"::$DATA", {}}, {L":Zone.Identifier:$DATA", Ramp(26)}});
    // Seed 5489, then the name: each byte modulo 62 into a-z, A-Z, 0-9.
    fake.ScriptRandom({0x71, 0x15, 0, 0, 0, 0, 0, 0, 0, 25, 26, 51, 52, 61, 62, 123, 124, 185, 186, 247, 248, 255, 9, 60});
    std::vector<uint8_t> written;
    CaptureWrites(fake, written);
    wchar_t deleted[MAX_PATH] = {};
    std::vector<int64_t> changes;  // what was changed through the handle, in order
    fake.hooks.SetFileInformationByHandle = [&](HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID info, DWORD n) {
        if (c == FileDispositionInfo) RealOsCalls().GetFinalPathNameByHandleW(h, deleted, MAX_PATH, 0);
        return changes.push_back(c), RealOsCalls().SetFileInformationByHandle(h, c, info, n);
    };
    Texts events;
    EXPECT_EQ(EraseResult::Success, Erase(folder.File(L"report.docx", Ramp(5000)), {Fixed(0x5A), Fixed(0xA5), R}, events));
    EXPECT_EQ((Texts{
                  L"File name scrambled.", L"Overwriting ADS :Zone.Identifier (26 bytes)...",
                  L"Extended +3192 bytes for slack space coverage.", L"Pass 1/3: Overwrite with 0x5A...", L"%33",
                  L"Verifying pass 1/3 (disk read-back)...", L"Pass 2/3: Overwrite with 0xA5...", L"%66",
                  L"Verifying pass 2/3 (disk read-back)...", L"Pass 3/3: Random overwrite...", L"%100",
                  L"Verifying pass 3/3 (disk read-back)...", kDone}),
              events);
    EXPECT_TRUE(std::wstring_view(deleted).ends_with(L"\\azAZ09a9a9a9ahj8")) << deleted;
    // Renamed, lengthened and deleted through the handle it was checked by, never by a path.
    EXPECT_EQ((std::vector<int64_t>{FileRenameInfo, FileRenameInfo, FileEndOfFileInfo, FileDispositionInfo}), changes);
    EXPECT_EQ(0, fake.Calls(OsFn::DeleteFileW));
    // A pass that stays in the cache is overwritten there by the next: each is flushed, then read back.
    std::wstring order;  // of the main stream's writes, flushes and reads, runs folded
    for (const OsCallRecord& call : fake.CallLog()) {
        const wchar_t letter = call.fn == OsFn::WriteFile ? L'W' : call.fn == OsFn::FlushFileBuffers ? L'F' : call.fn == OsFn::ReadFile ? L'R' : 0;
        if (letter && call.ok && call.path.find(L':', 6) == std::wstring::npos && !order.ends_with(letter)) order += letter;
    }
    EXPECT_EQ(L"WFRWFRWFR", order);
    EraseRng rng(5489);
    rng.discard(26);  // the stream's random pass draws before the file's
    EXPECT_TRUE(std::equal(written.end() - 8192, written.end(), ExpectedBytes({R}, 8192, rng).begin()));
    EXPECT_TRUE(folder.Tree().empty());
}

// Three passes over a 5,000-byte file: each pass is one write, one flush and, verified, one read.
TEST(SecureEraseFile, NoFailureOrShortTransferIsTakenForSuccess)
{
    const struct {
        const char* name;
        bool verify;
        std::function<void(FakeOs&)> arrange;
        EraseResult result;
        std::wstring message;
        Texts left;  // the file's name afterwards: its own or "?" for a scrambled one
    } cases[] = {
        {"a link named by the path", true, [](FakeOs& f) {  // as its handle reports it
             f.hooks.GetFileInformationByHandleEx = [](HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID info, DWORD n) {
                 const BOOL ok = RealOsCalls().GetFileInformationByHandleEx(h, c, info, n);
                 return c == FileAttributeTagInfo ? static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT, ok : ok;
             };
         }, EraseResult::Refused, kRefusal, {L"f.bin"}},
        {"a folder on the way became a junction", true, [](FakeOs& f) {
             f.hooks.GetFinalPathNameByHandleW = [](HANDLE, LPWSTR to, DWORD n, DWORD) { return wcsncpy_s(to, n, L"\\\\?\\D:\\x\\f.bin", _TRUNCATE), static_cast<DWORD>(wcslen(to)); };
         }, EraseResult::Refused, L"Refusing to follow the path: a folder on the way has become a link or junction, and it now leads to D:\\x\\f.bin.", {L"f.bin"}},
        {"the path leads to the file under a name one space longer", true, [](FakeOs& f) {  // as "dir." would, a junction to "dir"
             f.hooks.GetFinalPathNameByHandleW = [](HANDLE h, LPWSTR to, DWORD n, DWORD flags) {
                 const std::wstring real(to, RealOsCalls().GetFinalPathNameByHandleW(h, to, n, flags));
                 return CreateHardLinkW((real + L" ").c_str(), real.c_str(), nullptr), wcscat_s(to, n, L" "), static_cast<DWORD>(real.size() + 1);
             };
         }, EraseResult::Refused, L"Refusing to follow the path: a folder on the way has become a link or junction, and it now leads to ", {L"f.bin", L"f.bin "}},
        {"the first write after the lengthening fails", false, [](FakeOs& f) { f.FailNthCall(OsFn::WriteFile, 1); },
         EraseResult::WriteFailed, L"Original file name restored.", {L"f.bin"}},
        {"read-back differs", true, [](FakeOs& f) {
             f.hooks.ReadFile = [](auto h, LPVOID b, DWORD n, auto d, auto o) { BOOL ok = RealOsCalls().ReadFile(h, b, n, d, o); return static_cast<uint8_t*>(b)[n - 1] ^= 0x80, ok; };
         }, EraseResult::VerifyFailed, L"VERIFICATION FAILED: disk content does not match expected overwrite pattern.", {L"?"}},
        {"partial sector left unlengthened", true, [](FakeOs& f) { f.FailNthCall(OsFn::GetDiskFreeSpaceW, 1), f.EmulateUnbufferedReads(512); },
         EraseResult::Success, kDone, {}},
        {"flush of pass 1 fails", false, [](FakeOs& f) { f.FailNthCall(OsFn::FlushFileBuffers, 1); },
         EraseResult::WriteFailed, L"Failed during overwrite pass.", {L"?"}},
        // Success with fewer bytes moved, as from a full disk or a dropped share.
        {"the second write moves fewer bytes", false, [](FakeOs& f) {
             f.hooks.WriteFile = [n = 0](auto h, auto b, DWORD c, auto d, auto o) mutable { return RealOsCalls().WriteFile(h, b, ++n == 2 ? 4096 : c, d, o); };
         }, EraseResult::WriteFailed, L"Failed during overwrite pass.", {L"?"}},
        {"reads move fewer bytes, buffered too", true, [](FakeOs& f) {
             f.hooks.ReadFile = [](auto h, auto b, DWORD c, auto d, auto o) { return RealOsCalls().ReadFile(h, b, std::min<DWORD>(c, 512), d, o); };
         }, EraseResult::VerifyFailed, L"Verification: read error during read-back.", {L"?"}},
        {"a named stream that is there cannot be opened", false, [](FakeOs& f) {
             f.ScriptStreams({{L":Zone.Identifier:$DATA", Ramp(5000)}});
             f.FailNthCall(OsFn::CreateFileW, 2, ERROR_SHARING_VIOLATION);  // measured before the rename,
             f.FailNthCall(OsFn::CreateFileW, 3, ERROR_SHARING_VIOLATION);  // opened after it
         }, EraseResult::WriteFailed, L"Original file name restored.", {L"f.bin"}},
        {"stop after pass 1", false, [](FakeOs& f) { f.hooks.FlushFileBuffers = [](HANDLE) { return stop.store(1), TRUE; }; },
         EraseResult::Canceled, L"Operation canceled by user.", {L"?"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        verifyReadBack = c.verify;
        TempFolder folder;
        FakeOs fake;
        c.arrange(fake);
        Texts events;
        EXPECT_EQ(c.result, Erase(folder.File(L"f.bin", Ramp(5000)), {Fixed(0x11), Fixed(0x77), Fixed(0x22)}, events));
        EXPECT_TRUE(events.back().starts_with(c.message)) << events.back();
        Texts left = folder.Tree();
        for (std::wstring& name : left) name = IsRandomName(name) ? L"?" : name;
        EXPECT_EQ(c.left, left);
        EXPECT_TRUE(c.left != Texts{L"f.bin"} || ReadAll(folder / L"f.bin") == Ramp(5000)) << "not as the user left it";
        EXPECT_LEDGER_BALANCED(fake);
        const std::vector<OsCallRecord> reads = fake.CallLog(OsFn::ReadFile);
        EXPECT_EQ(c.result == EraseResult::Success ? 3 : 0,  // one unbuffered try per verified pass
                  std::count_if(reads.begin(), reads.end(), [](const OsCallRecord& read) { return !read.ok; }));
    }
}

// A random pass over more than 4 MiB has its bytes made on a second thread, and so has its read-back, and one
// of 32 MiB is also flushed behind its writes: the bytes, their replay and the engine left for the next pass stay
// those of one thread; a pass cut short still ends, and a stop is seen at the next 64 KiB, not at the pass's end;
// without a thread the pass makes its own bytes; a failed flush behind it fails it.
TEST(SecureEraseFile, ALongPassWritesTheSameBytesWithItsHelperThreadsOrWithout)
{
    using Case = std::tuple<size_t, std::function<void(FakeOs&)>, EraseResult, size_t>;  // the last: bytes written
    constexpr size_t kLong = (4 << 20) + 4096;
    verifyReadBack = 1;
    for (const auto& [size, arrange, result, bytes] : {
             Case{kLong, [](FakeOs&) {}, EraseResult::Success, 2 * kLong},
             Case{kLong, [](FakeOs& f) { f.FailNthCall(OsFn::WriteFile, 5); }, EraseResult::WriteFailed, 4 * 65536},
             Case{kLong, [](FakeOs& f) { f.hooks.WriteFile = [write = f.hooks.WriteFile, n = 0](auto... a) mutable { return stop = ++n == 3, write(a...); }; },
                  EraseResult::Canceled, 3 * 65536},
             Case{32 << 20, [](FakeOs& f) { f.FailNthCall(OsFn::StartThread, 1), f.FailNthCall(OsFn::FlushFileBuffers, 1); },
                  EraseResult::WriteFailed, 32 << 20}}) {
        TempFolder folder;
        FakeOs fake;
        fake.ScriptRandom({0x71, 0x15, 0, 0, 0, 0, 0, 0});  // seed 5489
        std::vector<uint8_t> written;
        CaptureWrites(fake, written);
        arrange(fake);
        stop = 0;
        EXPECT_EQ(result, SecureEraseFile(folder.File(L"big", Ramp(size)).c_str(), {R, R}, nullptr, nullptr, nullptr, nullptr, &stop, false));
        EXPECT_EQ(result == EraseResult::Success ? 4 : 1 + (size == 32 << 20), fake.Calls(OsFn::StartThread)) << size;  // writes and read-backs
        EXPECT_EQ(bytes, written.size());
        EXPECT_TRUE(std::equal(written.begin(), written.end(), ExpectedBytes({R, R}, size, EraseRng(5489)).begin()));
    }
}

namespace {

using Sequence = std::vector<uint8_t>;
constexpr size_t kSize = 3 * 65536;
const uint64_t kSeed = 0x6363636363636363ULL;  // what eight 0x63 bytes seed
const std::vector<Sequence> kPublished = {
    {0x55}, {0xAA}, {0x92, 0x49, 0x24}, {0x49, 0x24, 0x92}, {0x24, 0x92, 0x49}, {0x00}, {0x11}, {0x22}, {0x33},
    {0x44}, {0x55}, {0x66}, {0x77}, {0x88}, {0x99}, {0xAA}, {0xBB}, {0xCC}, {0xDD}, {0xEE}, {0xFF},
    {0x92, 0x49, 0x24}, {0x49, 0x24, 0x92}, {0x24, 0x92, 0x49}, {0x6D, 0xB6, 0xDB}, {0xB6, 0xDB, 0x6D}, {0xDB, 0x6D, 0xB6},
};

// Returns a Gutmann erase's passes: `middle`, with four random passes on each side.
std::vector<PassSpec> GutmannPasses(const std::vector<Sequence>& middle)
{
    std::vector<PassSpec> passes(4, R);
    for (const Sequence& bytes : middle) passes.push_back(bytes.size() == 1 ? Fixed(bytes[0]) : Pattern(bytes));
    passes.insert(passes.end(), 4, R);
    return passes;
}

}  // namespace

// Each method is judged by what the engine writes over a real file of three whole 64 KiB chunks (nothing
// lengthened or zeroed first), so a pattern must run on across chunk ends that are no multiple of its period.
// A method whose own draw (DoD's bytes, any of Gutmann's shuffle draws) fails must not touch the file.
TEST(EraseMethodTable, EachRowWritesItsPassesWithTheBytesItDrewAndNothingWhenADrawFails)
{
    verifyReadBack = 0;
    std::vector<Sequence> allZeroOrder(kPublished.begin() + 1, kPublished.end());  // position 1 moves to the end
    allZeroOrder.push_back(kPublished[0]);
    Sequence keepOrder;  // r = i at every step of the shuffle
    for (uint8_t i = 26; i >= 1; --i) keepOrder.insert(keepOrder.end(), {i, 0, 0, 0});
    const struct { int index; Sequence draws; std::vector<PassSpec> passes; int failedDraw = 0; } rows[] = {
        {0, {}, {R}}, {1, {}, {Fixed(0)}}, {2, {}, {Fixed(0), R}},
        {3, {0x12}, {Fixed(0x12), Fixed(0xED), R}}, {3, {0x00}, {Fixed(0x00), Fixed(0xFF), R}},
        {4, {0x12, 0xA0}, {Fixed(0x12), Fixed(0xED), R, Fixed(0xA0), Fixed(0x5F), R, R}},
        {5, {}, {Fixed(0), Fixed(0xFF), R}}, {6, {}, {Fixed(0xFF), Fixed(0), R, R, R, R, R}},
        {7, {}, {Fixed(0), Fixed(0xFF), Fixed(0), Fixed(0xFF), Fixed(0), Fixed(0xFF), R}},
        {8, keepOrder, GutmannPasses(kPublished)}, {8, Sequence(104, 0), GutmannPasses(allZeroOrder)},
        {3, {}, {}, 1}, {4, {}, {}, 1}, {8, {}, {}, 1}, {8, {}, {}, 26},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.index << " failing draw " << row.failedDraw);
        TempFolder folder;
        FakeOs fake;
        Sequence script = row.draws;
        script.resize(script.size() + 8, 0x63);  // then the engine's seed
        fake.ScriptRandom(script);
        if (row.failedDraw) fake.FailNthCall(OsFn::BCryptGenRandom, row.failedDraw);
        Sequence written;
        CaptureWrites(fake, written);
        stop = 0;
        EXPECT_EQ(row.failedDraw ? EraseResult::Error : EraseResult::Success,
                  SelectEraseMethod(row.index).run(folder.File(L"v.bin", Ramp(kSize)).c_str(), nullptr, nullptr, nullptr, &stop, false));
        EXPECT_TRUE(written == ExpectedBytes(row.passes, kSize, EraseRng(kSeed)));
        EXPECT_EQ(row.failedDraw ? Ramp(kSize) : Sequence(), ReadAll(folder / L"v.bin"));
    }
}
