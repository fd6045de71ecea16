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
// A job keeps one for all its items, so that the progress it shows is
// coalesced across the whole job.
struct ReportContext {
    HWND window;
    int32_t row;
    int32_t shownPercent = -1;       // the percent last sent to the window
    int32_t heldPercent = -1;        // one reported since and held back; -1: none
    uint64_t progressSentAt = 0;     // when the last percent was sent, in system ticks (ms)
};

// Sends WM_APP_PROGRESS to the context's window, unless a percent went less
// than a few dozenths of a second ago: the percent is then held back, to be
// sent with the next text if the window does not show it yet. Returns what
// SendMessageW returns, or 0 for a percent held back.
intptr_t ReportProgress(int32_t percent, void* context);

// Sends the context's held-back percent, if the window does not show it yet,
// then WM_APP_STATUS to the context's window; returns what SendMessageW
// returns for the text.
intptr_t ReportMessage(const wchar_t* text, void* context);

// Sends the context's held-back percent if the window does not show it yet,
// so that what the window shows of an item is its last state before the
// job's word for it. Returns nothing.
void ShowHeldProgress(ReportContext& context);

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
