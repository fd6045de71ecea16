#include "engine/erase_session.h"
#include "jobs/job_report.h"
#include "jobs/jobs.h"
#include "os/os_seam.h"

#include <utility>

namespace {

// How the run over the items ended.
enum class ItemsEnd {
    AllDone,   // every item succeeded (or there was none)
    Stopped,   // a stop request was seen, or an item was canceled
    Failed,    // an item ended in a failure
};

// Returns the text an item's row ends with: its status word and, when the
// erase left the file at `leftAt` under a name the user did not give it,
// that name, so that they can find the file.
std::wstring ItemEndText(EraseResult result, const std::wstring& leftAt)
{
    std::wstring text = ItemStatus(result);
    if (leftAt.empty()) return text;
    return text + L"; the file is now named " + leftAt.substr(leftAt.find_last_of(L"\\/") + 1) + L" in the same folder";
}

// Erases the items in order until one does not succeed or a stop is
// requested; every item reached gets its status word, after its last
// percent, as the engine's texts do. Returns how the run ended.
ItemsEnd EraseEach(EraseMethodFn method, const std::vector<EraseItem>& items, ReportContext& context,
                   const EraseSession& session)
{
    for (const EraseItem& item : items) {
        if (stopRequested.load()) {
            return ItemsEnd::Stopped;
        }
        context.row = item.row;
        context.itemStartedAt = os.GetTickCount64();
        const EraseResult result = method(item.path.c_str(), ReportProgress, ReportMessage, &context,
                                          &stopRequested, false);
        ReportMessage(ItemEndText(result, session.leftUnderOtherName).c_str(), &context);
        if (result == EraseResult::Canceled) {
            return ItemsEnd::Stopped;
        }
        if (result != EraseResult::Success) {
            return ItemsEnd::Failed;
        }
    }
    return ItemsEnd::AllDone;
}

// Erases the items as EraseEach does. The cluster size of the items' volumes
// is asked once per folder for the whole run, and what the window is shown
// is coalesced across it; whatever waits is sent before the run ends.
// Returns how the run ended.
ItemsEnd EraseItems(EraseMethodFn method, const std::vector<EraseItem>& items)
{
    const EraseSession session;
    ReportContext context{mainWindow, -1};
    const ItemsEnd end = EraseEach(method, items, context, session);
    SendQueuedReports(context);
    return end;
}

// Returns the outcome to post: a stop request wins over a failure, and a
// canceled item counts as a stop even where the flag is not set.
JobOutcome OutcomeOf(ItemsEnd end)
{
    if (end == ItemsEnd::Stopped) {
        return JobOutcome::Canceled;
    }
    return JobOutcomeOf(end == ItemsEnd::Failed);
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
    const ItemsEnd end = EraseItems(method, items);
    // The folders go only when every file in them is gone: a canceled item
    // left files behind even if the stop flag is clear by now.
    if (end != ItemsEnd::AllDone || stopRequested.load()) {
        PostJobOutcome(OutcomeOf(end));
        return;
    }
    const std::wstring folderLeft = RemoveFolders(std::move(folders));
    if (folderLeft.empty() || stopRequested.load()) {
        PostJobOutcome(JobOutcomeOf(false));
        return;
    }
    SendJobStatus(-1, folderLeft.c_str());
    PostJobOutcome(JobOutcome::Incomplete);
}
