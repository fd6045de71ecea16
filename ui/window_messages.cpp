// What the window does with the reports of a running job.
#include "jobs/job_report.h"
#include "ui/file_list.h"
#include "ui/handlers.h"
#include "ui/job_progress_view.h"
#include "ui/job_record.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <cstdint>
#include <cwchar>
#include <string>
#include <unordered_set>
#include <utility>

namespace {

// Returns the 32-bit signed value a report carries in a pointer-sized
// parameter: a percent, or a list row (-1 for none). The rows are the job's:
// the list cannot change while a job runs.
int32_t ReportedValue(uintptr_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// Returns the status line text for a job's outcome, or an empty text for an
// incomplete job, which has just said on the status line what it left
// undone; unknown values count as success. A wipe has no rows to tell why
// it failed, so its reason, the job's last text, stays on the status line.
std::wstring OutcomeText(int32_t outcome)
{
    switch (static_cast<JobOutcome>(outcome)) {
    case JobOutcome::Incomplete: return L"";
    case JobOutcome::Canceled: return L"Operation was canceled.";
    case JobOutcome::Failed: break;
    default: return L"Operation completed successfully.";
    }
    wchar_t reason[1024] = {};
    if (lastJob.wipe && GetWindowTextW(ui.statusLine, reason, 1024) > 0) return L"Operation stopped due to error: " + std::wstring(reason);
    return L"Operation stopped due to error. Check per-item status for details.";
}

// Shows `percent` in list row `row`.
void ShowRowPercent(int row, int32_t percent)
{
    wchar_t text[32];
    swprintf(text, 32, L"Progress: %d%%", percent);
    SetRowStatus(row, text);
}

// Shows one report of a batch unless a later one of the batch replaces it:
// `shownRows` holds the rows, and -1 the status line, that a later report
// has shown already, and `progressShown` whether the job's progress has.
void ShowUnlessReplaced(const JobReport& report, std::unordered_set<int>& shownRows, bool& progressShown)
{
    if (report.message == WM_APP_JOB_PROGRESS) {
        if (!std::exchange(progressShown, true)) OnAppJobProgress(report.wParam);
        return;
    }
    const bool status = report.message == WM_APP_STATUS;
    const int row = ReportedValue(status ? report.wParam : static_cast<uintptr_t>(report.lParam));
    if (row >= 0 && shownRows.insert(row).second) {
        NoteRowReported(row);
        if (status) SetRowStatus(row, reinterpret_cast<const wchar_t*>(report.lParam));
        else ShowRowPercent(row, ReportedValue(report.wParam));
    }
    if (status && shownRows.insert(-1).second) SetWindowTextW(ui.statusLine, reinterpret_cast<const wchar_t*>(report.lParam));
}

}  // namespace

void OnAppProgress(WPARAM percent, LPARAM row)
{
    const int target = ReportedValue(static_cast<uintptr_t>(row));
    if (target < 0) return;
    NoteRowReported(target);
    ShowRowPercent(target, ReportedValue(percent));
}

void OnAppStatus(WPARAM row, LPARAM text)
{
    const auto* message = reinterpret_cast<const wchar_t*>(text);
    const int target = ReportedValue(row);
    if (target >= 0) {
        NoteRowReported(target);
        SetRowStatus(target, message);
    }
    SetWindowTextW(ui.statusLine, message);
}

// Texts that a later text of the same batch replaces would never be painted:
// each row, the status line and the progress show only their last one.
void OnAppReports(WPARAM count, LPARAM reports)
{
    const auto* report = reinterpret_cast<const JobReport*>(reports);
    std::unordered_set<int> shownRows;
    bool progressShown = false;
    for (WPARAM i = count; i-- > 0;) ShowUnlessReplaced(report[i], shownRows, progressShown);
}

void OnAppFinished(WPARAM outcomeValue)
{
    const int32_t value = ReportedValue(outcomeValue);
    const std::wstring text = OutcomeText(value);
    if (!text.empty()) SetWindowTextW(ui.statusLine, text.c_str());
    SendMessageW(ui.progressBar, PBM_SETPOS, 0, 0);
    EnableWindow(ui.startButton, TRUE);
    EnableWindow(ui.cancelButton, FALSE);
    const JobOutcome outcome = value >= 0 && value <= 3 ? static_cast<JobOutcome>(value) : JobOutcome::Completed;
    ShowListLocked(false);
    EndJobRecord(outcome);
    ShowJobProgressEnded(outcome);
    // The worker has posted its last message and only frees its own memory now.
    if (workerThread.joinable())
        workerThread.detach();
    if (closeAfterJob)
        DestroyWindow(mainWindow);
}
