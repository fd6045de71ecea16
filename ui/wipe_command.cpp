// The Wipe Free Space command.
#include "jobs/job_report.h"
#include "jobs/jobs.h"
#include "os/os_seam.h"
#include "ui/handlers.h"
#include "ui/job_record.h"
#include "ui/job_start.h"
#include "ui/ui_state.h"

#include <shlobj.h>
#include <cwchar>
#include <string>
#include <utility>

namespace {

// Shows that another job holds the worker thread.
void ShowBusy()
{
    os.MessageBoxW(mainWindow, L"Another operation is in progress.", L"Busy", MB_OK | MB_ICONWARNING);
}

// Returns true with the file-system path of the folder the user chose; false
// when the browser was canceled or the choice has no such path.
bool BrowseForWipeFolder(wchar_t (&folder)[MAX_PATH])
{
    BROWSEINFOW browse = {};
    browse.hwndOwner = mainWindow;
    browse.lpszTitle = L"Select a drive or folder on the target volume";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE item = os.SHBrowseForFolderW(&browse);
    if (!item)
        return false;
    BOOL hasPath = os.SHGetPathFromIDListW(item, folder);
    os.CoTaskMemFree(item);
    return hasPath != FALSE;
}

// Returns true when the user answered OK to wiping the free space of
// `volume`, told how much there is and whether it looks like an SSD.
bool UserConfirmsWipe(const wchar_t* volume, ULONGLONG availableBytes, bool ssdLike)
{
    wchar_t question[1024];
    swprintf(question, 1024,
             L"Wipe free space on drive %ls?\n\nFree space: %.2f GB\n\nResidual data from previously deleted "
             L"files will be overwritten. This may take time.%ls",
             volume, static_cast<double>(availableBytes) / 1073741824.0,
             ssdLike ? L"\n\nWarning: This drive is an SSD. Wear leveling may limit effectiveness." : L"");
    return os.MessageBoxW(mainWindow, question, L"Confirm Free Space Wipe", MB_OKCANCEL | MB_ICONWARNING) == IDOK;
}

}  // namespace

void OnWipeFreeSpace()
{
    if (JobIsRunning()) {
        ShowBusy();
        return;
    }
    wchar_t folder[MAX_PATH];
    wchar_t volume[MAX_PATH];
    ULARGE_INTEGER available;
    if (!BrowseForWipeFolder(folder) || !os.GetVolumePathNameW(folder, volume, MAX_PATH) ||
        !os.GetDiskFreeSpaceExW(volume, &available, nullptr, nullptr))
        return;
    const bool ssdLike = HasNoSeekPenalty(volume);
    if (!UserConfirmsWipe(volume, available.QuadPart, ssdLike))
        return;
    // The browser and the question run their own message loops, in which
    // another command may have started a job.
    if (JobIsRunning()) {
        ShowBusy();
        return;
    }
    const EraseMethod& method = CaptureJobOptions();
    BeginWipeRecord(folder, volume, method, ssdLike);
    StartJob(L"Started wiping free space...", true, [run = method.run, path = std::wstring(folder)]() mutable {
        FreeSpaceWipeJob(std::move(path), run);
    });
}
