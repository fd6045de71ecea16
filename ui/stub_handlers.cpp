// Placeholders until the controls, file list and commands land.
#include "ui/handlers.h"

#include <shellapi.h>

void OnCreate(HWND window) { DragAcceptFiles(window, TRUE); }
void OnDropFiles(HDROP drop) { DragFinish(drop); }
void OnStartErase() {}
void OnCancel() {}
void OnWipeFreeSpace() {}
void OnAppProgress(WPARAM, LPARAM) {}
void OnAppStatus(WPARAM, LPARAM) {}
void OnAppFinished(WPARAM) {}
