// The erase job and folder removal over real files and folders, watched by a
// window that records every report.
#include "methods/erase_methods.h"
#include "os/verbatim_path.h"
#include "tests/jobs/job_window.h"
#include "tests/support/fake_os.h"
#include "tests/support/temp_folder.h"

#include <algorithm>
#include <map>
#include <set>

using Texts = std::vector<std::wstring>;

// Three files (the second grown since it was listed at 100 bytes, the third empty) and a dropped folder with a
// subfolder, erased with a method of three passes, read back. The rows tell what became of each item; a file nothing
// was written to keeps its name and bytes; a subfolder that leads elsewhere when its turn comes stays. The job's progress only grows, to 100 % when all is done: each file
// weighs its listed size to its cluster's end, three times written and read, and a fixed 256 KiB.
TEST(FileEraseJob, StopsAtAFailedItemAndNamesAFolderThatStays)
{
    enum Twist { None, Held, LateFile, Junction };
    const struct { Twist twist; int32_t outcome; Texts statuses; Texts left; int32_t progress; const wchar_t* folderText; } cases[] = {
        {None, 0, {L"Done", L"Done", L"Done"}, {}, 10000, L""},
        {Held, 2, {L"Done", L"Open Failed", L""}, {L"D", L"D\\sub", L"f1", L"f2"}, 6952, L""},  // (311,296 + 286,720) of 860,160
        {LateFile, 3, {L"Done", L"Done", L"Done"}, {L"D", L"D\\sub", L"D\\sub\\late.txt"}, 10000, L"Folder not removed (not empty): "},
        {Junction, 3, {L"Done", L"Done", L"Done"}, {L"D", L"D\\sub"}, 10000,
         L"Folder not removed (a link or junction is now in its place or on the way): "},
    };
    verifyReadBack = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.twist);
        TempFolder temp;
        std::vector<EraseItem> items;
        for (uint8_t i = 0; i < 3; ++i) items.push_back({i, temp.File(L"f" + std::to_wstring(i), Ramp(i < 2 ? 5000 : 0, i)), i ? 100u * (i == 1) : 5000u});
        const Texts folders = {temp.Folder(L"D"), temp.Folder(L"D\\sub")};
        if (c.twist == LateFile) temp.File(L"D\\sub\\late.txt", Ramp(10));  // written there after the drop
        // Held as indexers and viewers hold files: reading, letting others read and delete it, but not write it.
        const HANDLE held = c.twist == Held ? CreateFileW(items[1].path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                                          nullptr, OPEN_EXISTING, 0, nullptr) : nullptr;
        FakeOs fake;
        if (c.twist == Junction) fake.hooks.GetFinalPathNameByHandleW = [](HANDLE h, LPWSTR to, DWORD n, DWORD f) {  // D\sub leads to E\sub now
            const DWORD got = RealOsCalls().GetFinalPathNameByHandleW(h, to, n, f);
            if (wchar_t* at = wcsstr(to, L"\\D\\sub")) at[1] = L'E';
            return got;
        };
        JobWindow window;
        EXPECT_EQ(c.outcome, window.Run([&] { FileEraseJob(EraseHmgIs5, items, folders); }));
        if (held) CloseHandle(held);
        EXPECT_EQ(c.statuses, (Texts{window.LastStatus(0), window.LastStatus(1), window.LastStatus(2)}));
        Texts left = temp.Tree();
        for (std::wstring& entry : left) entry = IsRandomName(entry) ? L"?" : entry;
        std::sort(left.begin(), left.end());
        EXPECT_EQ(c.left, left);
        EXPECT_TRUE(c.twist != Held || ReadAll(items[1].path) == Ramp(5000, 1)) << "the held file lost its bytes";
        EXPECT_EQ(*c.folderText ? c.folderText + folders[1] : L"", window.LastStatus(-1));
        std::vector<int32_t> progress;
        for (const WindowReport& r : window.reports) if (r.message == WM_APP_JOB_PROGRESS) progress.push_back(r.first);
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()) && progress.back() == c.progress) << progress.back();
    }
    verifyReadBack = 0;
}

// Win32 path parsing would take "a." for "a", "b " for "b", "nul.txt" and "com1" for devices; "nul.txt" is read-only,
// which the erase must clear before it writes. The files lie in
// two folders, each asked for its cluster once; however the progress shown is coalesced, each row shows its
// own last percent, 100, right before its method's last text (two passes, so that it changes within a row).
// With the clock standing still, reports wait for the job's end, but those of an item that has run for longer
// than the wait, as row 3 has once it is renamed, go as they come.
TEST(FileEraseJob, ErasesExactlyTheNamedFilesAndFolderAskingEachFolderOnce)
{
    static std::atomic<ULONGLONG> now{1000};
    TempFolder temp;
    const Texts kept = {L"a", L"b", L"dir\\x"}, erased = {L"a.", L"b ", L"nul.txt", L"com1", L"con.log", L"dir.\\x.", L"dir.\\aux"};
    std::vector<EraseItem> items;
    for (const std::wstring& name : kept) temp.File(name, Ramp(5000));
    for (const std::wstring& name : erased) items.push_back({static_cast<int32_t>(items.size()), temp.File(name, Ramp(300))});
    SetFileAttributesW(VerbatimPath(items[2].path).c_str(), FILE_ATTRIBUTE_READONLY);
    FakeOs fake;
    fake.hooks.CreateFileW = [](LPCWSTR p, DWORD a, DWORD s, LPSECURITY_ATTRIBUTES sa, DWORD d, DWORD f, HANDLE t) {  // as on Windows, even for root
        const DWORD attributes = GetFileAttributesW(p);
        if ((a & GENERIC_WRITE) && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return SetLastError(ERROR_ACCESS_DENIED), INVALID_HANDLE_VALUE;
        return RealOsCalls().CreateFileW(p, a, s, sa, d, f, t);
    };
    os.GetTickCount64 = [] { return now.load(); };
    fake.hooks.SetFileInformationByHandle = [](HANDLE h, FILE_INFO_BY_HANDLE_CLASS c, LPVOID info, DWORD n) {
        wchar_t path[MAX_PATH] = {};
        RealOsCalls().GetFinalPathNameByHandleW(h, path, MAX_PATH, 0);
        return now += c == FileRenameInfo && std::wstring_view(path).ends_with(L"\\com1") ? 50 : 0, RealOsCalls().SetFileInformationByHandle(h, c, info, n);
    };
    JobWindow window;
    EXPECT_EQ(0, window.Run([&] { FileEraseJob(EraseGost, items, {temp / L"dir."}); }));
    EXPECT_EQ((Texts{L"a", L"b", L"dir", L"dir\\x"}), temp.Tree());
    for (const std::wstring& name : kept) EXPECT_EQ(Ramp(5000), ReadAll(temp / name));
    EXPECT_EQ(2, fake.Calls(OsFn::GetDiskFreeSpaceW));
    int32_t percent = -1, finished = 0;  // the last percent shown since the last row's last text
    for (const WindowReport& r : window.reports) {
        if (r.message == WM_APP_PROGRESS) percent = r.first;
        if (r.message == WM_APP_STATUS && r.text.starts_with(L"File successfully")) {
            EXPECT_EQ(100, std::exchange(percent, -1)) << "row " << r.first;
            ++finished;
        }
    }
    EXPECT_EQ(7, finished);
    std::map<int, int> inSend;  // reports per send
    for (const WindowReport& r : window.reports) inSend[r.send] += r.message != WM_APP_JOB_PROGRESS;
    int row3 = 0;
    for (const WindowReport& r : window.reports) {
        const bool status = r.message == WM_APP_STATUS;
        EXPECT_TRUE(!(status && r.first == 3 && ++row3 > 1) || inSend[r.send] <= 2) << "row 3 text " << row3;  // alone or with its percent
        EXPECT_TRUE(!(status && r.first >= 4) || r.send == window.reports.back().send - 1) << "row " << r.first;
    }
}

// In the manner of SQLite's I/O-error tests: a whole job (three passes, read back) over a file below one
// cluster with a named stream, both zeroed in place, and one over two chunks, with the Nth call through the
// seam failing, for N = 1, 2, ... until a run meets no failure.
TEST(FileEraseJob, EveryFailedSeamCallEndsInOneTrueOutcomeAndReleasesEverything)
{
    verifyReadBack = 1;
    std::set<std::wstring> seen;
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        TempFolder temp;
        const std::vector<EraseItem> items = {{0, temp.File(L"D\\a.bin", Ramp(3000))}, {1, temp.File(L"D\\sub\\b.bin", Ramp(70000))}};
        FakeOs fake;
        fake.ScriptStreams({{L"::$DATA", {}}, {L":Zone.Identifier:$DATA", Ramp(26)}}, L"a.bin");
        fake.EmulateUnbufferedReads();
        fake.FailNthCall(OsFn::Any, n);
        JobWindow window;
        const int32_t outcome = window.Run([&] { FileEraseJob(EraseDod3Pass, items, {temp / L"D", temp / L"D\\sub"}); });
        EXPECT_LEDGER_BALANCED(fake);
        const Texts left = temp.Tree();
        EXPECT_TRUE(outcome != 0 || left.empty()) << "Completed with something left";
        // A random name stays only on the file being erased once writing to it began (a write, or an open for writing
        // under another name than the given ones: a named stream), or where a rename back failed; a file only lengthened
        // is untouched. The window names every file or folder so left.
        const std::vector<OsCallRecord> log = fake.CallLog();
        const auto lastGone = std::find_if(log.rbegin(), log.rend(), [](auto& c) { return c.fn == OsFn::DeleteFileW && c.ok; }).base();
        const bool writing = std::any_of(lastGone, log.end(), [&](const OsCallRecord& c) {
            return c.fn == OsFn::WriteFile || (c.fn == OsFn::CreateFileW && c.ok && (c.number & GENERIC_WRITE) &&
                                               c.path != VerbatimPath(items[0].path) && c.path != VerbatimPath(items[1].path));
        });
        const bool stuck = std::any_of(log.begin(), log.end(), [](auto& c) { return c.fn == OsFn::SetFileInformationByHandle && c.number == FileRenameInfo && c.injected; });
        for (const std::wstring& entry : left) {
            const std::wstring name = entry.substr(entry.find_last_of(L'\\') + 1);
            const bool said = std::any_of(window.reports.begin(), window.reports.end(),
                                          [&](const WindowReport& r) { return r.text.find(name) != std::wstring::npos; });
            const bool file = !(GetFileAttributesW((temp / entry).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
            EXPECT_TRUE(!IsRandomName(name) || (said && ((file && writing) || stuck))) << entry;
        }
        for (int32_t row : {0, 1}) seen.insert(window.LastStatus(row).substr(0, window.LastStatus(row).find(L';')));
        if (!fake.InjectionFired()) break;
    }
    // Every way an erase can end was reached by some failure, and no other: a path whose end cannot be told is refused.
    EXPECT_EQ((std::set<std::wstring>{L"", L"Done", L"Verify Failed", L"Open Failed", L"Write Failed", L"Delete Failed", L"Refused", L"Error"}), seen);
    verifyReadBack = 0;
}

