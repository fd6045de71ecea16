#include "ui/job_record.h"

#include "engine/erase_types.h"
#include "ui/control_ids.h"
#include "ui/file_list.h"
#include "ui/ui_state.h"

#include <algorithm>

JobRecord lastJob;

namespace {

// A report can be saved of a job that has ended, and of no other.
void ShowReportAvailable(bool available)
{
    EnableMenuItem(GetMenu(mainWindow), IDM_SAVE_REPORT, MF_BYCOMMAND | (available ? MF_ENABLED : MF_GRAYED));
}

// Starts a record common to both jobs. Returns nothing.
void BeginRecord(bool wipe, const EraseMethod& method, bool ssdWarning)
{
    ShowReportAvailable(false);
    lastJob = JobRecord();
    lastJob.wipe = wipe;
    lastJob.method = method.displayName;
    lastJob.passes = method.passes;
    lastJob.readBack = verifyReadBack.load() != 0;
    lastJob.ssdWarning = ssdWarning;
    GetSystemTimeAsFileTime(&lastJob.started);
}

}  // namespace

void BeginEraseRecord(const std::vector<EraseItem>& items, const std::vector<std::wstring>& folders,
                      const EraseMethod& method, bool ssdWarning)
{
    BeginRecord(false, method, ssdWarning);
    for (const EraseItem& item : items) lastJob.files.push_back({item.row, item.path, item.size, L""});
    lastJob.folders = folders;
}

// The volume is asked now, on this thread, so that the record holds what it
// was when the wipe began.
void BeginWipeRecord(const std::wstring& folder, const std::wstring& volume, const EraseMethod& method,
                     bool ssdWarning)
{
    BeginRecord(true, method, ssdWarning);
    lastJob.wipeFolder = folder;
    lastJob.volume.path = volume;
    wchar_t label[MAX_PATH + 1] = {}, fileSystem[MAX_PATH + 1] = {};
    if (GetVolumeInformationW(volume.c_str(), label, MAX_PATH + 1, &lastJob.volume.serial, nullptr, nullptr,
                              fileSystem, MAX_PATH + 1)) {
        lastJob.volume.label = label;
        lastJob.volume.fileSystem = fileSystem;
    }
}

void NoteRowReported(int row)
{
    auto file = std::lower_bound(lastJob.files.begin(), lastJob.files.end(), row,
                                 [](const RecordedFile& f, int r) { return f.row < r; });
    if (file != lastJob.files.end() && file->row == row) file->reached = true;
}

void OnAppJobFacts(WPARAM facts)
{
    lastJob.facts = *reinterpret_cast<const JobFacts*>(facts);
    if (lastJob.facts.leftRow >= 0) FollowMovedFile(lastJob.facts.leftRow, lastJob.facts.leftAt);
}

void EndJobRecord(JobOutcome outcome)
{
    for (RecordedFile& file : lastJob.files) {
        if (file.reached) file.status = RowStatusText(file.row);
    }
    wchar_t text[1024] = {};
    GetWindowTextW(ui.statusLine, text, 1024);
    lastJob.outcome = outcome;
    lastJob.outcomeText = text;
    GetSystemTimeAsFileTime(&lastJob.finished);
    lastJob.ended = true;
    ShowReportAvailable(true);
}
