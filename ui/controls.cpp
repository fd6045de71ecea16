// The controls of the main window: built when the window is created, and
// laid out again for the new scaling when the window moves to a monitor of
// another DPI.
#include "methods/erase_methods.h"
#include "ui/control_ids.h"
#include "ui/dpi.h"
#include "ui/handlers.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <shellapi.h>
#include <iterator>

namespace {

struct ControlLayout {
    HWND UiState::*handle;
    int id;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    DWORD extendedStyle;
    int x, y, width, height;  // client pixels on a 96-DPI display
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// In creation order, which is also the Tab order; the list is a tab stop so
// that the keyboard reaches its rows, and its own group so that the arrow
// keys stay inside it. The combo box height is its height with the list
// dropped down.
const ControlLayout kControls[] = {
    {&UiState::fileList, IDC_FILE_LIST, WC_LISTVIEWW, L"",
     kChild | WS_BORDER | WS_TABSTOP | WS_GROUP | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
     WS_EX_CLIENTEDGE, 12, 27, 776, 200},
    {&UiState::statusLine, IDC_STATUS, L"STATIC", L"", kChild, 0, 12, 230, 776, 16},
    {&UiState::progressBar, IDC_PROGRESS, PROGRESS_CLASSW, nullptr, kChild, 0, 12, 246, 776, 23},
    {&UiState::methodGroup, IDC_METHOD_GROUP, L"BUTTON", L"Select Deletion Algorithm", kChild | BS_GROUPBOX, 0,
     12, 275, 776, 108},
    {&UiState::methodCombo, IDC_METHOD_COMBO, L"COMBOBOX", L"",
     kChild | WS_VSCROLL | WS_GROUP | WS_TABSTOP | CBS_DROPDOWNLIST, 0, 34, 315, 740, 280},
    {&UiState::verifyCheck, IDC_VERIFY_CHECK, L"BUTTON",
     L"Verify primary stream by reading back from disk (doubles time)", kChild | WS_TABSTOP | BS_AUTOCHECKBOX, 0,
     34, 350, 700, 20},
    {&UiState::startButton, IDC_START, L"BUTTON", L"Start", kChild | WS_TABSTOP | BS_PUSHBUTTON, 0, 12, 389, 75,
     23},
    {&UiState::cancelButton, IDC_CANCEL, L"BUTTON", L"Cancel", kChild | WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON,
     0, 93, 389, 75, 23},
};

// Returns the control's rectangle in the window's client area at `dpi`.
RECT ControlRect(const ControlLayout& layout, UINT dpi)
{
    int left = ScaledForDpi(layout.x, dpi);
    int top = ScaledForDpi(layout.y, dpi);
    return {left, top, left + ScaledForDpi(layout.width, dpi), top + ScaledForDpi(layout.height, dpi)};
}

// Returns the new control, placed for `dpi`; its font is given afterwards.
HWND CreateControl(HWND parent, const ControlLayout& layout, UINT dpi)
{
    RECT rect = ControlRect(layout, dpi);
    return CreateWindowExW(layout.extendedStyle, layout.className, layout.text, layout.style, rect.left, rect.top,
                           rect.right - rect.left, rect.bottom - rect.top, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), ui.instance, nullptr);
}

// Appends a left-aligned column to the file list.
void InsertListColumn(int index, int width, const wchar_t* title)
{
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = width;
    column.pszText = const_cast<wchar_t*>(title);
    SendMessageW(ui.fileList, LVM_INSERTCOLUMNW, index, reinterpret_cast<LPARAM>(&column));
}

struct ListColumn {
    const wchar_t* title;
    int width;  // pixels on a 96-DPI display
};
const ListColumn kListColumns[] = {{L"File Name", 500}, {L"Status", 250}};
constexpr int kListColumnCount = static_cast<int>(std::size(kListColumns));

// Gives the file list its row style and its two columns, File Name and Status.
void SetUpFileList(UINT dpi)
{
    SendMessageW(ui.fileList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    for (int index = 0; index < kListColumnCount; ++index)
        InsertListColumn(index, ScaledForDpi(kListColumns[index].width, dpi), kListColumns[index].title);
}

// Gives every control but the progress bar, which draws no text, the message
// font for `dpi`. The font they had is deleted only once none uses it.
void ApplyDialogFont(UINT dpi)
{
    HFONT previous = ui.dialogFont;
    ui.dialogFont = CreateMessageFontForDpi(dpi);
    for (const ControlLayout& layout : kControls) {
        if (layout.id != IDC_PROGRESS)
            SendMessageW(ui.*layout.handle, WM_SETFONT, reinterpret_cast<WPARAM>(ui.dialogFont), TRUE);
    }
    if (previous)
        DeleteObject(previous);
}

// The combo box lists the whole method table in order, so a combo index is
// a method index; the first (recommended) method is preselected.
void FillMethodCombo()
{
    for (const EraseMethod& method : EraseMethodTable)
        SendMessageW(ui.methodCombo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(method.displayName));
    SendMessageW(ui.methodCombo, CB_SETCURSEL, 0, 0);
}

}  // namespace

void OnCreate(HWND window)
{
    UINT dpi = WindowDpi(window);
    for (const ControlLayout& layout : kControls)
        ui.*layout.handle = CreateControl(window, layout, dpi);
    ApplyDialogFont(dpi);
    SetUpFileList(dpi);
    SendMessageW(ui.progressBar, PBM_SETRANGE32, 0, kProgressRange);
    FillMethodCombo();
    SendMessageW(ui.verifyCheck, BM_SETCHECK, BST_CHECKED, 0);
    DragAcceptFiles(window, TRUE);
}

void OnDpiChanged(HWND window, UINT dpi, const RECT& suggested)
{
    SetWindowPos(window, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
                 suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ApplyDialogFont(dpi);
    for (const ControlLayout& layout : kControls) {
        RECT rect = ControlRect(layout, dpi);
        SetWindowPos(ui.*layout.handle, nullptr, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    for (int index = 0; index < kListColumnCount; ++index)
        SendMessageW(ui.fileList, LVM_SETCOLUMNWIDTH, index, ScaledForDpi(kListColumns[index].width, dpi));
}
