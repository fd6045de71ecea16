// Looks at the running program's main window from another process, as a user
// would, and closes it through File > Exit:
//
//   window_probe.exe check DPI [ROWS]   waits until the window is shown at its client size for DPI, fixed in
//                                       size, with its menu and taking drops, its list holds ROWS rows
//                                       (default none) and nothing is left to paint; then
//                                       compares every control's place and size, the list's column widths
//                                       and the drop-down's row height with what they must be at DPI
//   window_probe.exe exit               waits for the main window and sends it File > Exit
//
// Exit status 0 when all is as promised, 1 when something is not (each
// difference printed), 2 when what it waited for has not come within a minute
// or the command is not one of these.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Control { int id, x, y, width, height; };  // 96-DPI client pixels; height 0: a closed drop-down, not compared
const Control kControls[] = {{1001, 12, 27, 776, 200}, {1008, 12, 230, 776, 16}, {1007, 12, 246, 776, 23}, {1002, 12, 275, 776, 108},
                             {1003, 34, 315, 740, 0}, {1004, 34, 350, 700, 20}, {1005, 12, 389, 75, 23}, {1006, 93, 389, 75, 23}};
int dpi = 96, rows = 0, failures = 0;

int Scaled(int value) { return MulDiv(value, dpi, 96); }
HWND MainWindow() { return FindWindowW(L"TarnwickForensicsEraserWnd", L"Tarnwick File Eraser"); }

// Returns true once `ready` does; false, saying what never came, after a minute.
template <typename Ready> bool WaitFor(const char* what, Ready ready)
{
    for (const ULONGLONG deadline = GetTickCount64() + 60000; !ready(); Sleep(50))
        if (GetTickCount64() > deadline) return std::printf("waited a minute in vain for %s\n", what), false;
    return true;
}

// Returns true when the window is visible at the client size for `dpi`,
// cannot be resized, has its menu and takes dropped files, its list shows
// `rows` rows, and neither has anything left to paint.
bool Ready()
{
    HWND window = MainWindow(), list = GetDlgItem(window, 1001);
    RECT client = {};
    return IsWindowVisible(window) && GetClientRect(window, &client) && client.right == Scaled(800) && client.bottom == Scaled(444) &&
           !(GetWindowLongW(window, GWL_STYLE) & (WS_MAXIMIZEBOX | WS_THICKFRAME)) && GetMenu(window) && (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) &&
           SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == rows && !GetUpdateRect(window, nullptr, FALSE) && !GetUpdateRect(list, nullptr, FALSE);
}

// Returns 0 when every control has its place and size for `dpi`, the list's
// columns their widths, and the drop-down's rows are at least as high as the
// message font made for `dpi` (rows in a font made for a lower DPI are not);
// else 1.
int CheckWindow(HWND window)
{
    // Counts and prints a failure when `actual` is off `expected` by more than a pixel.
    const auto expectNear = [](int id, const char* what, long actual, long expected) {
        if (std::labs(actual - expected) > 1 && ++failures) std::printf("%d: %s %ld, expected %ld at %d DPI\n", id, what, actual, expected, dpi);
    };
    for (const Control& want : kControls) {
        RECT rect = {};
        GetWindowRect(GetDlgItem(window, want.id), &rect);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
        expectNear(want.id, "left", rect.left, Scaled(want.x));
        expectNear(want.id, "top", rect.top, Scaled(want.y));
        expectNear(want.id, "width", rect.right - rect.left, Scaled(want.width));
        expectNear(want.id, "height", want.height ? rect.bottom - rect.top : 0, Scaled(want.height));
    }
    for (int column = 0; column < 2; ++column)
        expectNear(1001, "column width", static_cast<long>(SendMessageW(GetDlgItem(window, 1001), LVM_GETCOLUMNWIDTH, column, 0)), Scaled(column ? 250 : 500));
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi);
    if (SendMessageW(GetDlgItem(window, 1003), CB_GETITEMHEIGHT, 0, 0) < std::labs(metrics.lfMessageFont.lfHeight) && ++failures)
        std::printf("1003: rows lower than the message font at %d DPI\n", dpi);
    return failures ? 1 : 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    SetProcessDPIAware();  // see the other window in real pixels
    const std::wstring command = argc > 1 ? argv[1] : L"";
    rows = argc > 3 ? _wtoi(argv[3]) : 0;
    if (command == L"check" && argc > 2 && (dpi = _wtoi(argv[2])) > 0)
        return WaitFor("the main window shown at its size for the DPI, fixed, with its menu, taking drops, its rows listed and painted", Ready) ? CheckWindow(MainWindow()) : 2;
    return command == L"exit" && WaitFor("the main window", MainWindow) && PostMessageW(MainWindow(), WM_COMMAND, 2001, 0) ? 0 : 2;
}
