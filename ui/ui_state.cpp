#include "ui/ui_state.h"

UiState ui;
const wchar_t kMainWindowTitle[] = L"Tarnwick File Eraser";
std::thread workerThread;
bool closeAfterJob = false;
