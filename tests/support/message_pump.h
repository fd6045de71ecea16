// Waiting on the test thread for something a worker does, while this
// thread's windows keep taking their messages.
#pragma once

#include <windows.h>

#include <functional>

// Dispatches this thread's messages until `done` returns true, sleeping only
// until the next message. Returns false if that takes longer than `timeoutMs`.
bool PumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 60000);
