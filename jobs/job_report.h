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
constexpr UINT WM_APP_JOB_PROGRESS = WM_APP + 5;  // wParam const JobProgress* (sent, within WM_APP_REPORTS too)

constexpr UINT WM_APP_JOB_FACTS = WM_APP + 6;  // wParam const JobFacts* (sent once, right before WM_APP_FINISHED)

// What a job did, for the record the window keeps of it: the bytes its
// passes wrote over the files it erased or the wipe files, the filler files
// of a wipe, and the files of an earlier, cut-off wipe that it removed.
struct JobFacts {
    uint64_t bytesOverwritten = 0;
    size_t fillerFiles = 0;
    size_t earlierFilesRemoved = 0;
    uint64_t earlierBytesRemoved = 0;
    // The list row whose file the job left under a name the user did not
    // give it, and the path it is at now, as the user's paths are written.
    int32_t leftRow = -1;
    std::wstring leftAt;
};

// How far the whole job has come, in units of work planned when it began:
// the bytes its passes write and read back, and a fixed share per file.
struct JobProgress {
    uint64_t done;
    uint64_t total;
    int32_t item;   // the item being worked on, from 1
    int32_t items;  // the items planned
};

// The whole job's work as the job counts it. Done work only grows, and
// never passes the total: an item counts at most its planned share, however
// much larger its file has grown since it was listed.
struct JobWork {
    uint64_t total = 0;
    uint64_t finished = 0;      // the shares of the items done with
    uint64_t itemBytes = 0;     // the current item's share that its passes move
    uint64_t itemFixed = 0;     // and what it costs whatever its size
    int32_t itemPercent = 0;    // the engine's last percent of the current item
    int32_t item = 0;
    int32_t items = 0;
    JobProgress shown = {0, 0, 0, 0};  // as last sent to the window
};

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
    JobWork work = {};               // the whole job's progress, sent along with every send
};

// Begins the next item of the context's job, whose share of the work is
// `bytes` moved by its passes and `fixed` besides. Returns nothing.
void BeginJobItem(ReportContext& context, uint64_t bytes, uint64_t fixed);

// Counts the current item's whole share as done. Returns nothing.
void FinishJobItem(ReportContext& context);

// Sends WM_APP_PROGRESS to the context's window, after whatever waits, unless
// the window was sent something less than a few dozenths of a second ago:
// the percent is then held back, to be shown before the next text if the
// window does not show it yet. A context without a row sends no percent of
// its own, only the job's progress that goes with every send. Returns what
// SendMessageW returns, or 0 for a percent held back.
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

// Sends the job's facts to the main window, once, right before its outcome.
// Returns what SendMessageW returns.
intptr_t SendJobFacts(const JobFacts& facts);

// Returns `bytes` as the program shows a size: "600 bytes", "12 KB",
// "340 MB", "1.5 GB", "80 GB" (a KB being 1,024 bytes).
std::wstring SizeText(uint64_t bytes);

// Returns `value` with a comma between groups of three digits ("1,234").
std::wstring GroupedDigits(uint64_t value);

// Returns the outcome a job ends with: Canceled whenever stopRequested is set
// (a stop wins over a failure that it may have caused), else Failed when
// `failed`, else Completed.
JobOutcome JobOutcomeOf(bool failed);

// Posts the job's one and only WM_APP_FINISHED to the main window; the job
// must send nothing after it. Returns false when the post failed.
bool PostJobOutcome(JobOutcome outcome);
