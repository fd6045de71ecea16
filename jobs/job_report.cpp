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

}  // namespace

intptr_t ReportProgress(int32_t percent, void* context)
{
    const auto* report = static_cast<const ReportContext*>(context);
    return SendMessageW(report->window, WM_APP_PROGRESS, SignExtendedW(percent), SignExtendedL(report->row));
}

intptr_t ReportMessage(const wchar_t* text, void* context)
{
    const auto* report = static_cast<const ReportContext*>(context);
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
