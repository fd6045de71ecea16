// Looks at the running program's main window from another process, as a
// user would see it, and can close it through File > Exit.
//
//   window_probe.exe check DPI   waits until the window is shown at its size for DPI, then checks its style,
//                                every control's place and size, and that every caption fits in the message
//                                font for DPI, which the controls must be using
//   window_probe.exe rows N      waits until the list shows N rows and nothing is left to paint
//   window_probe.exe exit        sends the File > Exit command
//
// Exit status 0 when all is as promised, 1 when something is not (each
// difference printed), 2 when what it waits for has not come after a minute.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

struct Control { int id, x, y, width, height; };  // 96-DPI client pixels; height 0: a closed drop-down, not compared
const Control kControls[] = {{1001, 12, 27, 776, 200}, {1008, 12, 230, 776, 16}, {1007, 12, 246, 776, 23},
                             {1002, 12, 275, 776, 108}, {1003, 34, 315, 740, 0}, {1004, 34, 350, 700, 20},
                             {1005, 12, 389, 75, 23},   {1006, 93, 389, 75, 23}};
int dpi = 96;
int failures = 0;

int Scaled(int value) { return MulDiv(value, dpi, 96); }
HWND MainWindow() { return FindWindowW(L"TarnwickForensicsEraserWnd", L"Tarnwick File Eraser"); }

// Returns true once `ready` does; false, saying what never came, after a minute.
template <typename Ready> bool WaitFor(const char* what, Ready ready)
{
    for (int attempt = 0; attempt < 1200; ++attempt, Sleep(50)) {
        if (ready())
            return true;
    }
    std::printf("timed out after 60 s waiting for %s\n", what);
    return false;
}

// Counts and prints a failure unless `ok`.
void Expect(bool ok, int id, const char* what, long actual, long expected)
{
    if (!ok && ++failures)
        std::printf("%d: %s %ld, expected %ld at %d DPI\n", id, what, actual, expected, dpi);
}
void ExpectNear(int id, const char* what, long actual, long expected) { Expect(std::labs(actual - expected) <= 1, id, what, actual, expected); }

// Returns the size of the control's caption (for the status line, a long
// status text) in the message font for `dpi`. A font handle means nothing in
// another process, so the probe makes that font itself.
SIZE CaptionExtent(HWND control)
{
    wchar_t text[256] = {};
    if (!SendMessageW(control, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text)))
        std::wcscpy(text, L"Operation stopped due to error. Check per-item status for details.");
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi);
    HDC dc = GetDC(nullptr);
    HGDIOBJ previous = SelectObject(dc, CreateFontIndirectW(&metrics.lfMessageFont));
    SIZE extent = {};
    GetTextExtentPoint32W(dc, text, static_cast<int>(std::wcslen(text)), &extent);
    DeleteObject(SelectObject(dc, previous));
    ReleaseDC(nullptr, dc);
    return extent;
}

// Returns true when the window is visible, its client area has the size for
// `dpi` and all its controls exist.
bool Shown()
{
    RECT client = {};
    bool ok = IsWindowVisible(MainWindow()) && GetClientRect(MainWindow(), &client) && client.right == Scaled(800) &&
              client.bottom == Scaled(444);
    for (const Control& control : kControls)
        ok = ok && GetDlgItem(MainWindow(), control.id);
    return ok;
}

// Returns 0 when the window and its controls are as promised at `dpi`, else 1.
int CheckWindow(HWND window)
{
    LONG style = GetWindowLongW(window, GWL_STYLE), extended = GetWindowLongW(window, GWL_EXSTYLE);
    Expect(Shown() && !(style & (WS_MAXIMIZEBOX | WS_THICKFRAME)) && (style & WS_MINIMIZEBOX) && GetMenu(window) &&
               (extended & WS_EX_ACCEPTFILES), 0, "visible, fixed-size, menu and drops; style", style, extended);
    for (const Control& want : kControls) {
        HWND control = GetDlgItem(window, want.id);
        RECT rect = {};
        GetWindowRect(control, &rect);
        MapWindowPoints(HWND_DESKTOP, window, reinterpret_cast<POINT*>(&rect), 2);
        ExpectNear(want.id, "left", rect.left, Scaled(want.x));
        ExpectNear(want.id, "top", rect.top, Scaled(want.y));
        ExpectNear(want.id, "width", rect.right - rect.left, Scaled(want.width));
        ExpectNear(want.id, "height", want.height ? rect.bottom - rect.top : 0, Scaled(want.height));
        // Room beside the text for a check box's box or a button's edges; the list and the bar have no caption.
        SIZE caption = want.id == 1001 || want.id == 1007 ? SIZE{} : CaptionExtent(control);
        long roomX = rect.right - rect.left - Scaled(20), roomY = rect.bottom - rect.top;
        Expect(caption.cx <= roomX, want.id, "caption width (at most)", caption.cx, roomX);
        Expect(caption.cy <= roomY, want.id, "caption height (at most)", caption.cy, roomY);
    }
    // The drop-down's rows are as high as its font: lower rows mean a font not made for this DPI.
    HWND combo = GetDlgItem(window, 1003);
    long rowHeight = static_cast<long>(SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0));
    Expect(rowHeight >= CaptionExtent(combo).cy, 1003, "row height (at least)", rowHeight, CaptionExtent(combo).cy);
    for (int column = 0; column < 2; ++column)
        ExpectNear(1001, "column width", static_cast<long>(SendMessageW(GetDlgItem(window, 1001), LVM_GETCOLUMNWIDTH,
                                                                         column, 0)), Scaled(column ? 250 : 500));
    return failures ? 1 : 0;
}

// Returns true when the list shows `rows` rows and neither it nor the window
// has anything left to paint.
bool Listed(int rows)
{
    HWND window = MainWindow(), list = GetDlgItem(window, 1001);
    return IsWindowVisible(window) && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) == rows &&
           !GetUpdateRect(window, nullptr, FALSE) && !GetUpdateRect(list, nullptr, FALSE);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    SetProcessDPIAware();  // see the other window in real pixels
    const wchar_t* command = argc > 1 ? argv[1] : L"check";
    int number = argc > 2 ? _wtoi(argv[2]) : 96;
    // A window that is there but never reaches that state is checked anyway, to say what is wrong with it.
    if (std::wcscmp(command, L"check") == 0 && (dpi = number))
        return WaitFor("the main window shown at its size for the DPI", Shown) || MainWindow() ? CheckWindow(MainWindow()) : 2;
    if (std::wcscmp(command, L"rows") == 0)
        return WaitFor("the list to show the dropped rows, painted", [number] { return Listed(number); }) ? 0 : 2;
    bool found = WaitFor("the main window", [] { return MainWindow() != nullptr; });
    return std::wcscmp(command, L"exit") == 0 && found && PostMessageW(MainWindow(), WM_COMMAND, 2001, 0) ? 0 : 2;
}
