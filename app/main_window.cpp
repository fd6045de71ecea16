#include "app/main_window.h"

#include "engine/erase_types.h"
#include "jobs/job_report.h"
#include "os/os_seam.h"
#include "ui/control_ids.h"
#include "ui/dpi.h"
#include "ui/handlers.h"
#include "ui/taskbar.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <ole2.h>

const wchar_t kMainWindowClass[] = L"TarnwickForensicsEraserWnd";

namespace {

// Fixed size: no maximise box and no sizing border.
constexpr DWORD kMainWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// The client area on a 96-DPI display; it grows with the display's scaling.
constexpr int kClientWidth = 800;
constexpr int kClientHeight = 444;
const wchar_t kHomePage[] = L"https://www.tarnwick.example/file-eraser/";
// The messages by which a drop from another process arrives; 0x0049, which
// carries the drop's data, has no name in the SDK.
constexpr UINT kDropMessages[] = {WM_DROPFILES, WM_COPYDATA, 0x0049};

// The control that had the focus when the window was last deactivated.
HWND focusBeforeDeactivation = nullptr;

// Returns the menu bar: File, Tools, Information. Exit stays the last item
// of File, after a separator; a report can be saved once a job has ended.
HMENU BuildMenuBar()
{
    HMENU bar = CreateMenu();
    HMENU file = CreatePopupMenu();
    AppendMenuW(file, MF_STRING, IDM_ADD_FILES, L"Add Files...");
    AppendMenuW(file, MF_STRING, IDM_ADD_FOLDER, L"Add Folder...");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING | MF_GRAYED, IDM_SAVE_REPORT, L"Save Report...");
    AppendMenuW(file, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(file, MF_STRING, IDM_EXIT, L"Exit");
    HMENU tools = CreatePopupMenu();
    AppendMenuW(tools, MF_STRING, IDM_WIPE_FREE_SPACE, L"Wipe Free Space...");
    HMENU information = CreatePopupMenu();
    AppendMenuW(information, MF_STRING, IDM_ABOUT, L"About Tarnwick File Eraser");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(file), L"File");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(tools), L"Tools");
    AppendMenuW(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(information), L"Information");
    return bar;
}

// The message by which the shell tells that the window's taskbar button
// exists; registered by name, as every program that uses it does.
UINT taskbarButtonCreated = 0;

// Deletes the dialog font, lets go of the taskbar button and ends the
// message loop.
void OnDestroy()
{
    if (ui.dialogFont) {
        DeleteObject(ui.dialogFont);
        ui.dialogFont = nullptr;
    }
    ReleaseTaskbar();
    PostQuitMessage(0);
}

// Closing while a job runs only asks it to stop and hides the window: the
// worker may be blocked in a send to this thread, so we must not wait for it
// here. WM_APP_FINISHED destroys the window once the job has ended.
void OnClose(HWND window)
{
    if (!workerThread.joinable() || closeAfterJob) {
        DestroyWindow(window);
        return;
    }
    stopRequested.exchange(1);
    closeAfterJob = true;
    ShowWindow(window, SW_HIDE);
}

// The window gives the focus back to the control that had it when the
// window was deactivated, as a dialog does, and to the list the first time:
// else Alt+Tab, a message box or a closed dialog would leave a keyboard user
// on the bare window, with no control to act on. A window brought to the
// front has been seen: its taskbar button no longer calls for attention.
void OnActivate(HWND window, UINT state, bool minimized)
{
    HWND focus = GetFocus();
    if (state == WA_INACTIVE && focus && IsChild(window, focus))
        focusBeforeDeactivation = focus;
    else if (state != WA_INACTIVE && !minimized)
        SetFocus(focusBeforeDeactivation && IsChild(window, focusBeforeDeactivation) ? focusBeforeDeactivation
                                                                                     : ui.fileList);
    if (state != WA_INACTIVE) ClearTaskbarAttention();
}

// Routes a menu or button command to its handler; unknown ids do nothing.
void OnCommand(HWND window, int id)
{
    switch (id) {
    case IDC_START: OnStartErase(); break;
    case IDC_CANCEL: OnCancel(); break;
    case IDM_ADD_FILES: OnAddPaths(false); break;
    case IDM_ADD_FOLDER: OnAddPaths(true); break;
    case IDM_REMOVE_FROM_LIST: OnRemoveFromList(); break;
    case IDM_SELECT_ALL: OnSelectAll(); break;
    case IDM_SAVE_REPORT: OnSaveReport(); break;
    case IDM_EXIT: SendMessageW(window, WM_CLOSE, 0, 0); break;
    case IDM_ABOUT: os.ShellExecuteW(nullptr, L"open", kHomePage, nullptr, nullptr, SW_SHOWNORMAL); break;
    case IDM_WIPE_FREE_SPACE: OnWipeFreeSpace(); break;
    default: break;  // ids that IsDialogMessageW generates, among others
    }
}

}  // namespace

bool InitApplication(HINSTANCE instance)
{
    ui.instance = instance;
    INITCOMMONCONTROLSEX controls = {sizeof(controls),
                                     ICC_LISTVIEW_CLASSES | ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    OleInitialize(nullptr);

    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hIconSm = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = kMainWindowClass;
    taskbarButtonCreated = RegisterWindowMessageW(L"TaskbarButtonCreated");
    return RegisterClassExW(&windowClass) != 0;
}

// The window gets its size once it exists: only then is it known which
// monitor, and so which DPI, it is on.
HWND CreateMainWindow(int showCommand)
{
    HWND window = CreateWindowExW(WS_EX_ACCEPTFILES, kMainWindowClass, kMainWindowTitle, kMainWindowStyle,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, BuildMenuBar(), ui.instance, nullptr);
    mainWindow = window;
    if (!window)
        return nullptr;
    // Run as administrator, the window would never hear of files dragged from
    // an ordinary Explorer window, nor of its taskbar button: Windows filters
    // out those messages from less privileged processes.
    for (UINT message : kDropMessages)
        ChangeWindowMessageFilterEx(window, message, MSGFLT_ALLOW, nullptr);
    ChangeWindowMessageFilterEx(window, taskbarButtonCreated, MSGFLT_ALLOW, nullptr);
    SIZE size = WindowSizeForClient(kClientWidth, kClientHeight, kMainWindowStyle, WindowDpi(window));
    SetWindowPos(window, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(window, showCommand);
    UpdateWindow(window);
    return window;
}

int RunMessageLoop(HWND window)
{
    MSG message = {};
    while (GetMessageW(&message, nullptr, 0, 0)) {
        if (!IsDialogMessageW(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    return static_cast<int>(message.wParam);
}

void ShutdownApplication()
{
    // The window is gone, so a report the worker still sends fails at once
    // instead of waiting for us: joining cannot deadlock here.
    if (workerThread.joinable()) {
        stopRequested.exchange(1);
        workerThread.join();
    }
    OleUninitialize();
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE: OnCreate(window); return 0;
    case WM_DESTROY: OnDestroy(); return 0;
    case WM_CLOSE: OnClose(window); return 0;
    case WM_ACTIVATE: OnActivate(window, LOWORD(wParam), HIWORD(wParam) != 0); return 0;
    case WM_COMMAND: OnCommand(window, LOWORD(wParam)); return 0;
    case WM_DPICHANGED: OnDpiChanged(window, HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam)); return 0;
    case WM_DROPFILES: OnDropFiles(reinterpret_cast<HDROP>(wParam)); return 0;
    case WM_NOTIFY: OnNotify(*reinterpret_cast<const NMHDR*>(lParam)); return 0;
    case WM_CONTEXTMENU:
        return OnContextMenu(reinterpret_cast<HWND>(wParam), lParam) ? 0
                                                                     : DefWindowProcW(window, message, wParam, lParam);
    case WM_APP_PROGRESS: OnAppProgress(wParam, lParam); return 0;
    case WM_APP_STATUS: OnAppStatus(wParam, lParam); return 0;
    case WM_APP_REPORTS: OnAppReports(wParam, lParam); return 0;
    case WM_APP_JOB_PROGRESS: OnAppJobProgress(wParam); return 0;
    case WM_APP_JOB_FACTS: OnAppJobFacts(wParam); return 0;
    case WM_APP_FINISHED: OnAppFinished(wParam); return 0;
    default:
        if (message == taskbarButtonCreated && message != 0) {
            OnTaskbarButtonCreated();
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
