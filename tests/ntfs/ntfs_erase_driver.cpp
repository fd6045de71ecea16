// Erases files on a mounted NTFS volume with the real erase job and one real
// method, verification on, and prints every report the job sends. Wine lists
// no named streams, so the stream listing is replaced by one that reports the
// main stream and, where the file really has it, one named stream with its
// real size; the engine then opens and overwrites that stream through its
// ordinary "file:stream" path.
//
//   ntfs_erase_driver.exe random|dod3|gutmann STREAM|- FILE...
//
// Exit code 0 only when the job completed and every file reported "Done".
#include "engine/erase_types.h"
#include "jobs/job_report.h"
#include "jobs/jobs.h"
#include "methods/erase_methods.h"
#include "os/os_seam.h"

#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>
#include <vector>

namespace {

// The named stream to report, without colons; empty reports none.
std::wstring listedStream;

// The engine lists one file's streams at a time, on its one thread: the
// records of that listing, and the next one to hand out.
std::vector<WIN32_FIND_STREAM_DATA> listing;
size_t listingNext = 0;
const HANDLE kListing = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7E570000));

// Prints `text` as UTF-8 followed by a line end; returns nothing.
void PrintLine(const std::wstring& text)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(bytes > 0 ? bytes : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, utf8.data(), bytes, nullptr, nullptr);
    std::printf("%s\n", utf8.c_str());
    std::fflush(stdout);
}

// Returns the size of the stream or file at `path` through the real calls,
// or -1 when it cannot be opened or measured.
LONGLONG RealSizeOf(const std::wstring& path)
{
    const OsCalls& real = RealOsCalls();
    HANDLE file = real.CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return -1;
    LARGE_INTEGER size = {};
    BOOL measured = real.GetFileSizeEx(file, &size);
    real.CloseHandle(file);
    return measured ? size.QuadPart : -1;
}

// Returns a stream record as the system lists it.
WIN32_FIND_STREAM_DATA StreamRecord(const std::wstring& name, LONGLONG size)
{
    WIN32_FIND_STREAM_DATA record = {};
    record.StreamSize.QuadPart = size;
    wcsncpy(record.cStreamName, name.c_str(), MAX_PATH + 35);
    return record;
}

// Lists the main stream and, when `path` has it, the named stream. Returns the
// listing handle with the first record in `data`, or INVALID_HANDLE_VALUE
// with ERROR_FILE_NOT_FOUND when `path` itself cannot be measured.
HANDLE WINAPI FindFirstStreamListed(LPCWSTR path, STREAM_INFO_LEVELS, LPVOID data, DWORD)
{
    LONGLONG mainSize = RealSizeOf(path);
    if (mainSize < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    listing = {StreamRecord(L"::$DATA", mainSize)};
    LONGLONG streamSize = listedStream.empty() ? -1 : RealSizeOf(std::wstring(path) + L":" + listedStream);
    if (streamSize >= 0) {
        listing.push_back(StreamRecord(L":" + listedStream + L":$DATA", streamSize));
        PrintLine(L"listed stream :" + listedStream + L" of " + path + L" (" + std::to_wstring(streamSize) +
                  L" bytes)");
    }
    *static_cast<WIN32_FIND_STREAM_DATA*>(data) = listing[0];
    listingNext = 1;
    return kListing;
}

// Hands out the next record; returns FALSE with ERROR_HANDLE_EOF after the last.
BOOL WINAPI FindNextStreamListed(HANDLE find, LPVOID data)
{
    if (find != kListing || listingNext >= listing.size()) {
        SetLastError(ERROR_HANDLE_EOF);
        return FALSE;
    }
    *static_cast<WIN32_FIND_STREAM_DATA*>(data) = listing[listingNext++];
    return TRUE;
}

// Ends our listing, or passes any other handle to the real call; returns TRUE
// for the listing, else what the real call returns.
BOOL WINAPI FindCloseListed(HANDLE find)
{
    return find == kListing ? TRUE : RealOsCalls().FindClose(find);
}

// What the window saw of the job.
struct JobRecord {
    int32_t done = 0;  // reports that read exactly "Done": one per erased item
    bool finished = false;
    JobOutcome outcome = JobOutcome::Failed;
};

JobRecord jobRecord;

// Prints each report of the job and notes the per-item words and the outcome.
LRESULT CALLBACK DriverWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_APP_STATUS: {
        const auto* text = reinterpret_cast<const wchar_t*>(lParam);
        PrintLine(L"row " + std::to_wstring(static_cast<intptr_t>(wParam)) + L": " + text);
        if (wcscmp(text, L"Done") == 0) ++jobRecord.done;
        return 0;
    }
    case WM_APP_PROGRESS:
        return 0;
    case WM_APP_FINISHED:
        jobRecord.finished = true;
        jobRecord.outcome = static_cast<JobOutcome>(wParam);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Returns the message-only window that stands in for the main window, or null.
HWND CreateReportWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DriverWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TarnwickNtfsDriver";
    if (RegisterClassW(&windowClass) == 0) return nullptr;
    return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
}

// Returns the method named on the command line, or null for an unknown name.
EraseMethodFn MethodNamed(const wchar_t* name)
{
    if (wcscmp(name, L"random") == 0) return EraseRandom;
    if (wcscmp(name, L"dod3") == 0) return EraseDod3Pass;
    if (wcscmp(name, L"gutmann") == 0) return EraseGutmann;
    return nullptr;
}

// Runs the job on a worker thread while this thread takes its reports.
// Returns true when the job completed and every item reported "Done".
bool RunJob(EraseMethodFn method, std::vector<EraseItem> items)
{
    const int32_t count = static_cast<int32_t>(items.size());
    std::thread worker(FileEraseJob, method, std::move(items), std::vector<std::wstring>());
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    worker.join();
    PrintLine(L"outcome " + std::to_wstring(static_cast<int32_t>(jobRecord.outcome)) + L", " +
              std::to_wstring(jobRecord.done) + L" of " + std::to_wstring(count) + L" done");
    return jobRecord.finished && jobRecord.outcome == JobOutcome::Completed && jobRecord.done == count;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    EraseMethodFn method = argc >= 4 ? MethodNamed(argv[1]) : nullptr;
    if (method == nullptr) {
        std::fprintf(stderr, "usage: ntfs_erase_driver random|dod3|gutmann STREAM|- FILE...\n");
        return 2;
    }
    if (wcscmp(argv[2], L"-") != 0) listedStream = argv[2];
    mainWindow = CreateReportWindow();
    if (mainWindow == nullptr) {
        std::fprintf(stderr, "cannot create the report window\n");
        return 2;
    }
    os.FindFirstStreamW = FindFirstStreamListed;
    os.FindNextStreamW = FindNextStreamListed;
    os.FindClose = FindCloseListed;
    verifyReadBack.store(1);
    stopRequested.store(0);
    PrintLine(std::wstring(L"method ") + argv[1] + L", verification on");

    std::vector<EraseItem> items;
    for (int i = 3; i < argc; ++i) {
        items.push_back(EraseItem{i - 3, argv[i]});
    }
    return RunJob(method, std::move(items)) ? 0 : 1;
}
