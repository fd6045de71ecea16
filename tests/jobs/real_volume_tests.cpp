// Jobs on real volumes, run by tests/e2e/wipe_tmpfs.sh and tests/e2e/ntfs_erase.sh
// with the volume named in the environment; skipped elsewhere.
#include "methods/erase_methods.h"
#include "tests/jobs/job_window.h"
#include "tests/support/fake_os.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

namespace {

// Returns the environment variable `name` as wide text, or an empty string.
std::wstring Environment(const char* name) { return std::filesystem::path(std::getenv(name) ? std::getenv(name) : "").wstring(); }

struct WipeFileView { std::wstring name; int64_t size = -1, allocated = -1; };

// Returns the hidden wipe file in `folder` as the test thread sees it beside the job's own handle.
WipeFileView LookAtWipeFile(const std::wstring& folder)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"_wipe_*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE || !FindClose(search) || !(found.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN)) return {};
    HANDLE file = CreateFileW((folder + found.cFileName).c_str(), 0, FILE_SHARE_VALID_FLAGS, nullptr, OPEN_EXISTING, 0, nullptr);
    FILE_STANDARD_INFO info = {};
    GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info);
    CloseHandle(file);
    return {found.cFileName, info.EndOfFile.QuadPart, info.AllocationSize.QuadPart};
}

TEST(RealFreeSpaceWipe, ZeroFillWithVerificationOnAMountedVolume)
{
    const std::wstring folder = Environment("TARNWICK_WIPE_FOLDER");
    if (folder.empty()) GTEST_SKIP() << "needs a volume of its own; tests/e2e/wipe_tmpfs.sh runs it on one";
    ULARGE_INTEGER availableBefore = {};
    ASSERT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &availableBefore, nullptr, nullptr));
    verifyReadBack.store(1);
    JobWindow window;
    WipeFileView beforePass, afterPass;
    window.onReport = [&](const WindowReport& report) {
        if (report.message == WM_APP_STATUS && report.text.rfind(L"Pass 1/1", 0) == 0) beforePass = LookAtWipeFile(folder);
        if (report.message == WM_APP_PROGRESS && report.first == 100) afterPass = LookAtWipeFile(folder);
    };
    EXPECT_EQ(0, window.Run([folder] { FreeSpaceWipeJob(folder, EraseZeroFill); }));
    verifyReadBack.store(0);
    std::printf("wipe file %ls: %lld bytes, %lld allocated before the pass, %lld after\n", beforePass.name.c_str(),
                beforePass.size, beforePass.allocated, afterPass.allocated);
    // The available space less the 64 MiB reserve, verified, and every byte of it held by the volume.
    EXPECT_GE(beforePass.size, static_cast<int64_t>(availableBefore.QuadPart) - (64 << 20));
    EXPECT_GE(afterPass.allocated, beforePass.size);
}

// Returns a stream record as the system lists it.
WIN32_FIND_STREAM_DATA StreamRecord(const std::wstring& name, DWORD sizeHigh, DWORD sizeLow)
{
    WIN32_FIND_STREAM_DATA record = {};
    record.StreamSize.QuadPart = (LONGLONG{sizeHigh} << 32) | sizeLow;
    wcsncpy(record.cStreamName, name.c_str(), MAX_PATH + 35);
    return record;
}

TEST(RealNtfsErase, EveryFileOfOneMethodIsErased)
{
    const std::map<std::wstring, EraseMethodFn> methods = {{L"random", EraseRandom}, {L"dod3", EraseDod3Pass}, {L"gutmann", EraseGutmann}};
    const auto method = methods.find(Environment("TARNWICK_NTFS_METHOD"));
    const std::wstring files = Environment("TARNWICK_NTFS_FILES"), stream = Environment("TARNWICK_NTFS_STREAM");
    if (method == methods.end() || files.empty()) GTEST_SKIP() << "needs an NTFS volume of its own; tests/e2e/ntfs_erase.sh runs it on one";
    std::vector<EraseItem> items;
    std::wistringstream list(files);
    for (std::wstring path; std::getline(list, path, L'|');) items.push_back({static_cast<int32_t>(items.size()), path});
    // Wine lists no named streams: list the main stream and, where the file
    // really has it, the named stream with its real size, so the engine opens
    // and overwrites that stream through its ordinary "file:stream" path.
    FakeOs fake;
    WIN32_FILE_ATTRIBUTE_DATA named = {};
    WIN32_FIND_STREAM_DATA namedRecord = {};
    bool namedNext = false;
    fake.hooks.FindFirstStreamW = [&](LPCWSTR path, STREAM_INFO_LEVELS, LPVOID data, DWORD) {
        WIN32_FIND_DATAW file = {};
        HANDLE find = FindFirstFileW(path, &file);  // a real handle, for the real FindClose
        *static_cast<WIN32_FIND_STREAM_DATA*>(data) = StreamRecord(L"::$DATA", file.nFileSizeHigh, file.nFileSizeLow);
        namedNext = stream.size() > 1 && GetFileAttributesExW((path + (L":" + stream)).c_str(), GetFileExInfoStandard, &named);
        namedRecord = StreamRecord(L":" + stream + L":$DATA", named.nFileSizeHigh, named.nFileSizeLow);
        if (namedNext)
            std::printf("listed stream :%ls of %ls (%lld bytes)\n", stream.c_str(), path, namedRecord.StreamSize.QuadPart);
        return find;
    };
    fake.hooks.FindNextStreamW = [&](HANDLE, LPVOID data) {
        if (!namedNext) return SetLastError(ERROR_HANDLE_EOF), FALSE;
        *static_cast<WIN32_FIND_STREAM_DATA*>(data) = namedRecord;
        return namedNext = false, TRUE;
    };
    verifyReadBack.store(1);
    JobWindow window;
    EXPECT_EQ(0, window.Run([&] { FileEraseJob(method->second, items, {}); }));
    verifyReadBack.store(0);
    for (const WindowReport& report : window.reports)
        if (report.message == WM_APP_STATUS) std::printf("row %d: %ls\n", report.first, report.text.c_str());
    for (const EraseItem& item : items) EXPECT_EQ(L"Done", window.LastStatus(item.row)) << "row " << item.row;
}

}  // namespace
