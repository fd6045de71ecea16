#include "ui/dpi.h"

namespace {

constexpr UINT kBaseDpi = 96;

// Returns user32's function `name` where this Windows has it, else null.
// The per-monitor DPI functions came with Windows 10; importing them
// directly would keep the program from starting on older systems.
template <typename Function> Function NewerUser32Function(const char* name)
{
    FARPROC found = GetProcAddress(GetModuleHandleW(L"user32.dll"), name);
    return reinterpret_cast<Function>(reinterpret_cast<void*>(found));
}

// Returns the DPI of the whole screen, the one DPI of every window on
// systems without per-monitor DPI.
UINT ScreenDpi()
{
    HDC screen = GetDC(nullptr);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

}  // namespace

UINT WindowDpi(HWND window)
{
    static const auto getDpiForWindow = NewerUser32Function<decltype(&GetDpiForWindow)>("GetDpiForWindow");
    UINT dpi = getDpiForWindow ? getDpiForWindow(window) : 0;
    return dpi ? dpi : ScreenDpi();
}

int ScaledForDpi(int value, UINT dpi)
{
    return MulDiv(value, static_cast<int>(dpi), kBaseDpi);
}

// If the metrics cannot be read, the font is made from an all-zero
// description, which gives the system's default font.
HFONT CreateMessageFontForDpi(UINT dpi)
{
    static const auto metricsForDpi =
        NewerUser32Function<decltype(&SystemParametersInfoForDpi)>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics = {};
    static_assert(sizeof(metrics) == 504, "the metrics size the system expects on Vista and later");
    metrics.cbSize = sizeof(metrics);
    if (metricsForDpi) {
        metricsForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi);
    } else {
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
        metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                                static_cast<int>(ScreenDpi()));
    }
    return CreateFontIndirectW(&metrics.lfMessageFont);
}

SIZE WindowSizeForClient(int clientWidth, int clientHeight, DWORD style, UINT dpi)
{
    static const auto adjustForDpi =
        NewerUser32Function<decltype(&AdjustWindowRectExForDpi)>("AdjustWindowRectExForDpi");
    RECT frame = {0, 0, ScaledForDpi(clientWidth, dpi), ScaledForDpi(clientHeight, dpi)};
    if (adjustForDpi)
        adjustForDpi(&frame, style, TRUE, 0, dpi);
    else
        AdjustWindowRectEx(&frame, style, TRUE, 0);
    return {frame.right - frame.left, frame.bottom - frame.top};
}
