// Jobs on real volumes, run by tests/e2e/wipe_tmpfs.sh and tests/e2e/ntfs_erase.sh
// with the volume named in the environment, which judge the volume afterwards;
// skipped elsewhere.
#include "tests/jobs/job_window.h"
#include "tests/support/fake_os.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace {

// Real wipes (zero fill, verified) of the volume named by the environment: as
// it is; with the seam refusing positions over 96 MiB, so that several files
// must share the space; with that and only one wipe file to be had, which
// leaves space unwiped; and with a stop during the overwrite of the first of
// several files. Every file is written in full to the length it has when
// deleted, and everything is released. One stop stands for all: whenever it
// comes, the job leaves its files to the same deletion, which the script's
// snapshot of the volume judges.
TEST(RealFreeSpaceWipe, WipeFilesCoverTheFreeSpaceOfAMountedVolume)
{
    const wchar_t* folder = _wgetenv(L"TARNWICK_WIPE_FOLDER");
    if (!folder) GTEST_SKIP() << "needs a volume of its own; tests/e2e/wipe_tmpfs.sh runs it on one";
    const struct { int64_t cap; int files; bool stop; int32_t outcome; } cases[] = {
        {INT64_MAX, 9, false, 0}, {96 << 20, 9, false, 0}, {96 << 20, 1, false, 3}, {96 << 20, 9, true, 1}};
    verifyReadBack.store(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        ULARGE_INTEGER available = {};
        ASSERT_TRUE(GetDiskFreeSpaceExW(folder, &available, nullptr, nullptr));
        FakeOs fake;
        int wipeFiles = 0;
        fake.hooks.CreateFileW = [&](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD how, DWORD flags, HANDLE t) {
            if (how == CREATE_ALWAYS && ++wipeFiles > c.files) return SetLastError(ERROR_DISK_FULL), INVALID_HANDLE_VALUE;
            return RealOsCalls().CreateFileW(path, access, share, sa, how, flags, t);
        };
        fake.hooks.SetFilePointerEx = [&](HANDLE file, LARGE_INTEGER to, PLARGE_INTEGER at, DWORD how) {
            if (how == FILE_BEGIN && to.QuadPart > c.cap) return SetLastError(ERROR_FILE_TOO_LARGE), FALSE;
            return RealOsCalls().SetFilePointerEx(file, to, at, how);
        };
        const auto name = [](std::wstring path) { return path.substr(path.find_last_of(L'\\') + 1); };
        std::map<std::wstring, int64_t> lengths, written;  // per file name: its length when deleted, the bytes written to it
        fake.hooks.SetFileInformationByHandle = [&](HANDLE file, FILE_INFO_BY_HANDLE_CLASS c, LPVOID info, DWORD n) {
            wchar_t path[MAX_PATH] = {};
            LARGE_INTEGER length = {};
            if (c == FileDispositionInfo && GetFinalPathNameByHandleW(file, path, MAX_PATH, 0) && GetFileSizeEx(file, &length)) lengths[name(path)] = length.QuadPart;
            return RealOsCalls().SetFileInformationByHandle(file, c, info, n);
        };
        JobWindow window;
        std::vector<int32_t> progress;
        window.onReport = [&](const WindowReport& report) {
            if (report.message == WM_APP_JOB_PROGRESS) progress.push_back(report.first);
            if (c.stop && !progress.empty() && progress.back() >= 3000) stopRequested.store(1);
        };
        EXPECT_EQ(c.outcome, window.Run([folder] { FreeSpaceWipeJob(folder, EraseZeroFill); })) << window.LastStatus(-1);
        EXPECT_LEDGER_BALANCED(fake);
        if (c.stop) continue;
        for (const OsCallRecord& write : fake.CallLog(OsFn::WriteFile)) written[name(write.path)] += write.done;
        int64_t covered = 0;
        for (const auto& [path, length] : lengths) {
            EXPECT_GE(written[path], length) << path;
            covered += length;
        }
        EXPECT_TRUE(!progress.empty() && std::is_sorted(progress.begin(), progress.end()) && progress.back() == 10000);
        // All of it but the reserve (and what the volume's own bookkeeping takes meanwhile), or a word on what was not.
        EXPECT_TRUE(c.outcome == 3 ? window.LastStatus(-1).starts_with(L"Could not allocate all free space; ")
                                   : covered >= static_cast<int64_t>(available.QuadPart) - (66 << 20))
            << covered << " of " << available.QuadPart << " bytes covered; " << window.LastStatus(-1);
    }
    verifyReadBack.store(0);
}

// Each method erases, verified, every file in the folder named after it.
TEST(RealNtfsErase, EveryMethodErasesTheFilesOfItsFolder)
{
    const wchar_t *folder = _wgetenv(L"TARNWICK_NTFS_FOLDER"), *stream = _wgetenv(L"TARNWICK_NTFS_STREAM");
    if (!folder || !stream) GTEST_SKIP() << "needs an NTFS volume of its own; tests/e2e/ntfs_erase.sh runs it on one";
    // Wine lists no named streams: list the one the files may have, which the
    // engine then opens through its ordinary "file:stream" path where a file
    // has it, and passes over where not.
    FakeOs fake;
    fake.hooks.GetFileInformationByHandleEx = [marker = L":" + std::wstring(stream) + L":$DATA"](HANDLE file, FILE_INFO_BY_HANDLE_CLASS c, LPVOID info, DWORD n) {
        return c == FileStreamInfo ? ListStreamRecords({L"::$DATA", marker}, info, n) : RealOsCalls().GetFileInformationByHandleEx(file, c, info, n);
    };
    // Windows removes a file whose deletion was asked through its handle once that handle closes. Wine asks the
    // volume while it still holds the file open itself, and FUSE then first hides the file under a name of its own,
    // an entry in the folder's index that Windows never makes; so the deletion is made here, after the close.
    std::map<HANDLE, std::wstring> deleteOnClose;
    fake.hooks.SetFileInformationByHandle = [&](HANDLE file, FILE_INFO_BY_HANDLE_CLASS c, LPVOID info, DWORD n) {
        wchar_t path[MAX_PATH] = {};
        if (c != FileDispositionInfo || !GetFinalPathNameByHandleW(file, path, MAX_PATH, 0)) return RealOsCalls().SetFileInformationByHandle(file, c, info, n);
        return deleteOnClose[file] = path, TRUE;
    };
    fake.hooks.CloseHandle = [&](HANDLE file) {
        const BOOL closed = CloseHandle(file);
        if (deleteOnClose.contains(file)) DeleteFileW(deleteOnClose[file].c_str()), deleteOnClose.erase(file);
        return closed;
    };
    verifyReadBack.store(1);
    for (const auto& [name, method] : std::map<std::wstring, EraseMethodFn>{{L"random", EraseRandom}, {L"dod3", EraseDod3Pass}, {L"gutmann", EraseGutmann}}) {
        const std::wstring methodFolder = folder + (L"\\" + name);
        std::vector<EraseItem> items;
        for (const auto& entry : std::filesystem::directory_iterator(methodFolder))
            items.push_back({static_cast<int32_t>(items.size()), entry.path().wstring()});
        JobWindow window;
        EXPECT_EQ(0, window.Run([&] { FileEraseJob(method, items, {}); })) << methodFolder;
        for (const EraseItem& item : items) EXPECT_EQ(L"Done", window.LastStatus(item.row)) << item.path;
        EXPECT_TRUE(std::filesystem::is_empty(methodFolder)) << methodFolder;
    }
    verifyReadBack.store(0);
}

}  // namespace
