// Entering and leaving the running state around the start of a worker job.
#include "ui/job_start.h"

#include "engine/erase_types.h"
#include "jobs/job_report.h"
#include "os/os_seam.h"
#include "ui/file_list.h"
#include "ui/job_progress_view.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <utility>

namespace {

const wchar_t kNoWorkerText[] =
    L"Could not start the operation: Windows refused to create a worker thread. Nothing was changed.";

// Shows the window as idle or running: buttons, list, progress bar and
// status line.
void ShowRunningState(bool running, const wchar_t* statusText)
{
    ShowListLocked(running);
    EnableWindow(ui.startButton, !running);
    EnableWindow(ui.cancelButton, running);
    SendMessageW(ui.progressBar, PBM_SETPOS, 0, 0);
    SetWindowTextW(ui.statusLine, statusText);
}

}  // namespace

bool JobIsRunning()
{
    return workerThread.joinable();
}

const EraseMethod& CaptureJobOptions()
{
    LRESULT selection = SendMessageW(ui.methodCombo, CB_GETCURSEL, 0, 0);
    bool verify = SendMessageW(ui.verifyCheck, BM_GETCHECK, 0, 0) == BST_CHECKED;
    verifyReadBack.exchange(verify ? 1 : 0);
    stopRequested.exchange(0);
    return SelectEraseMethod(selection);
}

bool StartJob(const wchar_t* startedText, bool wipe, std::function<void()> job)
{
    ShowRunningState(true, startedText);
    ShowJobProgressStarted(wipe);
    if (os.StartThread(std::move(job), &workerThread))
        return true;
    // No job will ever post WM_APP_FINISHED, so leave the running state here,
    // and say why in both the status line and a box the user cannot miss.
    ShowRunningState(false, kNoWorkerText);
    ShowJobProgressEnded(JobOutcome::Canceled);
    os.MessageBoxW(mainWindow, kNoWorkerText, L"Tarnwick File Eraser", MB_OK | MB_ICONERROR);
    return false;
}
