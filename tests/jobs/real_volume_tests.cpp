// Jobs on real volumes, run by tests/e2e/wipe_tmpfs.sh and tests/e2e/ntfs_erase.sh
// with the volume named in the environment; skipped elsewhere.
#include "methods/erase_methods.h"
#include "tests/jobs/job_window.h"
#include "tests/support/fake_os.h"

#include <cstdio>
#include <cstdlib>

namespace {

// Returns the environment variable `name` as wide text, or an empty string.
std::wstring Environment(const char* name)
{
    const std::string value = std::getenv(name) ? std::getenv(name) : "";
    return std::wstring(value.begin(), value.end());
}

// Returns the bytes available to the caller on the volume of `folder`.
int64_t AvailableOn(const std::wstring& folder)
{
    ULARGE_INTEGER available = {};
    EXPECT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr));
    return static_cast<int64_t>(available.QuadPart);
}

struct WipeFileView {
    std::wstring name;  // empty: no wipe file
    int64_t size = -1, allocated = -1;
};

// Returns the wipe file in `folder` as the test thread sees it beside the job's own handle.
WipeFileView LookAtWipeFile(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"_wipe_*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE || !FindClose(search) || !(found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN)) return {};
    HANDLE file = CreateFileW((folder + found.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    FILE_STANDARD_INFO info = {};
    GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info);
    CloseHandle(file);
    return {found.cFileName, info.EndOfFile.QuadPart, info.AllocationSize.QuadPart};
}

TEST(RealFreeSpaceWipe, ZeroFillWithVerificationOnAMountedVolume)
{
    const std::wstring folder = Environment("TARNWICK_WIPE_FOLDER");
    if (folder.empty()) GTEST_SKIP() << "needs a volume of its own; tests/e2e/wipe_tmpfs.sh runs it on one";
    const int64_t availableBefore = AvailableOn(folder);
    verifyReadBack.store(1);
    FakeOs fake;
    JobWindow window;
    WipeFileView beforePass, afterPass;
    window.onReport = [&](const WindowReport& report) {
        if (report.message == WM_APP_STATUS && report.text.rfind(L"Pass 1/1", 0) == 0) beforePass = LookAtWipeFile(folder);
        if (report.message == WM_APP_PROGRESS && report.first == 100) afterPass = LookAtWipeFile(folder);
    };
    EXPECT_EQ(0, window.Run([folder] { FreeSpaceWipeJob(folder, EraseZeroFill); }));
    verifyReadBack.store(0);
    std::printf("wipe file %ls: %lld bytes, %lld allocated before the pass, %lld after\n", beforePass.name.c_str(),
                static_cast<long long>(beforePass.size), static_cast<long long>(beforePass.allocated),
                static_cast<long long>(afterPass.allocated));
    // A hidden file of the available space less the 64 MiB reserve, every byte written, verified and held.
    EXPECT_GE(beforePass.size, availableBefore - (64 << 20));
    EXPECT_GE(afterPass.allocated, beforePass.size);
    int64_t written = 0, verified = 0;
    for (const OsCallRecord& call : fake.CallLog()) {
        written += call.path == folder + beforePass.name && call.fn == OsFn::WriteFile ? call.done : 0;
        verified += call.path == folder + beforePass.name && call.fn == OsFn::ReadFile ? call.done : 0;
    }
    EXPECT_EQ(beforePass.size, written);
    EXPECT_EQ(beforePass.size, verified);
    EXPECT_EQ(availableBefore, AvailableOn(folder)) << "the wipe file's space was not given back";
    EXPECT_LEDGER_BALANCED(fake);
}

// Wine lists no named streams: this listing reports the main stream and, where
// the file really has it, the named stream with its real size, so the engine
// opens and overwrites that stream through its ordinary "file:stream" path.
std::wstring listedStream;
WIN32_FIND_STREAM_DATA listing[2];
int listed = 0, listingNext = 0;
const HANDLE kListing = reinterpret_cast<HANDLE>(uintptr_t{0x7E570000});

// Adds the stream `name` at `path` to the listing when it exists; returns whether it does.
bool List(const std::wstring& path, const std::wstring& name)
{
    HANDLE file = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    const bool measured = file != INVALID_HANDLE_VALUE && GetFileSizeEx(file, &listing[listed].StreamSize);
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (measured) wcsncpy(listing[listed++].cStreamName, name.c_str(), MAX_PATH + 35);
    return measured;
}

// Returns our listing's handle with its first record in `data`, or
// INVALID_HANDLE_VALUE (ERROR_FILE_NOT_FOUND) when `path` cannot be measured.
HANDLE WINAPI FindFirstStreamListed(LPCWSTR path, STREAM_INFO_LEVELS, LPVOID data, DWORD)
{
    listed = 0, listingNext = 1;
    if (!List(path, L"::$DATA")) return SetLastError(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
    if (!listedStream.empty() && List(path + (L":" + listedStream), L":" + listedStream + L":$DATA"))
        std::printf("listed stream :%ls of %ls (%lld bytes)\n", listedStream.c_str(), path,
                    static_cast<long long>(listing[1].StreamSize.QuadPart));
    *static_cast<WIN32_FIND_STREAM_DATA*>(data) = listing[0];
    return kListing;
}

// Hands out the next record; returns FALSE with ERROR_HANDLE_EOF after the last.
BOOL WINAPI FindNextStreamListed(HANDLE find, LPVOID data)
{
    if (find != kListing || listingNext >= listed) return SetLastError(ERROR_HANDLE_EOF), FALSE;
    *static_cast<WIN32_FIND_STREAM_DATA*>(data) = listing[listingNext++];
    return TRUE;
}

// Returns TRUE for our listing, else what the real FindClose returns.
BOOL WINAPI FindCloseListed(HANDLE find) { return find == kListing ? TRUE : RealOsCalls().FindClose(find); }

TEST(RealNtfsErase, EveryFileOfOneMethodIsErased)
{
    const std::wstring name = Environment("TARNWICK_NTFS_METHOD"), files = Environment("TARNWICK_NTFS_FILES");
    const EraseMethodFn method = name == L"random" ? EraseRandom
                                 : name == L"dod3" ? EraseDod3Pass
                                 : name == L"gutmann" ? EraseGutmann : nullptr;
    if (method == nullptr || files.empty())
        GTEST_SKIP() << "needs an NTFS volume of its own; tests/e2e/ntfs_erase.sh runs it on one";
    listedStream = Environment("TARNWICK_NTFS_STREAM");
    if (listedStream == L"-") listedStream.clear();
    std::vector<EraseItem> items;
    for (size_t start = 0, end = 0; start <= files.size(); start = end + 1) {
        end = std::min(files.find(L'|', start), files.size());
        items.push_back({static_cast<int32_t>(items.size()), files.substr(start, end - start)});
    }
    os.FindFirstStreamW = FindFirstStreamListed, os.FindNextStreamW = FindNextStreamListed, os.FindClose = FindCloseListed;
    verifyReadBack.store(1);
    JobWindow window;
    EXPECT_EQ(0, window.Run([method, items] { FileEraseJob(method, items, {}); }));
    os = RealOsCalls();
    verifyReadBack.store(0);
    for (const WindowReport& report : window.reports)
        if (report.message == WM_APP_STATUS) std::printf("row %d: %ls\n", report.first, report.text.c_str());
    for (const EraseItem& item : items) EXPECT_EQ(L"Done", window.LastStatus(item.row)) << "row " << item.row;
}

}  // namespace
