#include "tests/ui/window_test.h"

#include "app/main_window.h"
#include "app/ui_state.h"
#include "engine/erase_types.h"
#include "jobs/job_report.h"

#include <commctrl.h>
#include <shlobj.h>
#include <winioctl.h>
#include <algorithm>
#include <cstring>

namespace {

WindowTest* recording = nullptr;
WNDPROC originalProc = nullptr;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = CallWindowProcW(originalProc, window, message, wParam, lParam);
    if (recording && (message == WM_APP_PROGRESS || message == WM_APP_STATUS)) {
        Report report{message, 0, 0, {}, {}, 0};
        if (message == WM_APP_PROGRESS) {
            report.percent = static_cast<int>(wParam);
            report.row = static_cast<int>(lParam);
        } else {
            report.row = static_cast<int>(wParam);
            report.text = reinterpret_cast<const wchar_t*>(lParam);
        }
        wchar_t status[1024] = {};
        GetWindowTextW(ui.statusLine, status, 1024);
        report.statusLine = status;
        report.barPosition = static_cast<int>(SendMessageW(ui.progressBar, PBM_GETPOS, 0, 0));
        recording->reports.push_back(report);
    }
    return result;
}

// A stand-in item list for a browser answered by the test; never dereferenced.
ITEMIDLIST_ABSOLUTE browsedItem;

}  // namespace

HDROP MakeDrop(const std::vector<std::wstring>& paths)
{
    // Each path ends in a NUL and the list in one more; an empty list is two
    // NULs, or the shell's reader runs past the end.
    size_t characters = 1;
    for (const std::wstring& path : paths)
        characters += path.size() + 1;
    if (paths.empty())
        characters = 2;
    HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + characters * sizeof(wchar_t));
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    auto* text = reinterpret_cast<wchar_t*>(reinterpret_cast<char*>(header) + sizeof(DROPFILES));
    for (const std::wstring& path : paths) {
        std::memcpy(text, path.c_str(), path.size() * sizeof(wchar_t));
        text += path.size() + 1;
    }
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

WriteGate::WriteGate()
    : reached_(CreateEventW(nullptr, TRUE, FALSE, nullptr)), released_(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

WriteGate::~WriteGate()
{
    SetEvent(released_);
    CloseHandle(reached_);
    CloseHandle(released_);
}

void WriteGate::Install(FakeOs& fake)
{
    fake.hooks.WriteFile = [this](HANDLE file, LPCVOID data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped) {
        if (!used_.exchange(true)) {
            SetEvent(reached_);
            WaitForSingleObject(released_, 60000);
        }
        return RealOsCalls().WriteFile(file, data, size, done, overlapped);
    };
}

bool WriteGate::WaitUntilReached()
{
    return PumpUntil([this] { return WaitForSingleObject(reached_, 0) == WAIT_OBJECT_0; }, reached_);
}

void WriteGate::Release()
{
    SetEvent(released_);
}

void ScriptedVolumes::Install(FakeOs& fake, const std::wstring& ssdFolder, const std::wstring& lostFolder)
{
    uiThread_ = GetCurrentThreadId();
    fake.hooks.GetVolumePathNameW = [this, ssdFolder, lostFolder](LPCWSTR path, LPWSTR volume, DWORD size) {
        std::wstring file = path;
        if (GetCurrentThreadId() != uiThread_)
            return RealOsCalls().GetVolumePathNameW(path, volume, size);
        if (file.rfind(lostFolder, 0) == 0)
            return FALSE;
        bool ssd = file.rfind(ssdFolder, 0) == 0 || file.rfind(L"S:\\", 0) == 0;
        wcscpy_s(volume, size, ssd ? L"S:\\" : L"H:\\");
        return TRUE;
    };
    fake.hooks.CreateFileW = [this](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                    DWORD disposition, DWORD flags, HANDLE templateFile) {
        std::wstring name = path;
        bool device = GetCurrentThreadId() == uiThread_ && (name == L"\\\\.\\S:" || name == L"\\\\.\\H:");
        if (!device)
            return RealOsCalls().CreateFileW(path, access, share, security, disposition, flags, templateFile);
        HANDLE handle = RealOsCalls().CreateFileW(L"NUL", access, share, security, disposition, flags, templateFile);
        devices_[handle] = name == L"\\\\.\\S:";
        return handle;
    };
    fake.hooks.DeviceIoControl = [this](HANDLE handle, DWORD code, LPVOID in, DWORD inSize, LPVOID out,
                                        DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) {
        if (GetCurrentThreadId() != uiThread_ || code != IOCTL_STORAGE_QUERY_PROPERTY || !devices_.count(handle))
            return RealOsCalls().DeviceIoControl(handle, code, in, inSize, out, outSize, returned, overlapped);
        auto* descriptor = static_cast<DEVICE_SEEK_PENALTY_DESCRIPTOR*>(out);
        descriptor->IncursSeekPenalty = devices_[handle] ? FALSE : TRUE;
        return TRUE;
    };
}

int ScriptedVolumes::Probes(const FakeOs& fake)
{
    int probes = 0;
    for (const OsCallRecord& call : fake.CallsOf(OsFn::DeviceIoControl))
        probes += call.number == IOCTL_STORAGE_QUERY_PROPERTY;
    return probes;
}

void WindowTest::SetUp()
{
    static bool initialised = InitApplication(GetModuleHandleW(nullptr));
    ASSERT_TRUE(initialised);
    closeAfterJob = false;
    stopRequested.exchange(0);
    fake.hooks.MessageBoxW = [this](HWND, LPCWSTR, LPCWSTR, UINT) { return boxAnswer; };
    fake.hooks.SHBrowseForFolderW = [](LPBROWSEINFOW) { return static_cast<PIDLIST_ABSOLUTE>(nullptr); };
    fake.hooks.ShellExecuteW = [](HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT) {
        return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
    };
    window = CreateMainWindow(SW_SHOWNORMAL);
    ASSERT_NE(nullptr, window);
}

void WindowTest::TearDown()
{
    if (workerThread.joinable()) {
        stopRequested.exchange(1);
        EXPECT_TRUE(WaitForJobEnd()) << "a job was still running at the end of the test";
    }
    if (recording == this) {
        recording = nullptr;
        if (IsWindow(window))
            SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(originalProc));
    }
    if (IsWindow(window))
        DestroyWindow(window);
    PumpUntil([] { return true; });  // takes the WM_QUIT of the destroyed window
}

void WindowTest::Drop(const std::vector<std::wstring>& paths)
{
    SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(paths)), 0);
}

void WindowTest::Click(HWND button)
{
    SendMessageW(button, BM_CLICK, 0, 0);
}

void WindowTest::MenuCommand(int id)
{
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

bool WindowTest::WaitForJobEnd()
{
    return PumpUntil([] { return !workerThread.joinable(); }, nullptr, 120000, &quitSeen);
}

void WindowTest::EraseAndWait(const std::vector<std::wstring>& paths)
{
    Drop(paths);
    boxAnswer = IDOK;
    Click(ui.startButton);
    ASSERT_TRUE(workerThread.joinable()) << "no job started";
    ASSERT_TRUE(WaitForJobEnd());
}

bool WindowTest::StartHeldAtFirstWrite(const std::vector<std::wstring>& paths)
{
    gate.Install(fake);
    Drop(paths);
    boxAnswer = IDOK;
    Click(ui.startButton);
    return gate.WaitUntilReached();
}

void WindowTest::BrowseTo(const std::wstring& folder)
{
    fake.hooks.SHBrowseForFolderW = [](LPBROWSEINFOW) { return &browsedItem; };
    fake.hooks.SHGetPathFromIDListW = [folder](PCIDLIST_ABSOLUTE item, LPWSTR path) {
        if (item != &browsedItem || folder.size() >= MAX_PATH)
            return FALSE;
        wcscpy_s(path, MAX_PATH, folder.c_str());
        return TRUE;
    };
}

void WindowTest::RecordReports()
{
    recording = this;
    originalProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingProc)));
}

bool WindowTest::Reported(const std::wstring& text) const
{
    return std::any_of(reports.begin(), reports.end(), [&](const Report& r) { return r.text == text; });
}

void WindowTest::ExpectIdle(const std::wstring& status) const
{
    EXPECT_FALSE(workerThread.joinable());
    EXPECT_EQ(status, StatusLine());
    EXPECT_EQ(0, BarPosition());
    EXPECT_TRUE(IsWindowEnabled(ui.startButton));
    EXPECT_FALSE(IsWindowEnabled(ui.cancelButton));
}

std::wstring WindowTest::StatusLine() const
{
    wchar_t text[1024] = {};
    GetWindowTextW(ui.statusLine, text, 1024);
    return text;
}

int WindowTest::RowCount() const
{
    return static_cast<int>(SendMessageW(ui.fileList, LVM_GETITEMCOUNT, 0, 0));
}

std::wstring WindowTest::RowText(int row, int column) const
{
    wchar_t text[1024] = {};
    LVITEMW item = {};
    item.iSubItem = column;
    item.pszText = text;
    item.cchTextMax = 1024;
    SendMessageW(ui.fileList, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

std::vector<std::wstring> WindowTest::RowTexts(int column) const
{
    std::vector<std::wstring> texts;
    for (int row = 0; row < RowCount(); ++row)
        texts.push_back(RowText(row, column));
    return texts;
}

int WindowTest::BarPosition() const
{
    return static_cast<int>(SendMessageW(ui.progressBar, PBM_GETPOS, 0, 0));
}

std::vector<std::wstring> WindowTest::BoxCaptions() const
{
    std::vector<std::wstring> captions;
    for (const OsCallRecord& box : Boxes())
        captions.push_back(box.path2);
    return captions;
}

void WindowTest::ExpectLastBox(size_t count, const std::wstring& caption, const std::wstring& text, UINT style) const
{
    std::vector<OsCallRecord> boxes = Boxes();
    ASSERT_EQ(count, boxes.size());
    EXPECT_EQ(caption, boxes.back().path2);
    EXPECT_EQ(text, boxes.back().path);
    EXPECT_EQ(style, boxes.back().number);
}

std::string Narrow(const std::wstring& text)
{
    std::string narrow;
    for (wchar_t c : text)
        narrow += (c < 128) ? static_cast<char>(c) : '?';
    return narrow;
}
