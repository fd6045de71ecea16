// How a worker job reports to the main window: three private messages and the
// two callbacks that the jobs hand to the erase engine.
#pragma once

#include <windows.h>
#include <cstdint>

constexpr UINT WM_APP_PROGRESS = WM_APP + 1;  // wParam percent, lParam row (sent)
constexpr UINT WM_APP_STATUS = WM_APP + 2;    // wParam row, lParam text (sent)
constexpr UINT WM_APP_FINISHED = WM_APP + 3;  // wParam JobOutcome (posted, last)

enum class JobOutcome : int32_t {
    Completed = 0,
    Canceled = 1,
    Failed = 2,
    // Everything asked for was tried, but something was left undone; the
    // job's last status text, which the window keeps, says what.
    Incomplete = 3,
};

// The main window, which the jobs report to: set when the window is created.
extern HWND mainWindow;

// The engine's context while a job erases one item; row -1 means no list row.
struct ReportContext {
    HWND window;
    int32_t row;
};

// Sends WM_APP_PROGRESS to the context's window; returns what SendMessageW returns.
intptr_t ReportProgress(int32_t percent, void* context);

// Sends WM_APP_STATUS to the context's window; returns what SendMessageW returns.
intptr_t ReportMessage(const wchar_t* text, void* context);

// Sends a job's own text (an item's status word, a wipe message) to the main
// window for `row` (-1: the status line only) and waits until it is shown.
// Returns what SendMessageW returns.
intptr_t SendJobStatus(int32_t row, const wchar_t* text);

// Returns the outcome a job ends with: Canceled whenever stopRequested is set
// (a stop wins over a failure that it may have caused), else Failed when
// `failed`, else Completed.
JobOutcome JobOutcomeOf(bool failed);

// Posts the job's one and only WM_APP_FINISHED to the main window; the job
// must send nothing after it. Returns false when the post failed.
bool PostJobOutcome(JobOutcome outcome);
