#include "jobs/jobs.h"
#include "methods/erase_methods.h"
#include "tests/jobs/job_window.h"
#include "tests/jobs/scripted_method.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

namespace {

using Texts = std::vector<std::wstring>;

class FileEraseJobTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        stopRequested.store(0);
        verifyReadBack.store(0);
        methodScript = MethodScript{};
    }
    void TearDown() override { stopRequested.store(0); }

    // Returns items for the files "f0", "f1", ... in the temp folder, on rows 0, 1, ...
    std::vector<EraseItem> Items(int count) const
    {
        std::vector<EraseItem> items;
        for (int i = 0; i < count; ++i) items.push_back({i, temp / (L"f" + std::to_wstring(i))});
        return items;
    }

    // Makes the dropped folders D and D\sub, both empty; returns their list.
    std::vector<std::wstring> DroppedFolders() const { return {temp.Folder(L"D"), temp.Folder(L"D\\sub")}; }

    int32_t RunJob(EraseMethodFn method, std::vector<EraseItem> items, std::vector<std::wstring> folders)
    {
        return window.Run([method, items, folders] { FileEraseJob(method, items, folders); });
    }

    TempFolder temp;
    JobWindow window;
};

struct ResultCase {
    int32_t result;
    const wchar_t* word;
    JobOutcome outcome;
};

class ItemResultTest : public FileEraseJobTest, public ::testing::WithParamInterface<ResultCase> {};

// Every result becomes its row's final word; only Done goes on to the next
// item and lets the folders go.
TEST_P(ItemResultTest, RowGetsItsWordAndJobItsOutcome)
{
    const ResultCase& c = GetParam();
    methodScript.results = {c.result, 0};
    const int32_t outcome = RunJob(ScriptedMethod, {{7, temp / L"a"}, {8, temp / L"b"}}, DroppedFolders());

    EXPECT_EQ(static_cast<int32_t>(c.outcome), outcome);
    EXPECT_EQ((Texts{kScriptedMethodText, c.word}), window.StatusTexts(7));
    const bool wentOn = c.result == 0;
    ASSERT_EQ(wentOn ? 2u : 1u, methodScript.calls.size());
    EXPECT_EQ((wentOn ? Texts{kScriptedMethodText, L"Done"} : Texts{}), window.StatusTexts(8));
    EXPECT_EQ(!wentOn, PathExists(temp / L"D"));
    EXPECT_EQ(!wentOn, PathExists(temp / L"D\\sub"));
}

INSTANTIATE_TEST_SUITE_P(
    AllResults, ItemResultTest,
    ::testing::Values(ResultCase{0, L"Done", JobOutcome::Completed},
                      // A canceled item leaves files behind: the folders stay
                      // and the job reads as canceled even with the flag clear.
                      ResultCase{1, L"Canceled", JobOutcome::Canceled},
                      ResultCase{2, L"Verify Failed", JobOutcome::Failed},
                      ResultCase{3, L"Open Failed", JobOutcome::Failed},
                      ResultCase{4, L"Write Failed", JobOutcome::Failed},
                      ResultCase{5, L"Delete Failed", JobOutcome::Failed},
                      ResultCase{6, L"Refused", JobOutcome::Failed}, ResultCase{7, L"Error", JobOutcome::Failed},
                      ResultCase{8, L"Error", JobOutcome::Failed}, ResultCase{100, L"Error", JobOutcome::Failed},
                      ResultCase{-1, L"Error", JobOutcome::Failed}));

TEST_F(FileEraseJobTest, EachItemGetsItsOwnContextAndKeepNameFalse)
{
    std::vector<EraseItem> items = {{4, temp / L"x"}, {0, temp / L"y"}, {2, temp / L"z"}};

    EXPECT_EQ(0, RunJob(ScriptedMethod, items, {}));

    ASSERT_EQ(3u, methodScript.calls.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const MethodCall& call = methodScript.calls[i];
        EXPECT_EQ(items[i].path, call.path);
        EXPECT_EQ(items[i].row, call.contextRow);
        EXPECT_EQ(window.hwnd(), call.contextWindow);
        EXPECT_FALSE(call.keepName);
        EXPECT_EQ(&stopRequested, call.stop);
        EXPECT_EQ(&ReportProgress, call.progress);
        EXPECT_EQ(&ReportMessage, call.log);
    }
    // The engine's reports for an item reach that item's row, in order, and
    // the item's word comes last.
    EXPECT_EQ((std::vector<int32_t>{4, 4, 4, 4, 0, 0, 0, 0, 2, 2, 2, 2}), window.ReportedRows());
    EXPECT_EQ(WM_APP_PROGRESS, window.reports[1].message);
    EXPECT_EQ(50, window.reports[1].first);
    EXPECT_EQ((Texts{kScriptedMethodText, L"Done"}), window.StatusTexts(0));
}

TEST_F(FileEraseJobTest, EmptyItemListCallsNoMethodAndRemovesFolders)
{
    EXPECT_EQ(0, RunJob(ScriptedMethod, {}, DroppedFolders()));

    EXPECT_TRUE(methodScript.calls.empty());
    EXPECT_EQ(1u, window.reports.size());
    EXPECT_EQ(Texts{}, temp.Names());
}

TEST_F(FileEraseJobTest, CleanRunCompletesEvenWhenAFolderStaysBehind)
{
    std::vector<std::wstring> folders = DroppedFolders();
    temp.File(L"D\\sub\\late.txt");

    EXPECT_EQ(0, RunJob(ScriptedMethod, Items(1), folders));

    // Both folders were renamed; neither could be removed.
    const Texts top = temp.Names();
    ASSERT_EQ(1u, top.size());
    EXPECT_TRUE(IsScrambledName(top[0]));
}

// Cancel pressed before an item (at row 0's "Done"), during an item (at row
// 1's first text) and after the last item but before the folders go (at the
// last row's "Done"): the job reads as canceled, no row after the stop gets
// a text, and the folders stay.
TEST_F(FileEraseJobTest, AStopBeforeDuringOrAfterTheItemsKeepsTheFolders)
{
    const Texts done = {kScriptedMethodText, L"Done"};
    const struct {
        int32_t row;
        const wchar_t* text;
        std::vector<Texts> rows;
    } cases[] = {
        {0, L"Done", {done, {}, {}}},
        {1, kScriptedMethodText, {done, {kScriptedMethodText, L"Canceled"}, {}}},
        {1, L"Done", {done, done}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rows.size());
        stopRequested.store(0);
        window.onReport = [&c](const WindowReport& report) {
            if (report.message == WM_APP_STATUS && report.first == c.row && report.text == c.text) PressCancel();
        };
        const int items = static_cast<int>(c.rows.size());
        EXPECT_EQ(1, RunJob(ScriptedMethod, Items(items), DroppedFolders()));
        for (int row = 0; row < items; ++row) EXPECT_EQ(c.rows[row], window.StatusTexts(row)) << row;
        EXPECT_TRUE(PathExists(temp / L"D\\sub"));
    }
}

TEST_F(FileEraseJobTest, StopWinsOverAFailureThatFollowsIt)
{
    methodScript.cancelWhenStopped = false;
    methodScript.results = {4};
    window.onReport = [](const WindowReport& report) {
        if (report.message == WM_APP_STATUS && report.text == kScriptedMethodText) PressCancel();
    };

    EXPECT_EQ(1, RunJob(ScriptedMethod, Items(2), DroppedFolders()));

    EXPECT_EQ(L"Write Failed", window.StatusTexts(0).back());
    EXPECT_EQ(1u, methodScript.calls.size());
}

// With the real zero-fill method: the file that another program holds open
// stops the job, and nothing after it is touched.
TEST_F(FileEraseJobTest, RealFilesStopAtTheOneThatCannotBeOpened)
{
    const std::vector<EraseItem> items = Items(3);
    for (int i = 0; i < 3; ++i) temp.File(L"f" + std::to_wstring(i), Ramp(5000, static_cast<uint8_t>(i)));
    const std::vector<std::wstring> folders = DroppedFolders();
    HANDLE lock = CreateFileW(items[1].path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);

    const int32_t outcome = RunJob(EraseZeroFill, items, folders);
    CloseHandle(lock);

    EXPECT_EQ(2, outcome);
    EXPECT_EQ(L"Done", window.StatusTexts(0).back());
    EXPECT_EQ(L"Open Failed", window.StatusTexts(1).back());
    for (int32_t row : window.ReportedRows()) EXPECT_NE(2, row);
    // The first file is gone under any name; the other two are as they were.
    EXPECT_EQ((Texts{L"D", L"f1", L"f2"}), temp.Names());
    EXPECT_EQ(Ramp(5000, 1), ReadAll(items[1].path));
    EXPECT_EQ(Ramp(5000, 2), ReadAll(items[2].path));
    EXPECT_EQ(Texts{L"sub"}, temp.Names(L"D"));
}

}  // namespace
