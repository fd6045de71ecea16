// A fixture that creates the program's real main window in this process, with
// the OS seam faked, and the helpers the window tests drive it with: real
// drops, real button clicks and menu commands, and a message pump that waits
// for the worker job without sleeping.
#pragma once

#include "tests/support/fake_os.h"
#include "tests/support/message_pump.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Returns a drop handle listing `paths`, as the shell builds one.
HDROP MakeDrop(const std::vector<std::wstring>& paths);

// Holds the worker at its first WriteFile until the test lets it go, so a
// test can act while a job is certainly in the middle of a file.
class WriteGate {
public:
    WriteGate();
    ~WriteGate();
    WriteGate(const WriteGate&) = delete;
    WriteGate& operator=(const WriteGate&) = delete;

    // Installs the gate on `fake`'s WriteFile.
    void Install(FakeOs& fake);
    // Pumps messages until the worker waits at the gate; returns false on time-out.
    bool WaitUntilReached();
    void Release();

private:
    HANDLE reached_;
    HANDLE released_;
    std::atomic<bool> used_{false};
};

// Makes the window's own volume questions (those asked on the thread that
// installs it) see scripted volumes: paths under `ssdFolder` lie on S:\,
// whose device reports no seek penalty; paths under `lostFolder` have no
// volume; all others lie on H:\, whose device reports one. The worker's
// calls reach the real functions.
class ScriptedVolumes {
public:
    void Install(FakeOs& fake, const std::wstring& ssdFolder, const std::wstring& lostFolder = L"?");
    // Returns how many devices were asked about their seek penalty.
    static int Probes(const FakeOs& fake);

private:
    DWORD uiThread_ = 0;
    std::map<HANDLE, bool> devices_;  // open device handle -> reports no seek penalty
};

// One report that reached the window, and what the window showed right after it.
struct Report {
    UINT message;             // WM_APP_PROGRESS or WM_APP_STATUS
    int row;
    int percent;              // WM_APP_PROGRESS only
    std::wstring text;        // WM_APP_STATUS only
    std::wstring statusLine;  // the status line after the window handled it
    int barPosition;          // the progress bar after the window handled it
};

class WindowTest : public ::testing::Test {
public:
    std::vector<Report> reports;  // filled once RecordReports was called

protected:
    void SetUp() override;
    void TearDown() override;

    // Drops `paths` on the window with a real WM_DROPFILES.
    void Drop(const std::vector<std::wstring>& paths);
    void Click(HWND button);
    void MenuCommand(int id);
    // Pumps until the running job has reported its end; returns false on time-out.
    bool WaitForJobEnd();
    // Drop, Start and answer OK; returns once the job has ended.
    void EraseAndWait(const std::vector<std::wstring>& paths);
    // Drop, Start and answer OK, then pump until the worker waits at its
    // first write (see `gate`); returns false on time-out.
    bool StartHeldAtFirstWrite(const std::vector<std::wstring>& paths);
    // The folder browser returns `folder` as the user's choice.
    void BrowseTo(const std::wstring& folder);
    // Records every progress and status report the window receives from now on.
    void RecordReports();
    // Returns true when a recorded status report carried `text`.
    bool Reported(const std::wstring& text) const;
    // Checks that no job runs and the window is idle with `status` on its status line.
    void ExpectIdle(const std::wstring& status) const;

    std::wstring StatusLine() const;
    int RowCount() const;
    std::wstring RowText(int row, int column) const;
    std::vector<std::wstring> RowTexts(int column) const;
    int BarPosition() const;
    // The message boxes shown so far: text in `path`, caption in `path2`, style in `number`.
    std::vector<OsCallRecord> Boxes() const { return fake.CallsOf(OsFn::MessageBoxW); }
    std::vector<std::wstring> BoxCaptions() const;
    // Checks that `count` message boxes were shown, the last with this caption, text and style.
    void ExpectLastBox(size_t count, const std::wstring& caption, const std::wstring& text, UINT style) const;

    FakeOs fake;
    HWND window = nullptr;
    int boxAnswer = IDCANCEL;  // what every message box answers unless a test hooks it
    bool quitSeen = false;
    TempFolder temp;
    ScriptedVolumes volumes;
    WriteGate gate;  // lives until after TearDown, which may still wait for the job
};

// Returns the bytes of a wide string as UTF-8-ish narrow text, for messages.
std::string Narrow(const std::wstring& text);
