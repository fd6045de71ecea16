#include "ui/ui_state.h"

UiState ui;
std::thread workerThread;
bool closeAfterJob = false;
