// A message-only window standing in for the main window while a job runs on a
// worker thread: it records every WM_APP_ report in order and pumps the test
// thread's queue until the job's WM_APP_FINISHED arrives.
#pragma once

#include "jobs/job_report.h"
#include "jobs/jobs.h"
#include "tests/support/message_pump.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// One report: `first` is the percent (PROGRESS), the row (STATUS), the job's progress in hundredths of a percent
// (JOB_PROGRESS) or the outcome (FINISHED);
// `text` is the status text, copied while the sender waits; `send` numbers the message it came in.
struct WindowReport { UINT message; int32_t first; std::wstring text; int send; };

struct JobWindow {
    JobWindow()
    {
        static const WNDCLASSW windowClass = {0, WindowProc, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, L"JobTestWindow"};
        static const ATOM atom = RegisterClassW(&windowClass);
        hwnd_ = CreateWindowExW(0, MAKEINTATOM(atom), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        mainWindow = hwnd_;
    }
    ~JobWindow() { mainWindow = nullptr, DestroyWindow(hwnd_); }

    // Runs `job` on a new thread, pumping meanwhile, clears the stop flag after it, and
    // checks that exactly one WM_APP_FINISHED came, last. Returns its outcome, or -1.
    int32_t Run(std::function<void()> job)
    {
        std::thread worker(std::move(job));
        const auto finished = [this] { return finished_; };
        // A job that hangs is stopped, so that the test fails instead of hanging too.
        EXPECT_TRUE(PumpUntil(finished, 300000) || (stopRequested.store(1), !PumpUntil(finished, INFINITE)))
            << "the job posted no WM_APP_FINISHED in time";
        worker.join();
        PumpUntil([] { return true; });  // anything that came after the end
        stopRequested.store(0);
        EXPECT_EQ(1, std::count_if(reports.begin(), reports.end(), [](auto& r) { return r.message == WM_APP_FINISHED; }));
        EXPECT_EQ(WM_APP_FINISHED, reports.back().message) << "WM_APP_FINISHED is not the last message";
        return reports.back().message == WM_APP_FINISHED ? reports.back().first : -1;
    }

    // Returns the last WM_APP_STATUS text for `row`, or an empty string.
    std::wstring LastStatus(int32_t row) const
    {
        auto last = std::find_if(reports.rbegin(), reports.rend(), [row](auto& r) { return r.message == WM_APP_STATUS && r.first == row; });
        return last == reports.rend() ? L"" : last->text;
    }

    std::function<void(const WindowReport&)> onReport;  // runs as each report arrives
    std::vector<WindowReport> reports;

    // Records our messages, those sent together one by one.
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message < WM_APP_PROGRESS || message > WM_APP_JOB_PROGRESS) return DefWindowProcW(hwnd, message, wParam, lParam);
        auto* self = reinterpret_cast<JobWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        ++self->sends_;
        const auto* together = reinterpret_cast<const JobReport*>(lParam);
        if (message != WM_APP_REPORTS) self->Record(message, wParam, lParam);
        else for (WPARAM i = 0; i < wParam; ++i) self->Record(together[i].message, together[i].wParam, together[i].lParam);
        return 0;
    }

    // Records one report; a row of -1 must arrive sign-extended, not as 0xFFFFFFFF.
    void Record(UINT message, WPARAM wParam, LPARAM lParam)
    {
        const wchar_t* text = message == WM_APP_STATUS && lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"";
        const auto* progress = reinterpret_cast<const JobProgress*>(wParam);
        const bool job = message == WM_APP_JOB_PROGRESS;
        reports.push_back({message, static_cast<int32_t>(job ? progress->done * 10000 / progress->total : wParam), text, sends_});
        EXPECT_TRUE(job || static_cast<intptr_t>(reports.back().first) == static_cast<intptr_t>(wParam));
        finished_ |= message == WM_APP_FINISHED;
        if (onReport) onReport(reports.back());
    }

    HWND hwnd_ = nullptr; bool finished_ = false; int sends_ = 0;
};
