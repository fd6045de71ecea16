#include "tests/jobs/job_window.h"

#include "tests/support/message_pump.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr wchar_t kClassName[] = L"TarnwickJobTestWindow";
constexpr DWORD kJobTimeoutMs = 300000;

// Registers the recorder's window class once per process; returns nothing.
void RegisterRecorderClass(WNDPROC proc)
{
    static const ATOM atom = [proc] {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = proc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = kClassName;
        return RegisterClassExW(&windowClass);
    }();
    EXPECT_NE(0, atom);
}

}  // namespace

JobWindow::JobWindow()
{
    RegisterRecorderClass(WindowProc);
    hwnd_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr),
                            nullptr);
    EXPECT_NE(nullptr, hwnd_);
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    mainWindow = hwnd_;
}

JobWindow::~JobWindow()
{
    mainWindow = nullptr;
    DestroyWindow(hwnd_);
}

LRESULT CALLBACK JobWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_APP_PROGRESS && message <= WM_APP_FINISHED) {
        auto* window = reinterpret_cast<JobWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        window->Record(message, wParam, lParam);
        return 0;
    }
    if (message > WM_APP && message < WM_APP + 0x100) {
        ADD_FAILURE() << "unexpected private message " << message;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void JobWindow::Record(UINT message, WPARAM wParam, LPARAM lParam)
{
    WindowReport report;
    report.message = message;
    report.first = static_cast<int32_t>(wParam);
    report.second = static_cast<int32_t>(lParam);
    report.sent = (InSendMessageEx(nullptr) & ISMEX_SEND) != 0;
    // A 32-bit value must arrive sign-extended; a row of -1 that arrived as
    // 0xFFFFFFFF would be a positive row to a 64-bit reader.
    const auto wide = static_cast<intptr_t>(wParam);
    EXPECT_EQ(static_cast<intptr_t>(report.first), wide) << "wParam not sign-extended";
    if (message == WM_APP_PROGRESS) {
        EXPECT_EQ(static_cast<intptr_t>(report.second), static_cast<intptr_t>(lParam)) << "lParam not sign-extended";
    }
    if (message == WM_APP_STATUS) {
        EXPECT_NE(0, lParam);
        if (lParam != 0) {
            report.text = reinterpret_cast<const wchar_t*>(lParam);
        }
    }
    if (message == WM_APP_FINISHED) {
        EXPECT_EQ(0, lParam);
        finished_ = true;
    }
    reports.push_back(report);
    if (onReport) {
        onReport(reports.back());
    }
}

int32_t JobWindow::Run(std::function<void()> job)
{
    reports.clear();
    finished_ = false;
    std::thread worker(std::move(job));
    if (!PumpUntil([this] { return finished_; }, nullptr, kJobTimeoutMs)) {
        ADD_FAILURE() << "the job posted no WM_APP_FINISHED in time; stopping it";
        PressCancel();
        PumpUntil([this] { return finished_; }, nullptr, INFINITE);
    }
    worker.join();
    PumpUntil([] { return true; });  // anything sent or posted after the end message

    int finishedCount = 0;
    for (const WindowReport& report : reports) {
        if (report.message == WM_APP_FINISHED) {
            ++finishedCount;
            EXPECT_FALSE(report.sent) << "WM_APP_FINISHED must be posted";
        } else {
            EXPECT_TRUE(report.sent) << "status and progress must be sent, so their texts stay valid";
        }
    }
    EXPECT_EQ(1, finishedCount);
    if (reports.empty() || reports.back().message != WM_APP_FINISHED) {
        ADD_FAILURE() << "WM_APP_FINISHED is not the last message";
        return -1;
    }
    return reports.back().first;
}

std::vector<std::wstring> JobWindow::StatusTexts(std::optional<int32_t> row) const
{
    std::vector<std::wstring> texts;
    for (const WindowReport& report : reports) {
        if (report.message == WM_APP_STATUS && (!row || report.first == *row)) {
            texts.push_back(report.text);
        }
    }
    return texts;
}

std::vector<int32_t> JobWindow::ReportedRows() const
{
    std::vector<int32_t> rows;
    for (const WindowReport& report : reports) {
        if (report.message == WM_APP_STATUS) {
            rows.push_back(report.first);
        } else if (report.message == WM_APP_PROGRESS) {
            rows.push_back(report.second);
        }
    }
    return rows;
}
