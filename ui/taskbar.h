// The window's taskbar button, which shows a job's progress where the shell
// offers that. Where it does not (an older shell, or none), every call here
// does nothing, and the window shows the same on its own.
#pragma once

#include <windows.h>

#include <cstdint>

enum class TaskbarState { None, Normal, Error, Attention };

// Creates the shell's taskbar list for the window's button, once, when the
// shell says the button exists. Returns nothing.
void OnTaskbarButtonCreated();

// Shows `done` of `total` on the button, in the normal state. Returns nothing.
void ShowTaskbarProgress(uint64_t done, uint64_t total);

// Shows `state` on the button; None takes the progress off. Returns nothing.
void ShowTaskbarState(TaskbarState state);

// Takes an error or attention state off the button, as when the window is
// brought to the front. Returns nothing.
void ClearTaskbarAttention();

// Lets go of the taskbar list. Returns nothing.
void ReleaseTaskbar();
