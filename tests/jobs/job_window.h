// A message-only window standing in for the main window while a job runs on a
// worker thread: it records every WM_APP_ report in order and pumps the test
// thread's queue until the job's WM_APP_FINISHED arrives.
#pragma once

#include "jobs/job_report.h"
#include "jobs/jobs.h"
#include "tests/support/message_pump.h"

#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <thread>
#include <vector>

struct WindowReport {
    UINT message;
    int32_t first;      // PROGRESS: percent; STATUS: row; FINISHED: outcome
    std::wstring text;  // STATUS: copied while the sender waits
    bool sent;          // arrived by SendMessageW from the worker
};

class JobWindow {
public:
    JobWindow()
    {
        const WNDCLASSW windowClass = {0, WindowProc, 0, 0, GetModuleHandleW(nullptr), nullptr, nullptr, nullptr, nullptr,
                                       L"TarnwickJobTestWindow"};
        static const ATOM atom = RegisterClassW(&windowClass);
        hwnd_ = CreateWindowExW(0, MAKEINTATOM(atom), L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
        SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        mainWindow = hwnd_;
    }
    ~JobWindow() { mainWindow = nullptr, DestroyWindow(hwnd_); }

    // Runs `job` on a new thread while pumping, and checks that the reports end
    // in exactly one posted WM_APP_FINISHED with all else sent before it, so
    // texts stay valid. Returns the outcome it carries, or -1 when none came last.
    int32_t Run(std::function<void()> job)
    {
        std::thread worker(std::move(job));
        const auto finished = [this] { return finished_; };
        if (!PumpUntil(finished, nullptr, 300000)) {
            ADD_FAILURE() << "the job posted no WM_APP_FINISHED in time; stopping it";
            stopRequested.store(1), PumpUntil(finished, nullptr, INFINITE);
        }
        worker.join();
        PumpUntil([] { return true; });  // anything that came after the end
        int finishes = 0;
        for (const WindowReport& report : reports) {
            finishes += report.message == WM_APP_FINISHED;
            EXPECT_EQ(report.message != WM_APP_FINISHED, report.sent) << "message " << report.message;
        }
        EXPECT_EQ(1, finishes);
        EXPECT_EQ(WM_APP_FINISHED, reports.back().message) << "WM_APP_FINISHED is not the last message";
        return reports.back().message == WM_APP_FINISHED ? reports.back().first : -1;
    }

    // Returns the last WM_APP_STATUS text for `row`, or an empty string.
    std::wstring LastStatus(int32_t row) const
    {
        for (auto report = reports.rbegin(); report != reports.rend(); ++report)
            if (report->message == WM_APP_STATUS && report->first == row) return report->text;
        return L"";
    }

    std::function<void(const WindowReport&)> onReport;  // runs as each report arrives
    std::vector<WindowReport> reports;

private:
    // Records our messages; a row of -1 must arrive sign-extended, not as 0xFFFFFFFF.
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message < WM_APP_PROGRESS || message > WM_APP_FINISHED) return DefWindowProcW(hwnd, message, wParam, lParam);
        auto* self = reinterpret_cast<JobWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        const wchar_t* text = message == WM_APP_STATUS && lParam ? reinterpret_cast<const wchar_t*>(lParam) : L"";
        self->reports.push_back({message, static_cast<int32_t>(wParam), text, (InSendMessageEx(nullptr) & ISMEX_SEND) != 0});
        EXPECT_EQ(static_cast<intptr_t>(self->reports.back().first), static_cast<intptr_t>(wParam));
        self->finished_ |= message == WM_APP_FINISHED;
        if (self->onReport) self->onReport(self->reports.back());
        return 0;
    }

    HWND hwnd_ = nullptr;
    bool finished_ = false;
};
