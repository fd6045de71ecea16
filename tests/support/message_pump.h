// Waiting on the test thread for something a worker does, while this
// thread's windows keep taking their messages.
#pragma once

#include <windows.h>

#include <functional>

// Dispatches this thread's messages until `done` returns true, waking also
// when `wake` (if any) is signaled; never sleeps blindly. Returns false if that
// takes longer than `timeoutMs`. Sets `quitSeen` when it removed a WM_QUIT.
bool PumpUntil(const std::function<bool()>& done, HANDLE wake = nullptr, DWORD timeoutMs = 60000,
               bool* quitSeen = nullptr);
