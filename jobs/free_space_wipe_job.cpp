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
// The first wipe file is not worth creating at this size or smaller.
constexpr uint64_t kSmallestSize = 64 * kMiB;
// Further files take what is left down to the reserve, unless that is this
// little, which the volume's own bookkeeping may take meanwhile.
constexpr uint64_t kSmallestFurther = kMiB;
// The filling of free file records ends once the free space has fallen by
// this much: the volume is then making room for more records out of the
// reserve, or stores even small files in clusters.
constexpr uint64_t kFillerDrop = kMiB;
constexpr int32_t kNoRow = -1;

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
// more than the reserve is left, further files take it, down to the reserve,
// until no further file can be had.
void AddFurtherWipeFiles(WipeSet& set, uint64_t atStart)
{
    for (uint64_t left = StillAvailable(set, atStart); left > kReserve + kSmallestFurther && !stopRequested.load();
         left = StillAvailable(set, atStart)) {
        std::wstring name;
        if (!DrawRandomName(name) || AddWipeFile(set, name, left - kReserve, kSmallestFurther) != AddResult::Added) return;
    }
}

// The whole wipe's work, for its progress: every wipe file's bytes times
// the passes, read back when verification is on, and a hundredth more for
// the filling of free file records, whose extent no one knows beforehand.
void PlanWipeWork(const WipeSet& set, int32_t passes, JobWork& work)
{
    const uint64_t perByte = static_cast<uint64_t>(passes) * (verifyReadBack.load() != 0 ? 2 : 1);
    work.total = TotalLength(set) * perByte;
    work.total += work.total / 100 + 1;
    work.items = static_cast<int32_t>(set.files.size());
}

// Lets `method` overwrite every wipe file of the set in turn (each keeps its
// name, so that the set finds it if the method fails), stopping at the first
// that does not succeed. Returns that result, or Success, with `overwritten`
// set to the bytes the passes wrote over the files that succeeded.
EraseResult OverwriteWipeFiles(const WipeSet& set, EraseMethodFn method, ReportContext& report, uint64_t& overwritten)
{
    const int32_t passes = PassCountOf(method);
    const uint64_t perByte = static_cast<uint64_t>(passes) * (verifyReadBack.load() != 0 ? 2 : 1);
    PlanWipeWork(set, passes, report.work);
    for (const std::unique_ptr<WipeFile>& file : set.files) {
        BeginJobItem(report, file->length * perByte, 0);
        const EraseResult result = method(file->path.c_str(), ReportProgress, ReportMessage, &report, &stopRequested, true);
        if (result != EraseResult::Success) return result;
        FinishJobItem(report);
        overwritten += file->length * static_cast<uint64_t>(passes);
    }
    return EraseResult::Success;
}

// Says how much of the free space no wipe file could take, or that a quota
// kept part of the volume's free space from this user. Returns Incomplete,
// or Completed when neither is the case.
JobOutcome ReportWhatStayed(uint64_t left, uint64_t available, uint64_t volumeFree)
{
    wchar_t text[256];
    if (left > kReserve + kSmallestFurther) {
        swprintf(text, 256, L"Could not allocate all free space; %llu MiB were not wiped.",
                 static_cast<unsigned long long>((left - kReserve) / kMiB));
    } else if (volumeFree > available + kSmallestFurther) {
        swprintf(text, 256, L"Only your share of the free space was wiped: a disk quota keeps %llu MiB more of it "
                            L"from this account.", static_cast<unsigned long long>((volumeFree - available) / kMiB));
    } else {
        return JobOutcome::Completed;
    }
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
// and fills the free file records, reporting the whole wipe's progress and,
// in `facts`, what it did. Returns the outcome.
JobOutcome WipeAllocated(WipeSet& set, uint64_t available, uint64_t volumeFree, EraseMethodFn method, JobFacts& facts)
{
    AddFurtherWipeFiles(set, available);
    if (stopRequested.load()) return JobOutcome::Canceled;
    const uint64_t left = StillAvailable(set, available);
    ReportContext report{mainWindow, kNoRow};
    const bool overwritten = OverwriteWipeFiles(set, method, report, facts.bytesOverwritten) == EraseResult::Success;
    if (overwritten) BeginJobItem(report, 0, report.work.total - report.work.finished);
    const bool filled = overwritten && FillFreeFileRecords(set, kFillerDrop, facts.fillerFiles) && !stopRequested.load();
    if (filled) FinishJobItem(report);
    SendQueuedReports(report);
    return filled ? ReportWhatStayed(left, available, volumeFree) : JobOutcomeOf(true);
}

// Creates the first wipe file, named `name`, with the available space less
// the reserve, and wipes from there. Returns the outcome.
JobOutcome WipeWithSet(WipeSet& set, const std::wstring& name, uint64_t available, uint64_t volumeFree,
                       EraseMethodFn method, JobFacts& facts)
{
    const AddResult first = AddWipeFile(set, name, available - kReserve, kSmallestSize);
    if (first == AddResult::NotCreated) return FailWith(L"Failed to create wipe file.");
    if (first == AddResult::NoSpace) {
        return stopRequested.load() ? JobOutcome::Canceled : FailWith(L"Failed to allocate wipe space.");
    }
    return WipeAllocated(set, available, volumeFree, method, facts);
}

// Deletes what an earlier wipe left in `folder` and says so. Returns nothing.
void RemoveEarlierWipe(const std::wstring& folder, JobFacts& facts)
{
    uint64_t bytes = 0;
    const size_t removed = RemoveEarlierWipeFiles(folder, bytes);
    facts.earlierFilesRemoved = removed;
    facts.earlierBytesRemoved = bytes;
    if (removed == 0) return;
    wchar_t text[128];
    swprintf(text, 128, L"Removed %llu file%ls left by an earlier wipe (%ls).", static_cast<unsigned long long>(removed),
             removed == 1 ? L"" : L"s", SizeText(bytes).c_str());
    SendJobStatus(kNoRow, text);
}

// Runs the wipe from the removal of an earlier wipe's files to the deletion
// of every file it made; a file that cannot be deleted makes it Incomplete.
// Returns the outcome to post, with `facts` set to what it did.
JobOutcome WipeFreeSpace(const std::wstring& folder, EraseMethodFn method, JobFacts& facts)
{
    RemoveEarlierWipe(folder, facts);
    uint64_t available = 0, volumeFree = 0;
    if (!AvailableSpace(folder, available, &volumeFree)) return FailWith(L"Failed to query free space.");
    if (available <= kMinimumAvailable) return FailWith(L"Not enough free space to wipe.");
    std::wstring name;
    if (!DrawRandomName(name)) return FailWith(L"Failed to obtain cryptographic random for filename.");
    SendJobStatus(kNoRow, L"Allocating wipe space...");
    WipeSet set(folder);
    const JobOutcome outcome = WipeWithSet(set, name, available, volumeFree, method, facts);
    return DeleteWipeSet(set) ? outcome : ReportLeftOver(set);
}

}  // namespace

void FreeSpaceWipeJob(std::wstring folder, EraseMethodFn method)
{
    JobFacts facts;
    const JobOutcome outcome = WipeFreeSpace(VerbatimPath(folder), method, facts);
    SendJobFacts(facts);
    PostJobOutcome(outcome);
}
