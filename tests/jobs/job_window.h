// A real message-only window standing in for the main window while a job runs
// on a worker thread: it records every WM_APP_ message it receives, in order,
// and pumps the test thread's queue until the job's WM_APP_FINISHED arrives.
#pragma once

#include "engine/erase_types.h"
#include "jobs/job_report.h"

#include <windows.h>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// One message as the window received it.
struct WindowReport {
    UINT message = 0;
    int32_t first = 0;    // PROGRESS: percent; STATUS: row; FINISHED: outcome
    int32_t second = 0;   // PROGRESS: row; otherwise the raw low 32 bits of lParam
    std::wstring text;    // STATUS: a copy of the text, taken during the send
    bool sent = false;    // arrived by SendMessageW from another thread
};

class JobWindow {
public:
    JobWindow();   // creates the window and makes it `mainWindow`
    ~JobWindow();  // destroys it and clears `mainWindow`
    JobWindow(const JobWindow&) = delete;
    JobWindow& operator=(const JobWindow&) = delete;

    // Runs `job` on a new thread while pumping messages on this one, joins
    // the thread, and checks that the reports end in exactly one posted
    // WM_APP_FINISHED with every status and progress report sent before it.
    // Returns the outcome carried by WM_APP_FINISHED, or -1 when none came.
    int32_t Run(std::function<void()> job);

    // Called on this thread as each report arrives, while a sender waits;
    // a test uses it to act as the user would (press Cancel) at a given point.
    std::function<void(const WindowReport&)> onReport;

    // Every report so far, in order of arrival.
    std::vector<WindowReport> reports;

    // Returns the texts of the WM_APP_STATUS reports (for `row` only, if given), in order.
    std::vector<std::wstring> StatusTexts(std::optional<int32_t> row = std::nullopt) const;
    // Returns the rows of every WM_APP_STATUS and WM_APP_PROGRESS report.
    std::vector<int32_t> ReportedRows() const;

    HWND hwnd() const { return hwnd_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void Record(UINT message, WPARAM wParam, LPARAM lParam);

    HWND hwnd_ = nullptr;
    bool finished_ = false;
};

// Sets stopRequested as the Cancel button does.
inline void PressCancel()
{
    stopRequested.exchange(1);
}
