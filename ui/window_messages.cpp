// What the window does with the reports of a running job.
#include "jobs/job_report.h"
#include "ui/file_list.h"
#include "ui/handlers.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <cstdint>
#include <cwchar>

namespace {

// Returns the list row a report names, or -1 when it names none. The rows
// are the job's: the list cannot change while a job runs.
int ReportedRow(uintptr_t value)
{
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

// Returns the status line text for a job's outcome, or null for an
// incomplete job, which has just said on the status line what it left
// undone; unknown values count as success.
const wchar_t* OutcomeText(int32_t outcome)
{
    switch (static_cast<JobOutcome>(outcome)) {
    case JobOutcome::Incomplete: return nullptr;
    case JobOutcome::Canceled: return L"Operation was canceled.";
    case JobOutcome::Failed: return L"Operation stopped due to error. Check per-item status for details.";
    default: return L"Operation completed successfully.";
    }
}

}  // namespace

void OnAppProgress(WPARAM percent, LPARAM row)
{
    int value = static_cast<int32_t>(static_cast<uint32_t>(percent));
    int target = ReportedRow(static_cast<uintptr_t>(row));
    if (target >= 0) {
        wchar_t text[32];
        swprintf(text, 32, L"Progress: %d%%", value);
        SetRowStatus(target, text);
    }
    SendMessageW(ui.progressBar, PBM_SETPOS, static_cast<WPARAM>(value), 0);
}

void OnAppStatus(WPARAM row, LPARAM text)
{
    const auto* message = reinterpret_cast<const wchar_t*>(text);
    int target = ReportedRow(row);
    if (target >= 0)
        SetRowStatus(target, message);
    SetWindowTextW(ui.statusLine, message);
}

void OnAppReports(WPARAM count, LPARAM reports)
{
    const auto* report = reinterpret_cast<const JobReport*>(reports);
    for (WPARAM i = 0; i < count; ++i) {
        if (report[i].message == WM_APP_PROGRESS)
            OnAppProgress(report[i].wParam, report[i].lParam);
        else if (report[i].message == WM_APP_STATUS)
            OnAppStatus(report[i].wParam, report[i].lParam);
    }
}

void OnAppFinished(WPARAM outcome)
{
    if (const wchar_t* text = OutcomeText(static_cast<int32_t>(static_cast<uint32_t>(outcome))))
        SetWindowTextW(ui.statusLine, text);
    SendMessageW(ui.progressBar, PBM_SETPOS, 0, 0);
    EnableWindow(ui.startButton, TRUE);
    EnableWindow(ui.cancelButton, FALSE);
    ShowListLocked(false);
    // The worker has posted its last message and only frees its own memory now.
    if (workerThread.joinable())
        workerThread.detach();
    if (closeAfterJob)
        DestroyWindow(mainWindow);
}
