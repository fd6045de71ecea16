// The main window as the program creates it: class, title, frame, menus,
// every control's place and look, and the close rule without a job.
#include "tests/ui/window_test.h"

#include "app/main_window.h"
#include "app/ui_state.h"
#include "jobs/job_report.h"
#include "methods/erase_methods.h"
#include "ui/control_ids.h"

#include <commctrl.h>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Rect of a child in its parent's client coordinates.
RECT ChildRect(HWND child)
{
    RECT rect;
    GetWindowRect(child, &rect);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// What the program asked for when it created one window.
struct CreatedWindow {
    HWND parent;
    int id;
    std::wstring className;
    bool hasText;
    std::wstring text;
    DWORD style;
    DWORD extendedStyle;
    int x, y, width, height;
    // Returns everything but the parent, for comparison.
    auto Fields() const { return std::tie(id, className, hasText, text, style, extendedStyle, x, y, width, height); }
};

std::vector<CreatedWindow>* createdWindows = nullptr;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND && createdWindows) {
        const CREATESTRUCTW* create = reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs;
        bool namedClass = HIWORD(reinterpret_cast<ULONG_PTR>(create->lpszClass)) != 0;
        createdWindows->push_back({create->hwndParent, static_cast<int>(reinterpret_cast<INT_PTR>(create->hMenu)),
                                   namedClass ? create->lpszClass : L"", create->lpszName != nullptr,
                                   create->lpszName ? create->lpszName : L"", static_cast<DWORD>(create->style),
                                   create->dwExStyle, create->x, create->y, create->cx, create->cy});
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::wstring WindowText(HWND window)
{
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 256);
    return text;
}

std::wstring MenuText(HMENU menu, int position)
{
    wchar_t text[128] = {};
    GetMenuStringW(menu, position, text, 128, MF_BYPOSITION);
    return text;
}

}  // namespace

using MainWindowTest = WindowTest;

TEST_F(MainWindowTest, IsAFixedSizeWindowOfItsClassWithAnExactClientArea)
{
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    EXPECT_STREQ(L"TarnwickForensicsEraserWnd", className);
    EXPECT_EQ(L"Tarnwick File Eraser", WindowText(window));
    EXPECT_EQ(window, mainWindow);

    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(800, client.right - client.left);
    EXPECT_EQ(444, client.bottom - client.top);

    LONG style = GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(static_cast<LONG>(WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              style & ~(WS_VISIBLE | WS_CLIPSIBLINGS));
    EXPECT_EQ(0, style & WS_MAXIMIZEBOX);
    EXPECT_EQ(0, style & WS_THICKFRAME);
    EXPECT_TRUE(GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(MainWindowTest, HasTheThreeMenusWithTheirCommands)
{
    HMENU bar = GetMenu(window);
    ASSERT_NE(nullptr, bar);
    ASSERT_EQ(3, GetMenuItemCount(bar));
    const wchar_t* titles[] = {L"File", L"Tools", L"Information"};
    const wchar_t* items[] = {L"Exit", L"Wipe Free Space...", L"About Tarnwick File Eraser"};
    const UINT ids[] = {IDM_EXIT, IDM_WIPE_FREE_SPACE, IDM_ABOUT};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(titles[i], MenuText(bar, i));
        HMENU popup = GetSubMenu(bar, i);
        ASSERT_NE(nullptr, popup);
        ASSERT_EQ(1, GetMenuItemCount(popup));
        EXPECT_EQ(items[i], MenuText(popup, 0));
        EXPECT_EQ(ids[i], GetMenuItemID(popup, 0));
    }
}

TEST_F(MainWindowTest, ControlsAreCreatedInOrderWithTheirClassTextStyleAndPlace)
{
    // Create the window anew under a hook that sees every creation request,
    // since some of it (the combo box's dropped height, its scroll bar) cannot
    // be read back from the controls.
    DestroyWindow(window);
    PumpUntil([] { return true; });
    std::vector<CreatedWindow> created;
    createdWindows = &created;
    HHOOK hook = SetWindowsHookExW(WH_CBT, RecordCreation, nullptr, GetCurrentThreadId());
    window = CreateMainWindow(SW_SHOWNORMAL);
    UnhookWindowsHookEx(hook);
    createdWindows = nullptr;
    ASSERT_NE(nullptr, window);

    const CreatedWindow expected[] = {
        {window, IDC_FILE_LIST, L"SysListView32", true, L"", 0x50808009, WS_EX_CLIENTEDGE, 12, 27, 776, 200},
        {window, IDC_STATUS, L"STATIC", true, L"", 0x50000000, 0, 12, 230, 776, 16},
        {window, IDC_PROGRESS, L"msctls_progress32", false, L"", 0x50000000, 0, 12, 246, 776, 23},
        {window, IDC_METHOD_GROUP, L"BUTTON", true, L"Select Deletion Algorithm", 0x50000007, 0, 12, 275, 776,
         108},
        {window, IDC_METHOD_COMBO, L"COMBOBOX", true, L"", 0x50230003, 0, 34, 315, 740, 280},
        {window, IDC_VERIFY_CHECK, L"BUTTON", true, L"Verify primary stream by reading back from disk (doubles time)",
         0x50010003, 0, 34, 350, 700, 20},
        {window, IDC_START, L"BUTTON", true, L"Start", 0x50010000, 0, 12, 389, 75, 23},
        {window, IDC_CANCEL, L"BUTTON", true, L"Cancel", 0x58010000, 0, 93, 389, 75, 23},
    };
    std::vector<CreatedWindow> controls;
    for (const CreatedWindow& one : created) {
        if (one.parent == window)
            controls.push_back(one);
    }
    ASSERT_EQ(std::size(expected), controls.size());
    HWND child = GetWindow(window, GW_CHILD);
    for (size_t i = 0; i < controls.size(); ++i) {
        const CreatedWindow& want = expected[i];
        const CreatedWindow& got = controls[i];
        SCOPED_TRACE(want.id);
        EXPECT_EQ(want.Fields(), got.Fields());

        // The control as it stands: in creation (and Tab) order, in place, with the dialog font.
        ASSERT_NE(nullptr, child);
        EXPECT_EQ(want.id, GetDlgCtrlID(child));
        RECT rect = ChildRect(child);
        EXPECT_EQ(std::tie(want.x, want.y, want.width), std::make_tuple(rect.left, rect.top, rect.right - rect.left));
        if (want.id != IDC_METHOD_COMBO) {  // a closed drop-down list is only as tall as its edit part
            EXPECT_EQ(want.height, rect.bottom - rect.top);
        }
        if (want.id != IDC_PROGRESS) {
            EXPECT_EQ(ui.dialogFont, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, child) << "a control too many";
    EXPECT_NE(nullptr, ui.dialogFont);
}

TEST_F(MainWindowTest, StartsIdleWithTheRecommendedMethodAndVerificationOn)
{
    ASSERT_EQ(kEraseMethodCount, SendMessageW(ui.methodCombo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < kEraseMethodCount; ++i) {
        wchar_t name[256] = {};
        SendMessageW(ui.methodCombo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
        EXPECT_STREQ(EraseMethodTable[i].displayName, name);
    }
    EXPECT_EQ(0, SendMessageW(ui.methodCombo, CB_GETCURSEL, 0, 0));
    wchar_t shown[256] = {};
    GetWindowTextW(ui.methodCombo, shown, 256);
    EXPECT_STREQ(L"Random (1-pass) -- Recommended (NIST SP 800-88 Rev.2)", shown);
    EXPECT_EQ(BST_CHECKED, SendMessageW(ui.verifyCheck, BM_GETCHECK, 0, 0));
    EXPECT_TRUE(IsWindowEnabled(ui.startButton));
    EXPECT_FALSE(IsWindowEnabled(ui.cancelButton));
    EXPECT_EQ(L"", StatusLine());
    EXPECT_EQ(0, RowCount());

    EXPECT_EQ(static_cast<LRESULT>(LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES | LVS_EX_DOUBLEBUFFER),
              SendMessageW(ui.fileList, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0));
    const wchar_t* titles[] = {L"File Name", L"Status"};
    const int widths[] = {500, 250};
    for (int i = 0; i < 2; ++i) {
        wchar_t title[64] = {};
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
        column.pszText = title;
        column.cchTextMax = 64;
        ASSERT_TRUE(SendMessageW(ui.fileList, LVM_GETCOLUMNW, i, reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(titles[i], title);
        EXPECT_EQ(widths[i], column.cx);
        EXPECT_EQ(LVCFMT_LEFT, column.fmt & LVCFMT_JUSTIFYMASK);
    }
    PBRANGE range = {};
    SendMessageW(ui.progressBar, PBM_GETRANGE, FALSE, reinterpret_cast<LPARAM>(&range));
    EXPECT_EQ(0, range.iLow);
    EXPECT_EQ(100, range.iHigh);
}

TEST_F(MainWindowTest, ExitWithNoJobDestroysTheWindowAndEndsTheLoop)
{
    MenuCommand(IDM_EXIT);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(nullptr, ui.dialogFont) << "the font is deleted with the window";
    PumpUntil([] { return true; }, nullptr, 1000, &quitSeen);
    EXPECT_TRUE(quitSeen);
}

TEST_F(MainWindowTest, AboutOpensTheHomePageThroughTheShell)
{
    MenuCommand(IDM_ABOUT);
    auto calls = fake.CallsOf(OsFn::ShellExecuteW);
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ(L"open", calls[0].path2);
    EXPECT_EQ(0u, calls[0].path.rfind(L"https://", 0)) << Narrow(calls[0].path);
    EXPECT_EQ(SW_SHOWNORMAL, calls[0].number);
    EXPECT_TRUE(IsWindow(window));
}
