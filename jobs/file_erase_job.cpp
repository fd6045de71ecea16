#include "jobs/job_report.h"
#include "jobs/jobs.h"

#include <utility>

namespace {

// Erases the items in order until one does not succeed or a stop is
// requested; every item reached gets its status word. Returns true when an
// item ended in a failure (a cancellation is not one).
bool EraseItems(EraseMethodFn method, const std::vector<EraseItem>& items)
{
    ReportContext context{};
    for (const EraseItem& item : items) {
        if (stopRequested.load()) {
            return false;
        }
        context.window = mainWindow;
        context.row = item.row;
        const EraseResult result = method(item.path.c_str(), ReportProgress, ReportMessage, &context,
                                          &stopRequested, false);
        SendJobStatus(item.row, ItemStatus(result));
        if (result != EraseResult::Success) {
            return result != EraseResult::Canceled;
        }
    }
    return false;
}

}  // namespace

const wchar_t* ItemStatus(EraseResult result)
{
    switch (result) {
    case EraseResult::Success: return L"Done";
    case EraseResult::Canceled: return L"Canceled";
    case EraseResult::VerifyFailed: return L"Verify Failed";
    case EraseResult::OpenFailed: return L"Open Failed";
    case EraseResult::WriteFailed: return L"Write Failed";
    case EraseResult::DeleteFailed: return L"Delete Failed";
    case EraseResult::Refused: return L"Refused";
    default: return L"Error";
    }
}

void FileEraseJob(EraseMethodFn method, std::vector<EraseItem> items, std::vector<std::wstring> folders)
{
    const bool failed = EraseItems(method, items);
    if (!stopRequested.load() && !failed) {
        RemoveFolders(std::move(folders));
    }
    PostJobOutcome(JobOutcomeOf(failed));
}
