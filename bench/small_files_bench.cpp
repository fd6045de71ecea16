// Many small files: the real erase job, driven through the real main window
// as the Start button drives it, against the method alone.
#include "bench/bench_support.h"

#include "app/main_window.h"
#include "engine/erase_session.h"
#include "engine/erase_types.h"
#include "jobs/job_report.h"
#include "jobs/jobs.h"
#include "methods/erase_methods.h"
#include "os/os_seam.h"
#include "ui/file_list.h"
#include "ui/handlers.h"
#include "ui/job_start.h"
#include "ui/ui_state.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {

// The window side of the job's reports: how many arrived, in how many
// messages, and how long the window took to show them.
WNDPROC mainWindowProc = nullptr;
int64_t reportsHandled = 0;
int64_t reportSends = 0;
double reportSeconds = 0;

LRESULT CALLBACK TimingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_APP_PROGRESS && message != WM_APP_STATUS && message != WM_APP_REPORTS)
        return CallWindowProcW(mainWindowProc, window, message, wParam, lParam);
    const double start = Seconds();
    LRESULT result = CallWindowProcW(mainWindowProc, window, message, wParam, lParam);
    reportSeconds += Seconds() - start;
    reportsHandled += message == WM_APP_REPORTS ? static_cast<int64_t>(wParam) : 1;
    ++reportSends;
    return result;
}

int WINAPI AnswerOk(HWND, LPCWSTR, LPCWSTR, UINT)
{
    return IDOK;
}

// Returns a drop handle naming `folder`, as the shell builds one.
HDROP DropOf(const std::wstring& folder)
{
    const size_t bytes = sizeof(DROPFILES) + (folder.size() + 2) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GHND, bytes);
    auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
    header->pFiles = sizeof(DROPFILES);
    header->fWide = TRUE;
    memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), folder.c_str(), folder.size() * sizeof(wchar_t));
    GlobalUnlock(memory);
    return static_cast<HDROP>(memory);
}

// Drops `root` on a hidden main window, presses Start with Random 1-pass and
// pumps messages until the job has ended. Returns the job's seconds from
// Start to its end, or a negative value when the window cannot be made.
double EraseThroughJob(const std::wstring& root, bool verify, size_t& files)
{
    if (!InitApplication(GetModuleHandleW(nullptr))) return -1;
    HWND window = CreateMainWindow(SW_HIDE);
    if (window == nullptr) return -1;
    mainWindowProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TimingWindowProc)));
    SendMessageW(window, WM_DROPFILES, reinterpret_cast<WPARAM>(DropOf(root)), 0);
    files = droppedFiles.size();
    SendMessageW(ui.methodCombo, CB_SETCURSEL, 0, 0);
    SendMessageW(ui.verifyCheck, BM_SETCHECK, verify ? BST_CHECKED : BST_UNCHECKED, 0);
    os.MessageBoxW = AnswerOk;
    InstallTimedOs();
    const double start = Seconds();
    OnStartErase();
    MSG message;
    while (JobIsRunning() && GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    const double seconds = Seconds() - start;
    DestroyWindow(window);
    ShutdownApplication();
    return seconds;
}

// Collects the files and folders under `folder`, parents before children.
void ListTree(const std::wstring& folder, std::vector<std::wstring>& files, std::vector<std::wstring>& folders)
{
    WIN32_FIND_DATAW entry;
    HANDLE listing = FindFirstFileW((folder + L"\\*").c_str(), &entry);
    if (listing == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") continue;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            folders.push_back(folder + L"\\" + name);
            ListTree(folders.back(), files, folders);
        } else {
            files.push_back(folder + L"\\" + name);
        }
    } while (FindNextFileW(listing, &entry));
    FindClose(listing);
}

// Erases every file under `root` with the method alone, no reporting, then
// removes the folders as the job does. Returns the seconds, or a negative
// value when a file did not succeed.
double EraseDirectly(const std::wstring& root, bool verify, size_t& files)
{
    std::vector<std::wstring> paths, folders{root};
    ListTree(root, paths, folders);
    files = paths.size();
    verifyReadBack.store(verify ? 1 : 0);
    InstallTimedOs();
    StopFlag stop{0};
    const EraseSession session;  // as the job holds one, so that only the reports differ
    const double start = Seconds();
    for (const std::wstring& path : paths)
        if (EraseRandom(path.c_str(), nullptr, nullptr, nullptr, &stop, false) != EraseResult::Success) return -1;
    RemoveFolders(folders);
    return Seconds() - start;
}

}  // namespace

bool CreateFileTree(const std::wstring& root, int count, DWORD bytes)
{
    CreateDirectoryW(root.c_str(), nullptr);
    std::mt19937 sizes(2024);
    std::vector<uint8_t> contents(8192, 0x5A);
    for (int index = 0; index < count; ++index) {
        wchar_t folder[32], name[32];
        swprintf(folder, 32, L"\\d%03d", index / 100);
        swprintf(name, 32, L"\\file%05d.dat", index);
        if (index % 100 == 0) CreateDirectoryW((root + folder).c_str(), nullptr);
        const DWORD size = bytes != 0 ? bytes : 1024 + sizes() % (7 * 1024 + 1);
        HANDLE file = CreateFileW((root + folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD written = 0;
        bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, contents.data(), size, &written, nullptr) && written == size;
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (!ok) return false;
    }
    return true;
}

int RunSmallFilesBench(const std::wstring& root, bool verify, bool throughJob, const char* label)
{
    size_t files = 0;
    const double seconds = throughJob ? EraseThroughJob(root, verify, files) : EraseDirectly(root, verify, files);
    if (seconds < 0 || GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES) {
        printf("small-file erase did not complete\n");
        return 1;
    }
    char name[64];
    snprintf(name, sizeof name, "small.%s.%s.verify%d", label, throughJob ? "job" : "direct", verify ? 1 : 0);
    PrintFigure(name, static_cast<double>(files) / seconds, "files/s");
    printf("    %zu files in %.2f s; where the time went:\n", files, seconds);
    const double inCalls = PrintTimedOs(seconds, 32, files);
    if (throughJob) {
        printf("    %-28s %8lld in %lld sends %8.3f s %5.1f %%  (window thread, showing them)\n", "job reports",
               static_cast<long long>(reportsHandled), static_cast<long long>(reportSends), reportSeconds,
               100.0 * reportSeconds / seconds);
    }
    const double rest = seconds - inCalls - (throughJob ? reportSeconds : 0);
    printf("    %-28s %23.3f s %5.1f %%  (engine, job, and message transit)\n", "rest", rest, 100.0 * rest / seconds);
    return 0;
}
