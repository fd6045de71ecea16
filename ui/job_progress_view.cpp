#include "ui/job_progress_view.h"

#include "os/os_seam.h"
#include "ui/handlers.h"
#include "ui/taskbar.h"
#include "ui/ui_state.h"

#include <commctrl.h>
#include <cstdio>

namespace {

// The title and the button are brought up to date at most this often, so
// that the time left does not jump about with every report.
constexpr uint64_t kRefreshInterval = 1000;
// The time left is shown from this far into the job, once a rate is known.
constexpr uint64_t kFirstEstimate = 2000;
// How much of the smoothed rate each new second's rate makes up.
constexpr double kRateWeight = 0.25;

// What the window knows of the running job's progress.
struct ProgressView {
    bool wipe = false;
    uint64_t startedAt = 0;    // ticks
    uint64_t shownAt = 0;      // when the title was last brought up to date; 0: never
    uint64_t sampledAt = 0;
    uint64_t sampledDone = 0;
    double rate = 0;           // work per second, smoothed
};
ProgressView view;

// Returns `count` and `unit`, the unit made plural for any count but one.
std::wstring Counted(uint64_t count, const wchar_t* unit)
{
    return std::to_wstring(count) + L" " + unit + (count == 1 ? L"" : L"s");
}

// Takes a new sample of the rate once a second has passed since the last.
void SampleRate(uint64_t done, uint64_t now)
{
    if (now - view.sampledAt < kRefreshInterval) return;
    const double rate = static_cast<double>(done - view.sampledDone) * 1000.0 / static_cast<double>(now - view.sampledAt);
    view.rate = view.rate == 0 ? rate : view.rate + kRateWeight * (rate - view.rate);
    view.sampledAt = now;
    view.sampledDone = done;
}

// Returns the window's title for `progress`: the percent, the file being
// erased or the wipe's rate, and, from a little way in, the time left.
std::wstring ProgressTitle(const JobProgress& progress, uint64_t now)
{
    std::wstring title = std::to_wstring(progress.done * 100 / progress.total) + L"% \u00B7 ";
    if (!view.wipe) title += L"File " + GroupedDigits(progress.item) + L" of " + GroupedDigits(progress.items) + L" \u00B7 ";
    if (view.wipe && view.rate > 0) title += SizeText(static_cast<uint64_t>(view.rate)) + L"/s \u00B7 ";
    if (now - view.startedAt >= kFirstEstimate && view.rate > 0) {
        title += TimeLeftText(static_cast<double>(progress.total - progress.done) / view.rate) + L" \u00B7 ";
    }
    return title + kMainWindowTitle;
}

}  // namespace

std::wstring TimeLeftText(double seconds)
{
    if (seconds < 60) return L"Less than a minute left";
    const uint64_t minutes = static_cast<uint64_t>(seconds / 60 + 0.5);
    if (minutes < 60) return L"About " + Counted(minutes, L"minute") + L" left";
    const std::wstring rest = minutes % 60 == 0 ? L"" : L" " + Counted(minutes % 60, L"minute");
    return L"About " + Counted(minutes / 60, L"hour") + rest + L" left";
}

void ShowJobProgressStarted(bool wipe)
{
    const uint64_t now = os.GetTickCount64();
    view = {wipe, now, 0, now, 0, 0};
    ShowTaskbarState(TaskbarState::Normal);
}

void OnAppJobProgress(WPARAM report)
{
    const JobProgress& progress = *reinterpret_cast<const JobProgress*>(report);
    if (progress.total == 0) return;
    SendMessageW(ui.progressBar, PBM_SETPOS, static_cast<WPARAM>(progress.done * kProgressRange / progress.total), 0);
    const uint64_t now = os.GetTickCount64();
    SampleRate(progress.done, now);
    if (view.shownAt != 0 && now - view.shownAt < kRefreshInterval) return;
    view.shownAt = now;
    SetWindowTextW(mainWindow, ProgressTitle(progress, now).c_str());
    ShowTaskbarProgress(progress.done, progress.total);
}

void ShowJobProgressEnded(JobOutcome outcome)
{
    SetWindowTextW(mainWindow, kMainWindowTitle);
    const bool failed = outcome == JobOutcome::Failed;
    const bool attention = failed || outcome == JobOutcome::Incomplete;
    ShowTaskbarState(failed ? TaskbarState::Error : attention ? TaskbarState::Attention : TaskbarState::None);
    if (GetForegroundWindow() == mainWindow) return;
    FLASHWINFO flash = {sizeof flash, mainWindow, FLASHW_TRAY | FLASHW_TIMERNOFG, 0, 0};
    FlashWindowEx(&flash);
}
