#include "engine/random_name.h"
#include "jobs/job_report.h"
#include "jobs/jobs.h"
#include "jobs/wipe_files.h"
#include "os/verbatim_path.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr uint64_t kMiB = 1048576;
// Only more than this much free space is worth a wipe.
constexpr uint64_t kMinimumAvailable = 128 * kMiB;
// Left free while the wipe files are overwritten, so that the system and
// other programs keep some room meanwhile.
constexpr uint64_t kReserve = 64 * kMiB;
// A wipe file this small or smaller is not worth creating.
constexpr uint64_t kSmallestSize = 64 * kMiB;
// The filling of free file records ends once the free space has fallen by
// this much: the volume is then making room for more records out of the
// reserve, or stores even small files in clusters.
constexpr uint64_t kFillerDrop = kMiB;
constexpr int32_t kNoRow = -1;

// One erase's part of the wipe's single progress run: the engine's percent
// for the file maps onto [from, to) of the bytes of the whole wipe.
struct ProgressShare {
    ReportContext report;
    double from;
    double to;
    double total;
};

// Sends the wipe's overall percent for the engine's `percent` of one file.
// Returns what ReportProgress returns.
intptr_t ReportShareProgress(int32_t percent, void* context)
{
    auto* share = static_cast<ProgressShare*>(context);
    const double done = share->from + (share->to - share->from) * (percent / 100.0);
    return ReportProgress(static_cast<int32_t>(done * 100.0 / share->total), &share->report);
}

// Passes the engine's text on to the status line. Returns what
// ReportMessage returns.
intptr_t ReportShareMessage(const wchar_t* text, void* context)
{
    return ReportMessage(text, &static_cast<ProgressShare*>(context)->report);
}

// Sends `text` to the status line. Returns Failed.
JobOutcome FailWith(const wchar_t* text)
{
    SendJobStatus(kNoRow, text);
    return JobOutcome::Failed;
}

// Returns the free space the wipe can still count on: what the volume
// reports, but never more than what was free at the start less the lengths
// already given, since some volumes take no space for a length until it is
// written.
uint64_t StillAvailable(const WipeSet& set, uint64_t atStart)
{
    const uint64_t given = TotalLength(set);
    uint64_t reported = atStart;
    AvailableSpace(set.folder, reported);
    const uint64_t counted = atStart > given ? atStart - given : 0;
    return reported < counted ? reported : counted;
}

// A volume may cap the length of one file (4 GiB on FAT32, a quota): while
// more than the reserve and the smallest size is left, further files take
// it, until what is left is no more than that or no further file can be had.
void AddFurtherWipeFiles(WipeSet& set, uint64_t atStart)
{
    for (uint64_t left = StillAvailable(set, atStart); left > kReserve + kSmallestSize && !stopRequested.load();
         left = StillAvailable(set, atStart)) {
        std::wstring name;
        if (!DrawRandomName(name) || AddWipeFile(set, name, left - kReserve, kSmallestSize) != AddResult::Added) return;
    }
}

// Lets `method` overwrite the wipe file at `path` (which keeps its name, so
// that the set finds it if the method fails), reporting progress as bytes
// [from, to) of `total`. Returns the method's result.
EraseResult Overwrite(const std::wstring& path, double from, double to, double total, EraseMethodFn method)
{
    ProgressShare share{{mainWindow, kNoRow}, from, to, total};
    return method(path.c_str(), ReportShareProgress, ReportShareMessage, &share, &stopRequested, true);
}

// Overwrites every wipe file of the set in turn, stopping at the first that
// does not succeed. Returns that result, or Success.
EraseResult OverwriteWipeFiles(const WipeSet& set, double total, EraseMethodFn method)
{
    double done = 0;
    for (const std::unique_ptr<WipeFile>& file : set.files) {
        const double length = static_cast<double>(file->length);
        const EraseResult result = Overwrite(file->path, done, done + length, total, method);
        if (result != EraseResult::Success) return result;
        done += length;
    }
    return EraseResult::Success;
}

// Says how much of the free space no wipe file could take. Returns the
// outcome of a job that did what it could but left that undone.
JobOutcome ReportUnwiped(uint64_t unwiped)
{
    wchar_t text[128];
    swprintf(text, 128, L"Could not allocate all free space; %llu MiB were not wiped.",
             static_cast<unsigned long long>(unwiped / kMiB));
    SendJobStatus(kNoRow, text);
    return JobOutcome::Incomplete;
}

// Says which hidden file of the wipe is still there. Returns Incomplete: the
// window keeps the text, so the user learns where it is.
JobOutcome ReportLeftOver(const WipeSet& set)
{
    const std::wstring& path = set.files.empty() ? set.spare.front() : set.files.front()->path;
    SendJobStatus(kNoRow, (L"Could not delete wipe file: " + ShownPath(path)).c_str());
    return JobOutcome::Incomplete;
}

// With the first wipe file in the set, allocates the others, overwrites them
// and fills the free file records. Returns the outcome.
JobOutcome WipeAllocated(WipeSet& set, uint64_t atStart, EraseMethodFn method)
{
    AddFurtherWipeFiles(set, atStart);
    if (stopRequested.load()) return JobOutcome::Canceled;
    const uint64_t left = StillAvailable(set, atStart);
    const EraseResult result = OverwriteWipeFiles(set, static_cast<double>(TotalLength(set)), method);
    if (result != EraseResult::Success || !FillFreeFileRecords(set, kFillerDrop) || stopRequested.load()) {
        return JobOutcomeOf(true);
    }
    ReportContext report{mainWindow, kNoRow};
    ReportProgress(100, &report);
    return left > kReserve + kSmallestSize ? ReportUnwiped(left - kReserve) : JobOutcome::Completed;
}

// Creates the first wipe file, named `name`, with the available space less
// the reserve, and wipes from there. Returns the outcome.
JobOutcome WipeWithSet(WipeSet& set, const std::wstring& name, uint64_t available, EraseMethodFn method)
{
    const AddResult first = AddWipeFile(set, name, available - kReserve, kSmallestSize);
    if (first == AddResult::NotCreated) return FailWith(L"Failed to create wipe file.");
    if (first == AddResult::NoSpace) {
        return stopRequested.load() ? JobOutcome::Canceled : FailWith(L"Failed to allocate wipe space.");
    }
    return WipeAllocated(set, available, method);
}

// Runs the wipe from the free-space check to the deletion of every file it
// made; a file that cannot be deleted makes it Incomplete.
// Returns the outcome to post.
JobOutcome WipeFreeSpace(const std::wstring& folder, EraseMethodFn method)
{
    uint64_t available = 0;
    if (!AvailableSpace(folder, available)) return FailWith(L"Failed to query free space.");
    if (available <= kMinimumAvailable) return FailWith(L"Not enough free space to wipe.");
    std::wstring name;
    if (!DrawRandomName(name)) return FailWith(L"Failed to obtain cryptographic random for filename.");
    SendJobStatus(kNoRow, L"Allocating wipe space...");
    WipeSet set(folder);
    const JobOutcome outcome = WipeWithSet(set, name, available, method);
    return DeleteWipeSet(set) ? outcome : ReportLeftOver(set);
}

}  // namespace

void FreeSpaceWipeJob(std::wstring folder, EraseMethodFn method)
{
    PostJobOutcome(WipeFreeSpace(VerbatimPath(folder), method));
}
