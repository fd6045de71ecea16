// The erase job and folder removal over real files and folders, watched by a
// window that records every report.
#include "methods/erase_methods.h"
#include "os/verbatim_path.h"
#include "tests/jobs/job_window.h"
#include "tests/support/fake_os.h"
#include "tests/support/temp_folder.h"

#include <algorithm>
#include <memory>

namespace {

using Texts = std::vector<std::wstring>;

// Reports one text; returns Canceled when stopped, else Success, deleting the file as the engine does.
EraseResult StoppableMethod(const wchar_t* path, ProgressFn, LogFn log, void* context, const StopFlag* stop, bool)
{
    log(L"Working.", context);
    if (stop->load()) return EraseResult::Canceled;
    return DeleteFileW(path) ? EraseResult::Success : EraseResult::DeleteFailed;
}

// Returns every entry below `folder`, as paths relative to it, parents before children.
Texts Tree(const std::wstring& folder, const std::wstring& prefix = L"")
{
    Texts entries;
    for (const std::wstring& name : NamesIn(prefix.empty() ? folder : folder + L"\\" + prefix)) {
        entries.push_back(prefix.empty() ? name : prefix + L"\\" + name);
        for (const std::wstring& below : Tree(folder, entries.back())) entries.push_back(below);
    }
    return entries;
}

// Another process that holds a file open as indexers and viewers do: reading,
// and letting others read and delete it, but not write it.
struct HeldOpen {
    PROCESS_INFORMATION process = {};

    explicit HeldOpen(const std::wstring& path)
    {
        wchar_t tests[MAX_PATH];
        GetModuleFileNameW(nullptr, tests, MAX_PATH);
        const std::wstring event = L"TarnwickHeld" + std::to_wstring(GetCurrentProcessId()), folder = tests;
        std::wstring command = L"\"" + folder.substr(0, folder.find_last_of(L'\\')) + L"\\hold_file.exe\" \"" + path + L"\" " + event;
        HANDLE held = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
        const HANDLE either[] = {held, process.hProcess};
        EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(2, either, FALSE, 60000)) << "hold_file.exe did not hold the file open";
        CloseHandle(held);
    }
    ~HeldOpen()
    {
        TerminateProcess(process.hProcess, 0);
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
};

}  // namespace

// Three files and a dropped folder with a subfolder. The rows tell what became
// of each item; a file nothing was written to keeps its name and bytes, one
// whose pass did not reach the disk (its flush failed) keeps its random name.
TEST(FileEraseJob, StopsAtAFailedOrStoppedItemAndNamesAFolderThatStays)
{
    const struct { EraseMethodFn method; bool hold, stop, late; int flushFails; bool verify; int32_t outcome; const wchar_t* second; Texts left; } cases[] = {
        {EraseZeroFill, false, false, false, 0, false, 0, L"Done", {}},
        {EraseZeroFill, true, false, false, 0, false, 2, L"Open Failed", {L"D", L"D\\sub", L"f1", L"f2"}},
        {StoppableMethod, false, true, false, 0, false, 1, L"Canceled", {L"D", L"D\\sub", L"f1", L"f2"}},
        {EraseZeroFill, false, false, true, 0, false, 3, L"Done", {L"D", L"D\\sub", L"D\\sub\\late.txt"}},
        // The second file's first and last pass of three, read back or not.
        {EraseHmgIs5, false, false, false, 4, false, 2, L"Write Failed", {L"?", L"D", L"D\\sub", L"f2"}},
        {EraseHmgIs5, false, false, false, 4, true, 2, L"Write Failed", {L"?", L"D", L"D\\sub", L"f2"}},
        {EraseHmgIs5, false, false, false, 6, false, 2, L"Write Failed", {L"?", L"D", L"D\\sub", L"f2"}},
        {EraseHmgIs5, false, false, false, 6, true, 2, L"Write Failed", {L"?", L"D", L"D\\sub", L"f2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.outcome << " " << c.second << " flush " << c.flushFails << " verify " << c.verify);
        TempFolder temp;
        std::vector<EraseItem> items;
        for (uint8_t i = 0; i < 3; ++i) items.push_back({i, temp.File(L"f" + std::to_wstring(i), Ramp(5000, i))});
        const Texts folders = {temp.Folder(L"D"), temp.Folder(L"D\\sub")};
        if (c.late) temp.File(L"D\\sub\\late.txt", Ramp(10));  // written there after the drop
        auto held = c.hold ? std::make_unique<HeldOpen>(items[1].path) : nullptr;
        FakeOs fake;
        if (c.flushFails) fake.FailNthCall(OsFn::FlushFileBuffers, c.flushFails);
        verifyReadBack = c.verify;
        JobWindow window;
        window.onReport = [&c](const WindowReport& r) { c.stop && r.first == 1 ? stopRequested.store(1) : void(); };
        EXPECT_EQ(c.outcome, window.Run([&] { FileEraseJob(c.method, items, folders); }));
        held.reset();
        const bool allDone = c.outcome == 0 || c.outcome == 3;
        EXPECT_EQ((Texts{L"Done", c.second, allDone ? L"Done" : L""}),
                  (Texts{window.LastStatus(0), window.LastStatus(1), window.LastStatus(2)}));
        Texts left = Tree(temp.path());
        for (std::wstring& entry : left) entry = IsScrambledName(entry) ? L"?" : entry;
        std::sort(left.begin(), left.end());
        EXPECT_EQ(c.left, left);
        if (!c.flushFails) {
            EXPECT_EQ(allDone ? Ramp(c.late ? 10 : 0) : Ramp(5000, 1), ReadAll(c.late ? temp / L"D\\sub\\late.txt" : items[1].path));
        }
        EXPECT_EQ(c.late ? L"Folder not removed (not empty): " + folders[1] : L"", window.LastStatus(-1));
    }
    verifyReadBack = 0;
}

// Win32 path parsing would take "a." for "a", "b " for "b", "nul.txt" and "com1" for devices.
TEST(FileEraseJob, ErasesExactlyTheNamedFilesAndFolder)
{
    TempFolder temp;
    const Texts kept = {L"a", L"b", L"dir\\x"}, erased = {L"a.", L"b ", L"nul.txt", L"com1", L"con.log", L"dir.\\x.", L"dir.\\aux"};
    std::vector<EraseItem> items;
    for (const std::wstring& name : kept) temp.File(name, Ramp(5000));
    for (const std::wstring& name : erased) items.push_back({static_cast<int32_t>(items.size()), temp.File(name, Ramp(300))});
    JobWindow window;
    EXPECT_EQ(0, window.Run([&] { FileEraseJob(EraseRandom, items, {temp / L"dir."}); }));
    EXPECT_EQ((Texts{L"a", L"b", L"dir", L"dir\\x"}), Tree(temp.path()));
    for (const std::wstring& name : kept) EXPECT_EQ(Ramp(5000), ReadAll(temp / name));
}

// In the manner of SQLite's I/O-error tests: the Nth call through the seam
// fails, for N = 1, 2, ... until a run meets no failure.
TEST(FileEraseJob, EveryFailedSeamCallEndsInOneTrueOutcomeAndReleasesEverything)
{
    verifyReadBack = 1;
    for (int n = 1;; ++n) {
        SCOPED_TRACE(n);
        TempFolder temp;
        const std::vector<EraseItem> items = {{0, temp.File(L"D\\a.bin", Ramp(3000))}, {1, temp.File(L"D\\sub\\b.bin", Ramp(70000))}};
        FakeOs fake;
        fake.FailNthCallOfAny(n);
        JobWindow window;
        const int32_t outcome = window.Run([&] { FileEraseJob(EraseRandom, items, {temp / L"D", temp / L"D\\sub"}); });
        EXPECT_LEDGER_BALANCED(fake);
        const Texts left = Tree(temp.path());
        EXPECT_TRUE(outcome != 0 || left.empty()) << "Completed with something left";
        // A random name stays only on a file the run began to overwrite, or where a rename back failed and the status says so.
        const bool writing = OverwritingBegan(fake, {VerbatimPath(items[0].path), VerbatimPath(items[1].path)});
        const std::vector<OsCallRecord> moves = fake.CallsOf(OsFn::MoveFileW);
        const bool stuck = std::any_of(moves.begin(), moves.end(), [](const OsCallRecord& m) { return m.injected; });
        for (const std::wstring& entry : left) {
            const std::wstring name = entry.substr(entry.find_last_of(L'\\') + 1);
            const bool said = std::any_of(window.reports.begin(), window.reports.end(),
                                          [&](const WindowReport& r) { return r.text.find(name) != std::wstring::npos; });
            const bool file = !(GetFileAttributesW((temp / entry).c_str()) & FILE_ATTRIBUTE_DIRECTORY);
            EXPECT_TRUE(!IsScrambledName(name) || (file && writing) || (stuck && said)) << entry;
        }
        if (!fake.InjectionFired()) break;
    }
    verifyReadBack = 0;
}

// Two files in each of two folders: each folder is asked for its cluster once. However the progress shown is
// coalesced, every text comes in order and each row shows its own last percent, 100, before its method's last text.
TEST(FileEraseJob, AsksEachFolderForItsClusterOnceAndShowsEveryTextInOrder)
{
    TempFolder temp;
    FakeOs fake;
    std::vector<EraseItem> items;
    for (int32_t i = 0; i < 4; ++i) items.push_back({i, temp.File(std::wstring(i < 2 ? L"A\\" : L"B\\") + L"f" + std::to_wstring(i), Ramp(9000))});
    verifyReadBack = 0;
    JobWindow window;
    EXPECT_EQ(0, window.Run([&] { FileEraseJob(EraseGost, items, {}); }));
    EXPECT_EQ(2, fake.Calls(OsFn::GetDiskFreeSpaceW));
    const Texts row = {L"File name scrambled.", L"Extended +3288 bytes for slack space coverage.", L"Pass 1/2: Overwrite with 0x00...",
                       L"Pass 2/2: Random overwrite...", L"%100", L"Done"};
    size_t texts = 0;
    int32_t percent = -1;  // the last percent shown since the last row's word
    for (const WindowReport& r : window.reports) {
        if (r.message == WM_APP_PROGRESS) percent = r.first;
        if (r.message == WM_APP_STATUS) { EXPECT_EQ(row[texts++ % 6], r.text.find(L"successfully") == std::wstring::npos ? r.text : L"%" + std::to_wstring(std::exchange(percent, -1))); }
    }
    EXPECT_EQ(4 * row.size(), texts);
}
