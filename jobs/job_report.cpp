#include "jobs/job_report.h"

#include "engine/erase_types.h"
#include "os/os_seam.h"

#include <cstdio>
#include <iterator>

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

// Returns the work the context's job has done so far.
uint64_t DoneWork(const JobWork& work)
{
    const int32_t percent = work.itemPercent < 0 ? 0 : work.itemPercent > 100 ? 100 : work.itemPercent;
    const uint64_t done = work.finished + static_cast<uint64_t>(static_cast<double>(work.itemBytes) * percent / 100.0);
    return done < work.total ? done : work.total;
}

// Adds the job's progress to `reports` when the window does not show it yet.
void AddJobProgress(JobWork& work, std::vector<JobReport>& reports)
{
    const JobProgress now{DoneWork(work), work.total, work.item, work.items};
    if (work.total == 0 || (now.done == work.shown.done && now.item == work.shown.item)) return;
    work.shown = now;
    reports.push_back({WM_APP_JOB_PROGRESS, reinterpret_cast<WPARAM>(&work.shown), 0});
}

// Sends what is queued in the context, and the job's progress: one report
// as its own message, several in one WM_APP_REPORTS. Returns what
// SendMessageW returns, or 0 when there was nothing to send.
intptr_t SendQueued(ReportContext& context, uint64_t now)
{
    std::vector<JobReport> reports;
    for (const QueuedReport& report : context.queued) reports.push_back(MessageOf(report));
    AddJobProgress(context.work, reports);
    if (reports.empty()) return 0;
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
    if (context.heldPercent >= 0 && context.heldPercent != context.shownPercent && context.row >= 0) {
        QueuePercent(context, context.heldPercent);
    }
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
    if (percent > report->work.itemPercent) report->work.itemPercent = percent;
    if (now - report->sentAt < kReportInterval) {
        report->heldPercent = percent;
        return 0;
    }
    if (report->row >= 0) QueuePercent(*report, percent);
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

void BeginJobItem(ReportContext& context, uint64_t bytes, uint64_t fixed)
{
    context.work.itemBytes = bytes;
    context.work.itemFixed = fixed;
    context.work.itemPercent = 0;
    ++context.work.item;
}

void FinishJobItem(ReportContext& context)
{
    JobWork& work = context.work;
    work.finished += work.itemBytes + work.itemFixed;
    work.itemBytes = work.itemFixed = 0;
    work.itemPercent = 0;
}

void SendQueuedReports(ReportContext& context)
{
    SendQueued(context, os.GetTickCount64());
}

intptr_t SendJobStatus(int32_t row, const wchar_t* text)
{
    return SendMessageW(mainWindow, WM_APP_STATUS, SignExtendedW(row), reinterpret_cast<LPARAM>(text));
}

intptr_t SendJobFacts(const JobFacts& facts)
{
    return SendMessageW(mainWindow, WM_APP_JOB_FACTS, reinterpret_cast<WPARAM>(&facts), 0);
}

std::wstring SizeText(uint64_t bytes)
{
    const wchar_t* const units[] = {L"KB", L"MB", L"GB", L"TB"};
    if (bytes < 1024) return std::to_wstring(bytes) + L" bytes";
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    for (; value >= 1024 && unit + 1 < std::size(units); ++unit) value /= 1024;
    wchar_t text[32];
    swprintf(text, 32, value < 10 ? L"%.1f %ls" : L"%.0f %ls", value, units[unit]);
    return text;
}

std::wstring GroupedDigits(uint64_t value)
{
    std::wstring digits = std::to_wstring(value);
    for (size_t end = digits.size(); end > 3; end -= 3) digits.insert(end - 3, 1, L',');
    return digits;
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
