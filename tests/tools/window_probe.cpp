// Starts the program, looks at its main window from this other process, as a
// user would, and closes it through File > Exit:
//
//   window_probe.exe DPI PROGRAM   starts PROGRAM, waits until it first waits for input (its window then
//                                  made, shown and painted), checks that the window is shown at its client
//                                  size for DPI, fixed in size, with its menu and taking drops, and compares
//                                  every control's place and size, the list's column widths and the
//                                  drop-down's row height with what they must be at DPI; then sends
//                                  File > Exit and waits for the program to end
//
// Exit status 0 when all is as promised and the program ended with 0, 1 when
// something is not (each difference printed), 2 when the program did not
// start, become idle or end within a minute.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct Control { int id, x, y, width, height; };  // 96-DPI client pixels; height 0: a closed drop-down, not compared
const Control kControls[] = {{1001, 12, 27, 776, 200}, {1008, 12, 230, 776, 16}, {1007, 12, 246, 776, 23}, {1002, 12, 275, 776, 108},
                             {1003, 34, 315, 740, 0}, {1004, 34, 350, 700, 20}, {1005, 12, 389, 75, 23}, {1006, 93, 389, 75, 23}};
int dpi = 96, failures = 0;

int Scaled(int value) { return MulDiv(value, dpi, 96); }

// Returns true when the window is visible at the client size for `dpi`,
// cannot be resized, has its menu and takes dropped files, and neither it nor
// its list has anything left to paint.
bool Ready(HWND window)
{
    RECT client = {};
    return IsWindowVisible(window) && GetClientRect(window, &client) && client.right == Scaled(800) && client.bottom == Scaled(444) &&
           !(GetWindowLongW(window, GWL_STYLE) & (WS_MAXIMIZEBOX | WS_THICKFRAME)) && GetMenu(window) && (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES) &&
           !GetUpdateRect(window, nullptr, FALSE) && !GetUpdateRect(GetDlgItem(window, 1001), nullptr, FALSE);
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

// Says `what` went wrong; returns `status`.
int Fail(const char* what, int status) { return std::printf("%s\n", what), status; }

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    SetProcessDPIAware();  // see the other window in real pixels
    if (argc != 3 || (dpi = _wtoi(argv[1])) <= 0) return Fail("usage: window_probe.exe DPI PROGRAM", 2);
    std::wstring command = L"\"" + std::wstring(argv[2]) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION program = {};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &program))
        return Fail("could not start the program", 2);
    // The deadlines only turn a hang into a message.
    if (WaitForInputIdle(program.hProcess, 60000) != 0) return Fail("the program did not wait for input within a minute", 2);
    HWND window = FindWindowW(L"TarnwickForensicsEraserWnd", L"Tarnwick File Eraser");
    int result = Ready(window) ? CheckWindow(window) : Fail("the window is not shown at its size for the DPI, fixed, with its menu, taking drops and painted", 1);
    PostMessageW(window, WM_COMMAND, 2001, 0);
    DWORD code = 1;
    if (WaitForSingleObject(program.hProcess, 60000) != WAIT_OBJECT_0) return Fail("the program did not end within a minute of File > Exit", 2);
    if (!GetExitCodeProcess(program.hProcess, &code) || code != 0) result = Fail("the program did not end with exit code 0", 1);
    CloseHandle(program.hThread);
    CloseHandle(program.hProcess);
    return result;
}
