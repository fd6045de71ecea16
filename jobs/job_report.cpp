#include "jobs/job_report.h"

#include "engine/erase_types.h"
#include "os/os_seam.h"

HWND mainWindow = nullptr;

namespace {

// A 32-bit value travels sign-extended in a pointer-sized parameter, so the
// window reads row -1 back as -1 whatever the width of WPARAM.
WPARAM SignExtendedW(int32_t value)
{
    return static_cast<WPARAM>(static_cast<intptr_t>(value));
}

LPARAM SignExtendedL(int32_t value)
{
    return static_cast<LPARAM>(value);
}

// The shortest time between two sends that may wait: each costs a round trip
// to the window's thread, and a job reports far more often than anyone can read.
constexpr uint64_t kReportInterval = 40;

// Returns `report` as the message the window takes for it.
JobReport MessageOf(const QueuedReport& report)
{
    if (report.message == WM_APP_PROGRESS) return {WM_APP_PROGRESS, SignExtendedW(report.percent), SignExtendedL(report.row)};
    return {WM_APP_STATUS, SignExtendedW(report.row), reinterpret_cast<LPARAM>(report.text.c_str())};
}

// Sends what is queued in the context: one report as its own message,
// several in one WM_APP_REPORTS. Returns what SendMessageW returns, or 0
// when nothing was queued.
intptr_t SendQueued(ReportContext& context, uint64_t now)
{
    if (context.queued.empty()) return 0;
    std::vector<JobReport> reports;
    for (const QueuedReport& report : context.queued) reports.push_back(MessageOf(report));
    const JobReport& only = reports.front();
    const intptr_t result =
        reports.size() == 1 ? SendMessageW(context.window, only.message, only.wParam, only.lParam)
                            : SendMessageW(context.window, WM_APP_REPORTS, reports.size(), reinterpret_cast<LPARAM>(reports.data()));
    context.queued.clear();
    context.sentAt = now;
    return result;
}

// Queues `percent` for the context's row and notes it as shown.
void QueuePercent(ReportContext& context, int32_t percent)
{
    context.queued.push_back({WM_APP_PROGRESS, context.row, percent, {}});
    context.shownPercent = percent;
    context.heldPercent = -1;
}

// Queues the held-back percent if the window does not show it yet.
void QueueHeldPercent(ReportContext& context)
{
    if (context.heldPercent >= 0 && context.heldPercent != context.shownPercent) QueuePercent(context, context.heldPercent);
    context.heldPercent = -1;
}

// Returns true when what is queued may wait for a later send: the window was
// sent something less than an interval ago, and the item began less than an
// interval ago, so that no text of a long erase waits through a step that
// reports nothing for a while.
bool MayWait(const ReportContext& context, uint64_t now)
{
    return context.itemStartedAt != 0 && now - context.itemStartedAt < kReportInterval &&
           now - context.sentAt < kReportInterval;
}

}  // namespace

intptr_t ReportProgress(int32_t percent, void* context)
{
    auto* report = static_cast<ReportContext*>(context);
    const uint64_t now = os.GetTickCount64();
    if (now - report->sentAt < kReportInterval) {
        report->heldPercent = percent;
        return 0;
    }
    QueuePercent(*report, percent);
    return SendQueued(*report, now);
}

intptr_t ReportMessage(const wchar_t* text, void* context)
{
    auto* report = static_cast<ReportContext*>(context);
    const uint64_t now = os.GetTickCount64();
    QueueHeldPercent(*report);
    report->queued.push_back({WM_APP_STATUS, report->row, 0, text});
    return MayWait(*report, now) ? 0 : SendQueued(*report, now);
}

void SendQueuedReports(ReportContext& context)
{
    SendQueued(context, os.GetTickCount64());
}

intptr_t SendJobStatus(int32_t row, const wchar_t* text)
{
    return SendMessageW(mainWindow, WM_APP_STATUS, SignExtendedW(row), reinterpret_cast<LPARAM>(text));
}

JobOutcome JobOutcomeOf(bool failed)
{
    if (stopRequested.load()) {
        return JobOutcome::Canceled;
    }
    return failed ? JobOutcome::Failed : JobOutcome::Completed;
}

bool PostJobOutcome(JobOutcome outcome)
{
    return PostMessageW(mainWindow, WM_APP_FINISHED, SignExtendedW(static_cast<int32_t>(outcome)), 0) != FALSE;
}
