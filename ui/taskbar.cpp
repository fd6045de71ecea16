#include "ui/taskbar.h"

#include "jobs/job_report.h"
#include "os/os_seam.h"

#include <shobjidl.h>

namespace {

// The button's list, or null before the shell made the button or where it
// offers none; and whether it shows an error or attention state.
ITaskbarList3* taskbarList = nullptr;
bool attentionShown = false;

}  // namespace

void OnTaskbarButtonCreated()
{
    if (taskbarList != nullptr) return;
    ITaskbarList3* list = nullptr;
    if (FAILED(os.CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                                   reinterpret_cast<void**>(&list))) || list == nullptr) {
        return;
    }
    if (FAILED(list->HrInit())) {
        list->Release();
        return;
    }
    taskbarList = list;
}

void ShowTaskbarProgress(uint64_t done, uint64_t total)
{
    if (taskbarList == nullptr) return;
    attentionShown = false;
    taskbarList->SetProgressValue(mainWindow, done, total);
}

void ShowTaskbarState(TaskbarState state)
{
    if (taskbarList == nullptr) return;
    const TBPFLAG flags[] = {TBPF_NOPROGRESS, TBPF_NORMAL, TBPF_ERROR, TBPF_PAUSED};
    attentionShown = state == TaskbarState::Error || state == TaskbarState::Attention;
    taskbarList->SetProgressState(mainWindow, flags[static_cast<int>(state)]);
}

void ClearTaskbarAttention()
{
    if (attentionShown) ShowTaskbarState(TaskbarState::None);
}

void ReleaseTaskbar()
{
    if (taskbarList != nullptr) taskbarList->Release();
    taskbarList = nullptr;
    attentionShown = false;
}
