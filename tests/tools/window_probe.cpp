// Looks at the running program's main window from another process, as a
// user would read it off the screen, and can close it through File > Exit.
//
//   window_probe.exe check         prints client size and style; exit 0 when the
//                                  window is fixed-size, 800 x 444, visible, with a menu
//   window_probe.exe rows          one line per list row: file name, a tab, status
//   window_probe.exe status        the status line
//   window_probe.exe buttons       "start=1 cancel=0" (1 = enabled)
//   window_probe.exe box CAPTION   waits for a message box with that caption
//                                  and prints its text; exit 1 if none comes
//   window_probe.exe exit          sends the File > Exit command
//
// Exit status 2 when the main window does not appear within 20 seconds.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>

namespace {

const int kFileListId = 1001;
const int kStartId = 1005;
const int kCancelId = 1006;
const int kStatusId = 1008;
const WPARAM kExitCommand = 2001;

// Calls `find` every 100 ms for up to 20 seconds; returns its first non-null answer, or null.
template <typename Find>
HWND WaitFor(Find find)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (HWND window = find())
            return window;
        Sleep(100);
    }
    return nullptr;
}

// Prints wide text as UTF-8.
void Print(const wchar_t* text)
{
    char bytes[4096];
    if (WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr) > 0)
        std::fputs(bytes, stdout);
}

// Returns 0 when the window has the promised fixed size and style, else 1.
int CheckWindow(HWND window)
{
    RECT client = {};
    GetClientRect(window, &client);
    LONG style = GetWindowLongW(window, GWL_STYLE);
    LONG exStyle = GetWindowLongW(window, GWL_EXSTYLE);
    bool visible = IsWindowVisible(window) != FALSE;
    bool hasMenu = GetMenu(window) != nullptr;  // its items belong to the other process
    std::printf("client %ldx%ld style 0x%08lX exstyle 0x%08lX visible %d menu %d\n", client.right, client.bottom,
                static_cast<unsigned long>(style), static_cast<unsigned long>(exStyle), visible ? 1 : 0,
                hasMenu ? 1 : 0);
    bool ok = client.right == 800 && client.bottom == 444 && !(style & WS_MAXIMIZEBOX) && !(style & WS_THICKFRAME) &&
              (style & WS_MINIMIZEBOX) && (exStyle & WS_EX_ACCEPTFILES) && visible && hasMenu;
    return ok ? 0 : 1;
}

// Reads the text of list row `row`, column `column` through the other
// process's memory, since the list view does not marshal its items. Returns
// false when it cannot.
bool ReadRowText(HWND list, HANDLE process, int row, int column, wchar_t* text, int capacity)
{
    SIZE_T size = sizeof(LVITEMW) + capacity * sizeof(wchar_t);
    auto* remote = static_cast<char*>(VirtualAllocEx(process, nullptr, size, MEM_COMMIT, PAGE_READWRITE));
    if (!remote)
        return false;
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
    item.cchTextMax = capacity;
    bool ok = WriteProcessMemory(process, remote, &item, sizeof(item), nullptr) &&
              SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(remote)) >= 0 &&
              ReadProcessMemory(process, remote + sizeof(LVITEMW), text, capacity * sizeof(wchar_t), nullptr);
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    text[capacity - 1] = L'\0';
    return ok;
}

// Prints every row of the file list; returns 0, or 1 when the list cannot be read.
int PrintRows(HWND window)
{
    HWND list = GetDlgItem(window, kFileListId);
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (!process)
        return 1;
    int rows = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    int status = 0;
    for (int row = 0; row < rows; ++row) {
        wchar_t name[1024], text[1024];
        if (!ReadRowText(list, process, row, 0, name, 1024) || !ReadRowText(list, process, row, 1, text, 1024)) {
            status = 1;
            break;
        }
        Print(name);
        Print(L"\t");
        Print(text);
        Print(L"\n");
    }
    CloseHandle(process);
    return status;
}

struct BoxSearch {
    const wchar_t* caption;
    DWORD processId;
    HWND found;
};

// Returns FALSE (stop) once the visible message box of the search is found.
BOOL CALLBACK FindBox(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<BoxSearch*>(parameter);
    wchar_t className[16] = {}, caption[256] = {};
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    GetClassNameW(window, className, 16);
    GetWindowTextW(window, caption, 256);
    if (processId == search->processId && std::wcscmp(className, L"#32770") == 0 &&
        std::wcscmp(caption, search->caption) == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// Waits for the program's message box titled `caption` and prints its text;
// returns 0, or 1 when none appeared.
int PrintBox(HWND window, const wchar_t* caption)
{
    BoxSearch search = {caption, 0, nullptr};
    GetWindowThreadProcessId(window, &search.processId);
    HWND box = WaitFor([&search] {
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        return search.found;
    });
    if (!box)
        return 1;
    wchar_t text[2048] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 2048);
    Print(text);
    Print(L"\n");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    HWND window = WaitFor([] { return FindWindowW(L"TarnwickForensicsEraserWnd", L"Tarnwick File Eraser"); });
    if (!window) {
        std::printf("main window not found\n");
        return 2;
    }
    const wchar_t* command = argc > 1 ? argv[1] : L"check";
    if (std::wcscmp(command, L"check") == 0)
        return CheckWindow(window);
    if (std::wcscmp(command, L"rows") == 0)
        return PrintRows(window);
    if (std::wcscmp(command, L"status") == 0) {
        wchar_t text[1024] = {};
        GetDlgItemTextW(window, kStatusId, text, 1024);
        Print(text);
        Print(L"\n");
        return 0;
    }
    if (std::wcscmp(command, L"buttons") == 0) {
        std::printf("start=%d cancel=%d\n", IsWindowEnabled(GetDlgItem(window, kStartId)) ? 1 : 0,
                    IsWindowEnabled(GetDlgItem(window, kCancelId)) ? 1 : 0);
        return 0;
    }
    if (std::wcscmp(command, L"exit") == 0)
        return PostMessageW(window, WM_COMMAND, kExitCommand, 0) ? 0 : 1;
    if (std::wcscmp(command, L"box") == 0 && argc > 2)
        return PrintBox(window, argv[2]);
    return 2;
}
