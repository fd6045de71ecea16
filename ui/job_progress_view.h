// What the window shows of a whole job's progress while it runs: the
// progress bar, the window's title (the percent, the file being erased or the
// rate of a wipe, and the time left) and the taskbar button.
#pragma once

#include "jobs/job_report.h"

#include <windows.h>

#include <cstdint>
#include <string>

// Starts showing a job's progress from zero; `wipe` shows its rate rather
// than its files. Returns nothing.
void ShowJobProgressStarted(bool wipe);

// Shows the job's outcome on the taskbar button, flashing it when the window
// is not in front, and gives the window its own title back. Returns nothing.
void ShowJobProgressEnded(JobOutcome outcome);

// Returns the time left worded as Windows words it: "Less than a minute
// left", "About 3 minutes left", "About 2 hours 10 minutes left".
std::wstring TimeLeftText(double seconds);
