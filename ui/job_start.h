// What the Start and Wipe Free Space commands share: the busy test, the
// capture of the window's choices, and the switch into the running state.
#pragma once

#include "methods/erase_methods.h"

#include <functional>

// Returns true while a job holds the worker thread (running, or its end not
// yet handled). A command must not start another job then: a second job
// would replace a joinable std::thread, which ends the process.
bool JobIsRunning();

// Reads the method combo box and the verify check box, stores the check box
// into verifyReadBack and clears stopRequested. Returns the chosen method.
const EraseMethod& CaptureJobOptions();

// Puts the window into its running state showing `startedText` and runs
// `job` on the worker thread; the job's whole progress is shown as a wipe's
// (its rate) when `wipe`, else as an erase's (its files). Returns false when
// the thread cannot be started; the window is then back to idle and says so.
bool StartJob(const wchar_t* startedText, bool wipe, std::function<void()> job);
