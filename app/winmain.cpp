#include "app/main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    if (!InitApplication(instance))
        return 1;
    HWND window = CreateMainWindow(showCommand);
    if (!window) {
        ShutdownApplication();
        return 1;
    }
    int exitCode = RunMessageLoop(window);
    ShutdownApplication();
    return exitCode;
}
