// The controls of the main window, built once when the window is created.
#include "methods/erase_methods.h"
#include "ui/control_ids.h"
#include "ui/handlers.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <shellapi.h>

namespace {

struct ControlLayout {
    HWND UiState::*handle;
    int id;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;
    DWORD extendedStyle;
    int x, y, width, height;  // client pixels, deliberately not scaled
};

constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;

// In creation order, which is also the Tab order. The combo box height is
// its height with the list dropped down.
const ControlLayout kControls[] = {
    {&UiState::fileList, IDC_FILE_LIST, WC_LISTVIEWW, L"",
     kChild | WS_BORDER | LVS_REPORT | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER, WS_EX_CLIENTEDGE, 12, 27, 776, 200},
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

// Returns the system's message font; if the metrics cannot be read, the font
// of an all-zero description (the system default).
HFONT CreateDialogFont()
{
    NONCLIENTMETRICSW metrics = {};
    static_assert(sizeof(metrics) == 504, "the metrics size the system expects on Vista and later");
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

// Returns the new control, which also gets the dialog font except for the
// progress bar, which draws no text.
HWND CreateControl(HWND parent, const ControlLayout& layout)
{
    HWND control = CreateWindowExW(layout.extendedStyle, layout.className, layout.text, layout.style, layout.x, layout.y,
                                   layout.width, layout.height, parent,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(layout.id)), ui.instance, nullptr);
    if (layout.id != IDC_PROGRESS)
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(ui.dialogFont), TRUE);
    return control;
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

// Gives the file list its row style and its two columns, File Name and Status.
void SetUpFileList()
{
    SendMessageW(ui.fileList, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER);
    InsertListColumn(0, 500, L"File Name");
    InsertListColumn(1, 250, L"Status");
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
    ui.dialogFont = CreateDialogFont();
    for (const ControlLayout& layout : kControls)
        ui.*layout.handle = CreateControl(window, layout);
    SetUpFileList();
    SendMessageW(ui.progressBar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    FillMethodCombo();
    SendMessageW(ui.verifyCheck, BM_SETCHECK, BST_CHECKED, 0);
    DragAcceptFiles(window, TRUE);
}
