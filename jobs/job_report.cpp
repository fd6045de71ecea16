#include "jobs/job_report.h"

HWND mainWindow = nullptr;

intptr_t ReportProgress(int32_t percent, void* context)
{
    const auto* report = static_cast<const ReportContext*>(context);
    return SendMessageW(report->window, WM_APP_PROGRESS, static_cast<WPARAM>(static_cast<intptr_t>(percent)),
                        static_cast<LPARAM>(report->row));
}

intptr_t ReportMessage(const wchar_t* text, void* context)
{
    const auto* report = static_cast<const ReportContext*>(context);
    return SendMessageW(report->window, WM_APP_STATUS, static_cast<WPARAM>(static_cast<intptr_t>(report->row)),
                        reinterpret_cast<LPARAM>(text));
}
