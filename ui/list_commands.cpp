// The commands that build and prune the list besides a drop: the open
// dialogs, the Delete key and Ctrl+A, and the list's context menu; and the
// lock that keeps them off the rows while a job runs.
#include "jobs/job_report.h"
#include "os/os_seam.h"
#include "ui/control_ids.h"
#include "ui/file_list.h"
#include "ui/handlers.h"
#include "ui/job_start.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windowsx.h>

namespace {

// Returns where a context menu opened from the keyboard goes: below the
// start of the focused row, brought into sight, or at the list's corner.
POINT KeyboardMenuPoint()
{
    POINT point = {0, 0};
    RECT rect;
    int row = ListView_GetNextItem(ui.fileList, -1, LVNI_FOCUSED);
    if (row >= 0 && ListView_EnsureVisible(ui.fileList, row, FALSE) &&
        ListView_GetItemRect(ui.fileList, row, &rect, LVIR_LABEL))
        point = {rect.left, rect.bottom};
    ClientToScreen(ui.fileList, &point);
    return point;
}

// A list that takes the focus with no focused row shows no focus at all, and
// a keyboard user would not know where the arrow keys start.
void ShowFocusedRow()
{
    if (ListView_GetItemCount(ui.fileList) > 0 && ListView_GetNextItem(ui.fileList, -1, LVNI_FOCUSED) < 0)
        ListView_SetItemState(ui.fileList, 0, LVIS_FOCUSED, LVIS_FOCUSED);
}

// Delete removes the selected rows; Ctrl+A selects every row.
void OnListKey(WORD key)
{
    if (key == VK_DELETE)
        OnRemoveFromList();
    else if (key == 'A' && GetKeyState(VK_CONTROL) < 0)
        OnSelectAll();
}

}  // namespace

void ShowListLocked(bool locked)
{
    HMENU menu = GetMenu(mainWindow);
    for (int id : {IDM_ADD_FILES, IDM_ADD_FOLDER})
        EnableMenuItem(menu, id, MF_BYCOMMAND | (locked ? MF_GRAYED : MF_ENABLED));
    DragAcceptFiles(mainWindow, !locked);
}

void OnAddPaths(bool folders)
{
    std::vector<std::wstring> paths;
    // The dialog runs its own message loop, in which a job may have started.
    if (JobIsRunning() || !os.ChooseOpenPaths(mainWindow, folders, &paths) || JobIsRunning())
        return;
    AddPathsToList(paths);
}

void OnRemoveFromList()
{
    if (!JobIsRunning())
        RemoveSelectedRows();
}

void OnSelectAll()
{
    ListView_SetItemState(ui.fileList, -1, LVIS_SELECTED, LVIS_SELECTED);
}

bool OnContextMenu(HWND target, LPARAM position)
{
    if (target != ui.fileList)
        return false;
    POINT point = {GET_X_LPARAM(position), GET_Y_LPARAM(position)};
    if (point.x == -1 && point.y == -1)
        point = KeyboardMenuPoint();
    const bool removable = ListView_GetSelectedCount(ui.fileList) > 0 && !JobIsRunning();
    const bool anyRow = ListView_GetItemCount(ui.fileList) > 0;
    HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING | (removable ? 0 : MF_GRAYED), IDM_REMOVE_FROM_LIST, L"Remove from List");
    AppendMenuW(menu, MF_STRING | (anyRow ? 0 : MF_GRAYED), IDM_SELECT_ALL, L"Select All");
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, point.x, point.y, 0, mainWindow, nullptr);
    DestroyMenu(menu);
    return true;
}

void OnNotify(const NMHDR& header)
{
    if (header.hwndFrom != ui.fileList)
        return;
    if (header.code == LVN_KEYDOWN)
        OnListKey(reinterpret_cast<const NMLVKEYDOWN&>(header).wVKey);
    else if (header.code == NM_SETFOCUS)
        ShowFocusedRow();
}
