// The Start and Cancel commands, from the question to the job's final state,
// with real files erased by the real job.
#include "tests/ui/window_test.h"

#include "app/ui_state.h"
#include "engine/erase_types.h"
#include "jobs/job_report.h"
#include "ui/control_ids.h"

#include <algorithm>
#include <thread>

namespace {

const wchar_t kSsdWarning[] =
    L"Warning: one or more files are on a drive reported as SSD-like.\n(Detection is heuristic, based on the "
    L"storage \"seek penalty\" hint; false positives are possible.)\n\nOn SSDs, wear leveling can leave residual "
    L"data in physical cells even after host-side overwrite. For stronger assurance, use ATA/NVMe Sanitize, or "
    L"full-drive encryption (e.g. BitLocker) with key destruction.\n\nProceed with overwrite anyway?";

}  // namespace

using StartCommandTest = WindowTest;

TEST_F(StartCommandTest, StartWithAnEmptyListOnlySaysNoItems)
{
    Click(ui.startButton);
    ExpectLastBox(1, L"No Items", L"Drag and drop the files you want to delete.", MB_OK | MB_ICONINFORMATION);
    EXPECT_EQ(0, fake.Calls(OsFn::StartThread));
    ExpectIdle(L"");
}

TEST_F(StartCommandTest, OneFileOnAnSsdLikeVolumeAsksOnlyTheSsdWarning)
{
    std::wstring ssd = temp.Folder(L"ssd");
    std::vector<std::wstring> files = {temp.File(L"h1.txt"), temp.File(L"h2.txt"), temp.File(L"ssd\\s.txt"),
                                       temp.File(L"h3.txt")};
    volumes.Install(fake, ssd);
    Drop(files);
    stopRequested.exchange(1);
    verifyReadBack.exchange(0);

    Click(ui.startButton);  // declined
    ExpectLastBox(1, L"SSD Warning", kSsdWarning, MB_OKCANCEL | MB_ICONEXCLAMATION);
    EXPECT_EQ(2, ScriptedVolumes::Probes(fake)) << "H:\\ once, then S:\\ ends the scan";
    ExpectIdle(L"");
    EXPECT_EQ(1, stopRequested.load()) << "declining leaves the flags alone";
    EXPECT_EQ(0, verifyReadBack.load());
    EXPECT_EQ(std::vector<std::wstring>(4, L"Ready"), RowTexts(1));

    boxAnswer = IDOK;  // OK on the warning starts the job with no second question
    Click(ui.startButton);
    ExpectLastBox(2, L"SSD Warning", kSsdWarning, MB_OKCANCEL | MB_ICONEXCLAMATION);
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(std::vector<std::wstring>(4, L"Done"), RowTexts(1));
}

TEST_F(StartCommandTest, VolumesWithASeekPenaltyGetTheConfirmationAndEachIsProbedOnce)
{
    std::wstring lost = temp.Folder(L"lost");
    volumes.Install(fake, L"?", lost);
    Drop({temp.File(L"lost\\x.txt"), temp.File(L"a.txt"), temp.File(L"b.txt"), temp.File(L"c.txt")});

    Click(ui.startButton);
    ExpectLastBox(1, L"Confirmation", L"Overwrite and delete the selected files?", MB_OKCANCEL | MB_ICONEXCLAMATION);
    EXPECT_EQ(1, ScriptedVolumes::Probes(fake));
    ExpectIdle(L"");
    EXPECT_EQ(std::vector<std::wstring>(4, L"Ready"), RowTexts(1));
    EXPECT_EQ(0, fake.Calls(OsFn::StartThread));
}

TEST_F(StartCommandTest, ARealEraseDestroysTheFilesAndFoldersAndEndsIdle)
{
    std::wstring one = temp.File(L"one.bin", Ramp(70000));
    std::wstring two = temp.File(L"two.txt", Ramp(10));
    std::wstring tree = temp.Folder(L"tree");
    std::vector<std::wstring> inside = {temp.File(L"tree\\a.txt"), temp.File(L"tree\\sub\\b.txt"),
                                        temp.File(L"tree\\sub\\deeper\\c.txt", {})};
    temp.Folder(L"tree\\empty");
    RecordReports();

    EraseAndWait({one, two, tree});

    EXPECT_EQ(L"Confirmation", Boxes().at(0).path2);
    EXPECT_EQ(std::vector<std::wstring>(5, L"Done"), RowTexts(1));
    for (const std::wstring& path : {one, two, tree, inside[0], inside[1], inside[2]})
        EXPECT_FALSE(PathExists(path)) << Narrow(path);
    ExpectIdle(L"Operation completed successfully.");
    EXPECT_EQ(1, verifyReadBack.load()) << "the check box is ticked by default";
    EXPECT_TRUE(Reported(L"File successfully overwritten (NIST-aligned single-pass random) and deleted."));
    EXPECT_TRUE(Reported(L"Verifying pass 1/1 (disk read-back)..."));
    EXPECT_TRUE(std::any_of(reports.begin(), reports.end(), [](const Report& r) {
        return r.message == WM_APP_PROGRESS && r.row == 0 && r.barPosition == r.percent;
    }));
    EXPECT_LEDGER_BALANCED(fake);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(quitSeen);

    // The rows stay; Start again submits the same (now vanished) paths in the same rows.
    Click(ui.startButton);
    ASSERT_TRUE(WaitForJobEnd());
    std::vector<std::wstring> again = RowTexts(1);
    EXPECT_NE(L"Done", again[0]);
    EXPECT_EQ(std::vector<std::wstring>(4, L"Done"), std::vector<std::wstring>(again.begin() + 1, again.end()));
    ExpectIdle(L"Operation stopped due to error. Check per-item status for details.");
}

TEST_F(StartCommandTest, TheJobRunsTheChosenMethodAndVerifyOption)
{
    std::wstring first = temp.File(L"first.txt");
    SendMessageW(ui.methodCombo, CB_SETCURSEL, 3, 0);
    SendMessageW(ui.verifyCheck, BM_SETCHECK, BST_UNCHECKED, 0);
    RecordReports();
    EraseAndWait({first});
    EXPECT_TRUE(Reported(L"File successfully overwritten (DoD 5220.22-M, 3-pass) and deleted."));
    EXPECT_EQ(0, verifyReadBack.load());
    EXPECT_FALSE(std::any_of(reports.begin(), reports.end(),
                             [](const Report& r) { return r.text.rfind(L"Verifying", 0) == 0; }));

    // No selection at all runs the first method of the table.
    SendMessageW(ui.methodCombo, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    reports.clear();
    EraseAndWait({temp.File(L"second.txt")});
    EXPECT_TRUE(Reported(L"File successfully overwritten (NIST-aligned single-pass random) and deleted."));
}

TEST_F(StartCommandTest, CancelDuringAFileStopsItAndLeavesTheRest)
{
    std::wstring big = temp.File(L"tree\\big.bin", Ramp(1 << 20));
    std::wstring later = temp.File(L"tree\\later.txt");
    ASSERT_TRUE(StartHeldAtFirstWrite({big, later, temp.path() + L"\\tree"}));
    EXPECT_FALSE(IsWindowEnabled(ui.startButton));
    EXPECT_TRUE(IsWindowEnabled(ui.cancelButton));

    Click(ui.cancelButton);
    EXPECT_EQ(L"Stop request received...", StatusLine());
    EXPECT_EQ(1, stopRequested.load());
    gate.Release();
    ASSERT_TRUE(WaitForJobEnd());

    ExpectIdle(L"Operation was canceled.");
    EXPECT_EQ(L"Canceled", RowText(0, 1));
    EXPECT_EQ(L"Ready", RowText(1, 1));
    EXPECT_TRUE(PathExists(later));
    EXPECT_TRUE(PathExists(temp.path() + L"\\tree")) << "folders stay after a canceled job";
}

TEST_F(StartCommandTest, ClosingDuringAJobHidesTheWindowUntilTheJobEnds)
{
    RecordReports();
    ASSERT_TRUE(StartHeldAtFirstWrite({temp.File(L"big.bin", Ramp(1 << 20)), temp.File(L"later.txt")}));

    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_FALSE(IsWindowVisible(window));
    EXPECT_EQ(1, stopRequested.load());
    EXPECT_TRUE(closeAfterJob);
    reports.clear();
    gate.Release();

    ASSERT_TRUE(PumpUntil([this] { return !IsWindow(window); }, nullptr, 60000, &quitSeen));
    EXPECT_TRUE(quitSeen) << "the message loop ends";
    EXPECT_FALSE(workerThread.joinable());
    EXPECT_TRUE(Reported(L"Canceled")) << "the hidden window still took the job's reports";
}

TEST_F(StartCommandTest, StartAndWipeFreeSpaceAreRefusedWhileAJobRuns)
{
    ASSERT_TRUE(StartHeldAtFirstWrite({temp.File(L"big.bin", Ramp(1 << 20))}));
    std::thread::id job = workerThread.get_id();

    Click(ui.startButton);  // disabled, yet a click message still arrives
    MenuCommand(IDC_START);
    MenuCommand(IDM_WIPE_FREE_SPACE);
    EXPECT_EQ(job, workerThread.get_id());
    EXPECT_EQ(1, fake.Calls(OsFn::StartThread));
    EXPECT_EQ(0, fake.Calls(OsFn::SHBrowseForFolderW));
    ExpectLastBox(2, L"Busy", L"Another operation is in progress.", MB_OK | MB_ICONWARNING);

    gate.Release();
    ASSERT_TRUE(WaitForJobEnd());
    ExpectIdle(L"Operation completed successfully.");
}

TEST_F(StartCommandTest, AJobStartedWhileTheQuestionIsOpenIsNotReplaced)
{
    // The question box pumps messages; a Start that arrives meanwhile runs
    // its own question and job. The first question's OK must not start a
    // second job over it.
    Drop({temp.File(L"a.txt"), temp.File(L"b.txt")});
    int questions = 0;
    fake.hooks.MessageBoxW = [this, &questions](HWND, LPCWSTR, LPCWSTR, UINT) {
        if (++questions == 1)
            MenuCommand(IDC_START);
        return IDOK;
    };
    Click(ui.startButton);
    EXPECT_EQ(2, questions);
    EXPECT_EQ(1, fake.Calls(OsFn::StartThread));
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(std::vector<std::wstring>(2, L"Done"), RowTexts(1));
}

TEST_F(StartCommandTest, AWorkerThatCannotStartLeavesTheWindowIdleAndSaysSo)
{
    std::wstring file = temp.File(L"kept.txt");
    fake.hooks.StartThread = [](std::function<void()>, std::thread*) { return false; };
    Drop({file});
    boxAnswer = IDOK;
    Click(ui.startButton);

    const std::wstring said =
        L"Could not start the operation: Windows refused to create a worker thread. Nothing was changed.";
    ExpectIdle(said);
    ExpectLastBox(2, L"Tarnwick File Eraser", said, MB_OK | MB_ICONERROR);
    EXPECT_EQ(L"Ready", RowText(0, 1));
    EXPECT_TRUE(PathExists(file));

    fake.hooks.StartThread = nullptr;  // the system recovers: Start works again
    Click(ui.startButton);
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(L"Done", RowText(0, 1));
    EXPECT_FALSE(PathExists(file));
}

TEST_F(StartCommandTest, ADropDuringAJobKeepsTheJobsReportsOffTheNewRows)
{
    std::vector<std::wstring> erased = {temp.File(L"old1.bin", Ramp(1 << 20)), temp.File(L"old2.txt")};
    std::vector<std::wstring> fresh = {temp.File(L"new1.txt"), temp.File(L"new2.txt"), temp.File(L"new3.txt")};
    RecordReports();
    ASSERT_TRUE(StartHeldAtFirstWrite(erased));

    Drop(fresh);
    size_t afterDrop = reports.size();
    gate.Release();
    ASSERT_TRUE(WaitForJobEnd());

    EXPECT_EQ(std::vector<std::wstring>(3, L"Ready"), RowTexts(1));
    for (const std::wstring& path : fresh)
        EXPECT_TRUE(PathExists(path));
    for (const std::wstring& path : erased)
        EXPECT_FALSE(PathExists(path));
    // The status line and the bar kept following the job.
    ASSERT_GT(reports.size(), afterDrop);
    bool rowReportSeen = false;
    for (size_t i = afterDrop; i < reports.size(); ++i) {
        const Report& report = reports[i];
        rowReportSeen |= report.row >= 0;
        if (report.message == WM_APP_STATUS) {
            EXPECT_EQ(report.text, report.statusLine);
        } else {
            EXPECT_EQ(report.percent, report.barPosition);
        }
    }
    EXPECT_TRUE(rowReportSeen);
    ExpectIdle(L"Operation completed successfully.");

    // A drop of the same files is a new list too: Start on it works as usual.
    Click(ui.startButton);
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_EQ(std::vector<std::wstring>(3, L"Done"), RowTexts(1));
}

TEST_F(StartCommandTest, ADropWhileTheQuestionIsOpenAlsoKeepsTheRowsFromTheJob)
{
    std::wstring confirmed = temp.File(L"confirmed.txt");
    std::wstring fresh = temp.File(L"fresh.txt");
    Drop({confirmed});
    fake.hooks.MessageBoxW = [&](HWND, LPCWSTR, LPCWSTR, UINT) {
        Drop({fresh});
        return IDOK;
    };
    Click(ui.startButton);
    ASSERT_TRUE(WaitForJobEnd());
    EXPECT_FALSE(PathExists(confirmed)) << "the job erases what the user confirmed";
    EXPECT_TRUE(PathExists(fresh));
    EXPECT_EQ(std::vector<std::wstring>{L"Ready"}, RowTexts(1));
}

TEST_F(StartCommandTest, ReportsReachTheRowsTheStatusLineAndTheBar)
{
    EraseAndWait({temp.File(L"a.txt"), temp.File(L"b.txt")});
    auto progress = [this](intptr_t percent, intptr_t row) {
        SendMessageW(window, WM_APP_PROGRESS, static_cast<WPARAM>(percent), static_cast<LPARAM>(row));
    };
    auto status = [this](intptr_t row, const wchar_t* text) {
        SendMessageW(window, WM_APP_STATUS, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(text));
    };
    progress(42, 1);
    EXPECT_EQ(L"Progress: 42%", RowText(1, 1));
    EXPECT_EQ(42, BarPosition());
    progress(7, -1);
    progress(9, 0xFFFFFFFF);  // a row of -1 that was not sign-extended
    EXPECT_EQ(9, BarPosition());
    EXPECT_EQ(L"Done", RowText(0, 1));
    EXPECT_EQ(L"Progress: 42%", RowText(1, 1));
    status(-1, L"wipe text");
    EXPECT_EQ(L"wipe text", StatusLine());
    EXPECT_EQ(L"Done", RowText(0, 1));
    status(0, L"row text");
    EXPECT_EQ(L"row text", RowText(0, 1));
    status(99, L"no such row");
    EXPECT_EQ(L"no such row", StatusLine());

    const std::pair<WPARAM, const wchar_t*> outcomes[] = {
        {0, L"Operation completed successfully."},
        {1, L"Operation was canceled."},
        {2, L"Operation stopped due to error. Check per-item status for details."},
        {5, L"Operation completed successfully."},
    };
    for (const auto& [outcome, text] : outcomes) {
        PostMessageW(window, WM_APP_FINISHED, outcome, 0);
        PumpUntil([] { return true; });
        ExpectIdle(text);
    }
}
