// Waits, for the screenshot and the benchmark's big drops, until the running
// program's main window lists a number of rows dropped on it from outside,
// with nothing left to paint; and closes the window through File > Exit.
//
//   window_rows.exe N      exit status 0 once the list shows N rows, painted; 2 when it has not after a minute
//   window_rows.exe exit   sends File > Exit to the main window
//
// No event tells another process that a list has taken its rows, so this
// looks every 50 ms.
#include <windows.h>
#include <commctrl.h>

#include <cwchar>

namespace {

HWND MainWindow() { return FindWindowW(L"TarnwickForensicsEraserWnd", L"Tarnwick File Eraser"); }

// Returns true when the main window is visible and its list shows `rows` rows, and neither has anything left to paint.
bool Listed(long rows)
{
    HWND window = MainWindow(), list = GetDlgItem(window, 1001);
    return IsWindowVisible(window) && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == rows &&
           !GetUpdateRect(window, nullptr, FALSE) && !GetUpdateRect(list, nullptr, FALSE);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc == 2 && std::wcscmp(argv[1], L"exit") == 0) return PostMessageW(MainWindow(), WM_COMMAND, 2001, 0) ? 0 : 2;
    const long rows = argc == 2 ? std::wcstol(argv[1], nullptr, 10) : -1;
    for (const ULONGLONG deadline = GetTickCount64() + 60000; rows >= 0 && GetTickCount64() < deadline; Sleep(50)) {
        if (Listed(rows)) return 0;
    }
    return 2;
}
