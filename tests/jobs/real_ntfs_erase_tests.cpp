// The real erase job over files on a mounted NTFS volume. tests/e2e/ntfs_erase.sh
// mounts an NTFS image, maps it to a drive letter and runs this test once per
// method with TARNWICK_NTFS_METHOD (random, dod3 or gutmann), TARNWICK_NTFS_FILES
// (the files, separated by '|') and TARNWICK_NTFS_STREAM (a named stream, or
// "-"); elsewhere it is skipped. The script then scans the raw image.
//
// Wine lists no named streams, so the listing is replaced by one that reports
// the main stream and, where the file really has it, the named stream with
// its real size; the engine then opens and overwrites that stream through its
// ordinary "file:stream" path.
#include "jobs/jobs.h"
#include "methods/erase_methods.h"
#include "os/os_seam.h"
#include "tests/jobs/job_window.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The named stream to report, without colons; empty reports none.
std::wstring listedStream;

// The engine lists one file's streams at a time, on its one thread: the
// records of that listing, and the next one to hand out.
std::vector<WIN32_FIND_STREAM_DATA> listing;
size_t listingNext = 0;
const HANDLE kListing = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7E570000));

// Returns the environment variable `name` as wide text, or an empty string.
std::wstring Environment(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::wstring(value, value + std::strlen(value)) : std::wstring();
}

// Returns the size of the stream or file at `path` through the real calls,
// or -1 when it cannot be opened or measured.
LONGLONG RealSizeOf(const std::wstring& path)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    LARGE_INTEGER size = {};
    BOOL measured = GetFileSizeEx(file, &size);
    CloseHandle(file);
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
        std::printf("listed stream :%ls of %ls (%lld bytes)\n", listedStream.c_str(), path,
                    static_cast<long long>(streamSize));
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

TEST(RealNtfsErase, EveryFileOfOneMethodIsErased)
{
    const std::wstring name = Environment("TARNWICK_NTFS_METHOD"), files = Environment("TARNWICK_NTFS_FILES");
    const EraseMethodFn method = name == L"random" ? EraseRandom
                                 : name == L"dod3" ? EraseDod3Pass
                                 : name == L"gutmann" ? EraseGutmann
                                                      : nullptr;
    if (method == nullptr || files.empty())
        GTEST_SKIP() << "needs an NTFS volume of its own; tests/e2e/ntfs_erase.sh runs it on one";
    listedStream = Environment("TARNWICK_NTFS_STREAM");
    if (listedStream == L"-")
        listedStream.clear();
    std::vector<EraseItem> items;
    for (size_t start = 0; start <= files.size();) {
        size_t end = std::min(files.find(L'|', start), files.size());
        items.push_back({static_cast<int32_t>(items.size()), files.substr(start, end - start)});
        start = end + 1;
    }

    os.FindFirstStreamW = FindFirstStreamListed;
    os.FindNextStreamW = FindNextStreamListed;
    os.FindClose = FindCloseListed;
    verifyReadBack.store(1);
    stopRequested.store(0);
    JobWindow window;
    const int32_t outcome = window.Run([method, items] { FileEraseJob(method, items, {}); });
    os = RealOsCalls();
    verifyReadBack.store(0);

    for (const WindowReport& report : window.reports)
        if (report.message == WM_APP_STATUS)
            std::printf("row %d: %ls\n", report.first, report.text.c_str());
    EXPECT_EQ(0, outcome);
    for (const EraseItem& item : items) {
        const std::vector<std::wstring> texts = window.StatusTexts(item.row);
        EXPECT_EQ(L"Done", texts.empty() ? L"" : texts.back()) << "row " << item.row;
    }
}

}  // namespace
