// How a worker job reports to the main window: three private messages and the
// two callbacks that the jobs hand to the erase engine.
#pragma once

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

constexpr UINT WM_APP_PROGRESS = WM_APP + 1;  // wParam percent, lParam row (sent)
constexpr UINT WM_APP_STATUS = WM_APP + 2;    // wParam row, lParam text (sent)
constexpr UINT WM_APP_FINISHED = WM_APP + 3;  // wParam JobOutcome (posted, last)
constexpr UINT WM_APP_REPORTS = WM_APP + 4;   // wParam count, lParam const JobReport* (sent)

// One of several progress and status reports sent at once in WM_APP_REPORTS:
// the message it stands for, with its parameters; a text lives as long as
// the send.
struct JobReport {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// A report that waits for the next send, with its own copy of its text.
struct QueuedReport {
    UINT message;
    int32_t row;
    int32_t percent;
    std::wstring text;
};

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
// A job keeps one for all its items, so that what it shows is coalesced
// across the whole job: each round trip to the window's thread costs more
// than erasing a small file.
struct ReportContext {
    HWND window;
    int32_t row;
    int32_t shownPercent = -1;       // the percent last sent or queued for the window
    int32_t heldPercent = -1;        // one reported since and held back; -1: none
    // When the item's erase began; 0 (the default) keeps the texts from waiting.
    uint64_t itemStartedAt = 0;
    uint64_t sentAt = 0;             // when the window was last sent something, in system ticks (ms)
    std::vector<QueuedReport> queued = {};  // texts and percents waiting, in order
};

// Sends WM_APP_PROGRESS to the context's window, after whatever waits, unless
// the window was sent something less than a few dozenths of a second ago:
// the percent is then held back, to be shown before the next text if the
// window does not show it yet. Returns what SendMessageW returns, or 0 for a percent held back.
intptr_t ReportProgress(int32_t percent, void* context);

// Shows the context's held-back percent, if the window does not show it yet,
// then the text. Both wait for the next send while the window had one less
// than a few dozenths of a second ago and the item began less than that ago,
// so that the texts and status words of many small files travel together;
// else they go now. Every text reaches the window, in order. Returns what
// SendMessageW returns, or 0 when they wait.
intptr_t ReportMessage(const wchar_t* text, void* context);

// Sends whatever waits in the context, in one message. Returns nothing.
void SendQueuedReports(ReportContext& context);

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
