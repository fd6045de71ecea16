#include "engine/erase_session.h"
#include "jobs/job_report.h"
#include "jobs/jobs.h"
#include "os/os_seam.h"
#include "os/verbatim_path.h"

#include <utility>

namespace {

// What an item costs whatever its size (opening, checking, renaming and
// deleting it), in the units of the job's progress, bytes: about what one
// of those steps costs in time against writing, so that a job of thousands
// of small files still moves along with each file.
constexpr uint64_t kWorkPerFile = 256 * 1024;

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

// Returns the bytes that `passes` write over each item: its size, as the
// listing reported it (the file is not asked again), lengthened to its
// cluster's end. The cluster sizes, asked once per folder, serve the erase
// too.
std::vector<uint64_t> PlannedBytes(const std::vector<EraseItem>& items, int32_t passes)
{
    std::vector<uint64_t> bytes;
    for (const EraseItem& item : items) {
        const int64_t size = static_cast<int64_t>(item.size);
        bytes.push_back(static_cast<uint64_t>(ClusterEnd(size, ClusterSizeOf(VerbatimPath(item.path).c_str()))) * passes);
    }
    return bytes;
}

// Erases the items in order until one does not succeed or a stop is
// requested; every item reached gets its status word, after its last
// percent, as the engine's texts do, and counts as done in the job's
// progress, whose work is the bytes planned, read back when verification is
// on, and a fixed share per file. Adds what the passes wrote over the files
// erased to `facts`, and notes there a file left under another name.
// Returns how the run ended.
ItemsEnd EraseEach(EraseMethodFn method, const std::vector<EraseItem>& items, ReportContext& context,
                   const EraseSession& session, JobFacts& facts)
{
    const std::vector<uint64_t> bytes = PlannedBytes(items, PassCountOf(method));
    const uint64_t moves = verifyReadBack.load() != 0 ? 2 : 1;
    context.work.items = static_cast<int32_t>(items.size());
    for (uint64_t planned : bytes) context.work.total += planned * moves + kWorkPerFile;
    for (size_t i = 0; i < items.size(); ++i) {
        if (stopRequested.load()) {
            return ItemsEnd::Stopped;
        }
        const EraseItem& item = items[i];
        context.row = item.row;
        context.itemStartedAt = os.GetTickCount64();
        BeginJobItem(context, bytes[i] * moves, kWorkPerFile);
        const EraseResult result = method(item.path.c_str(), ReportProgress, ReportMessage, &context,
                                          &stopRequested, false);
        FinishJobItem(context);
        ReportMessage(ItemEndText(result, session.leftUnderOtherName).c_str(), &context);
        if (!session.leftUnderOtherName.empty()) {
            facts.leftRow = item.row;
            facts.leftAt = ShownPath(session.leftUnderOtherName);
        }
        if (result == EraseResult::Canceled) {
            return ItemsEnd::Stopped;
        }
        if (result != EraseResult::Success) {
            return ItemsEnd::Failed;
        }
        facts.bytesOverwritten += bytes[i];
    }
    return ItemsEnd::AllDone;
}

// Erases the items as EraseEach does. The cluster size of the items' volumes
// is asked once per folder for the whole run, and what the window is shown
// is coalesced across it; whatever waits is sent before the run ends.
// Returns how the run ended.
ItemsEnd EraseItems(EraseMethodFn method, const std::vector<EraseItem>& items, JobFacts& facts)
{
    const EraseSession session;
    ReportContext context{mainWindow, -1};
    const ItemsEnd end = EraseEach(method, items, context, session, facts);
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

// Erases the items and, when every one was done, removes the folders. Returns
// the outcome to post, with `facts` set to what the job did.
JobOutcome EraseAndRemove(EraseMethodFn method, const std::vector<EraseItem>& items, std::vector<std::wstring> folders,
                          JobFacts& facts)
{
    const ItemsEnd end = EraseItems(method, items, facts);
    // The folders go only when every file in them is gone: a canceled item
    // left files behind even if the stop flag is clear by now.
    if (end != ItemsEnd::AllDone || stopRequested.load()) return OutcomeOf(end);
    const std::wstring folderLeft = RemoveFolders(std::move(folders));
    if (folderLeft.empty() || stopRequested.load()) return JobOutcomeOf(false);
    SendJobStatus(-1, folderLeft.c_str());
    return JobOutcome::Incomplete;
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
    JobFacts facts;
    const JobOutcome outcome = EraseAndRemove(method, items, std::move(folders), facts);
    SendJobFacts(facts);
    PostJobOutcome(outcome);
}
