#include "jobs/job_report.h"

#include "engine/erase_types.h"

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

// Sends one status text for `row` to `window`; returns what SendMessageW returns.
intptr_t SendStatus(HWND window, int32_t row, const wchar_t* text)
{
    return SendMessageW(window, WM_APP_STATUS, SignExtendedW(row), reinterpret_cast<LPARAM>(text));
}

// The shortest time between two percents sent to the window: each costs a
// round trip to the window's thread, and a pass of 64 KiB chunks reports
// far more often than anyone can read.
constexpr uint64_t kProgressInterval = 40;

// Sends `percent` for the context's row and notes it as shown. Returns what
// SendMessageW returns.
intptr_t SendProgress(ReportContext& report, int32_t percent, uint64_t now)
{
    report.shownPercent = percent;
    report.heldPercent = -1;
    report.progressSentAt = now;
    return SendMessageW(report.window, WM_APP_PROGRESS, SignExtendedW(percent), SignExtendedL(report.row));
}

}  // namespace

intptr_t ReportProgress(int32_t percent, void* context)
{
    auto* report = static_cast<ReportContext*>(context);
    const uint64_t now = GetTickCount64();
    if (now - report->progressSentAt < kProgressInterval) {
        report->heldPercent = percent;
        return 0;
    }
    return SendProgress(*report, percent, now);
}

void ShowHeldProgress(ReportContext& context)
{
    if (context.heldPercent < 0) return;
    if (context.heldPercent == context.shownPercent) {
        context.heldPercent = -1;
        return;
    }
    SendProgress(context, context.heldPercent, GetTickCount64());
}

intptr_t ReportMessage(const wchar_t* text, void* context)
{
    auto* report = static_cast<ReportContext*>(context);
    ShowHeldProgress(*report);
    return SendStatus(report->window, report->row, text);
}

intptr_t SendJobStatus(int32_t row, const wchar_t* text)
{
    return SendStatus(mainWindow, row, text);
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
