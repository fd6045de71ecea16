// The Start and Cancel commands.
#include "engine/erase_types.h"
#include "jobs/job_report.h"
#include "jobs/jobs.h"
#include "os/os_seam.h"
#include "ui/file_list.h"
#include "ui/handlers.h"
#include "ui/job_record.h"
#include "ui/job_start.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <map>
#include <string>
#include <utility>

namespace {

const wchar_t kSsdWarning[] =
    L"Warning: one or more files are on a drive reported as SSD-like.\n"
    L"(Detection is heuristic, based on the storage \"seek penalty\" hint; false positives are possible.)\n\n"
    L"On SSDs, wear leveling can leave residual data in physical cells even after host-side overwrite. "
    L"For stronger assurance, use ATA/NVMe Sanitize, or full-drive encryption (e.g. BitLocker) with key "
    L"destruction.\n\nProceed with overwrite anyway?";

// Returns one item per list row whose item data names an entry of
// droppedFiles, in row order; rows that do not are left out, and so are the
// rows a job has erased already, whose files are gone.
std::vector<EraseItem> CollectEraseItems(int rowCount)
{
    std::vector<EraseItem> items;
    for (int row = 0; row < rowCount; ++row) {
        LVITEMW item = {};
        item.mask = LVIF_PARAM;
        item.iItem = row;
        if (!SendMessageW(ui.fileList, LVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)))
            continue;
        if (item.lParam < 0 || static_cast<size_t>(item.lParam) >= droppedFiles.size() ||
            RowShows(row, ItemStatus(EraseResult::Success)))
            continue;
        items.push_back({row, droppedFiles[item.lParam], droppedSizes[item.lParam]});
    }
    return items;
}

// Returns the line that says what Start erases: every row not Done, not only
// the highlighted ones, which the question alone could be read to mean.
std::wstring WhatStartErases(size_t items, size_t rows)
{
    std::wstring subject =
        items == 1 ? L"The file" : (items == rows ? L"All " : L"The ") + GroupedDigits(items) + L" files";
    return subject + L" in the list" + (items == rows ? L"" : L" not marked Done") +
           L" will be overwritten and deleted.";
}

// Finds the volume path of the file at `path` into `volume`. Files directly
// in one folder lie on that folder's volume, so the system is asked once per
// folder: `volumeByFolder` keeps each answer under the folder's exact text,
// its trailing separator included. A failure is not kept. Returns false when
// the volume cannot be found.
bool FindVolumeOf(const std::wstring& path, std::map<std::wstring, std::wstring>& volumeByFolder,
                  std::wstring& volume)
{
    const size_t separator = path.find_last_of(L"\\/");
    const std::wstring folder = separator == std::wstring::npos ? std::wstring() : path.substr(0, separator + 1);
    auto known = volumeByFolder.find(folder);
    if (!folder.empty() && known != volumeByFolder.end()) {
        volume = known->second;
        return true;
    }
    wchar_t found[MAX_PATH];
    if (!os.GetVolumePathNameW(path.c_str(), found, MAX_PATH))
        return false;
    volume = found;
    if (!folder.empty())
        volumeByFolder.emplace(folder, volume);
    return true;
}

// Returns true when an item lies on a volume that reports no seek penalty.
// Each volume is probed at most once; an item whose volume cannot be found
// is not considered.
bool AnyItemOnSsdLikeVolume(const std::vector<EraseItem>& items)
{
    std::map<std::wstring, std::wstring> volumeByFolder;
    std::map<std::wstring, bool> volumeSeekCache;
    for (const EraseItem& item : items) {
        std::wstring volume;
        if (!FindVolumeOf(item.path, volumeByFolder, volume))
            continue;
        auto known = volumeSeekCache.find(volume);
        bool noSeekPenalty = known != volumeSeekCache.end()
                                 ? known->second
                                 : (volumeSeekCache[volume] = HasNoSeekPenalty(item.path.c_str()));
        if (noSeekPenalty)
            return true;
    }
    return false;
}

// Returns true when the user answered OK to the one question before an
// erase: the SSD warning when it applies, else the plain confirmation, each
// followed by `whatHappens`.
bool UserConfirmsErase(bool ssdLike, const std::wstring& whatHappens)
{
    std::wstring text =
        (ssdLike ? kSsdWarning : L"Overwrite and delete the selected files?") + (L"\n\n" + whatHappens);
    return os.MessageBoxW(mainWindow, text.c_str(), ssdLike ? L"SSD Warning" : L"Confirmation",
                          MB_OKCANCEL | MB_ICONEXCLAMATION) == IDOK;
}

}  // namespace

void OnStartErase()
{
    // Start is disabled while a job runs, but a click message still reaches
    // us under some systems: ignore it rather than start a second job.
    if (JobIsRunning())
        return;
    int rowCount = static_cast<int>(SendMessageW(ui.fileList, LVM_GETITEMCOUNT, 0, 0));
    if (rowCount == 0) {
        os.MessageBoxW(mainWindow, L"Drag and drop the files you want to delete.", L"No Items",
                       MB_OK | MB_ICONINFORMATION);
        return;
    }
    std::vector<EraseItem> items = CollectEraseItems(rowCount);
    if (items.empty()) {
        os.MessageBoxW(mainWindow, L"Every file in the list has been erased. Add or drop files to erase more.",
                       L"No Items", MB_OK | MB_ICONINFORMATION);
        return;
    }
    // The question box runs its own message loop, in which another command
    // may have started a job, or a drop replaced the rows that the items and
    // the question are about.
    const uint64_t listChangesAsked = fileListChanges;
    const bool ssdLike = AnyItemOnSsdLikeVolume(items);
    if (!UserConfirmsErase(ssdLike, WhatStartErases(items.size(), rowCount)) || JobIsRunning() ||
        fileListChanges != listChangesAsked)
        return;
    const EraseMethod& method = CaptureJobOptions();
    BeginEraseRecord(items, droppedFolders, method, ssdLike);
    StartJob(L"Started erasing files...", false,
             [run = method.run, items = std::move(items), folders = droppedFolders]() mutable {
                 FileEraseJob(run, std::move(items), std::move(folders));
             });
}

void OnCancel()
{
    stopRequested.exchange(1);
    SetWindowTextW(ui.statusLine, L"Stop request received...");
}
