// Jobs on real volumes, run by tests/e2e/wipe_tmpfs.sh and tests/e2e/ntfs_erase.sh
// with the volume named in the environment; skipped elsewhere.
#include "methods/erase_methods.h"
#include "tests/jobs/job_window.h"
#include "tests/support/fake_os.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <algorithm>
#include <map>
#include <sstream>

namespace {

// Returns the environment variable `name` as wide text, or an empty string.
std::wstring Environment(const char* name) { return std::filesystem::path(std::getenv(name) ? std::getenv(name) : "").wstring(); }

// Returns the names of the wipe files and fillers in `folder`, hidden or not.
std::vector<std::wstring> WipeFilesIn(const std::wstring& folder)
{
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().filename().wstring().rfind(L"_wipe_", 0) == 0) names.push_back(entry.path().filename().wstring());
    return names;
}

// A real wipe (zero fill, verified) of the volume named by the environment, as
// it is and with the seam refusing lengths over 96 MiB, or also stating 1 GiB
// more than is free and refusing a second wipe file, or stopping in the
// allocation, the overwrite or the filling of records.
TEST(RealFreeSpaceWipe, WipeFilesCoverTheFreeSpaceOfAMountedVolume)
{
    const std::wstring folder = Environment("TARNWICK_WIPE_FOLDER");
    if (folder.empty()) GTEST_SKIP() << "needs a volume of its own; tests/e2e/wipe_tmpfs.sh runs it on one";
    enum Stop { None, Allocating, Overwriting, Filling };
    const struct { int64_t cap; int files; Stop stop; int32_t outcome; } cases[] = {
        {INT64_MAX, 9, None, 0}, {96 << 20, 9, None, 0}, {96 << 20, 1, None, 3},
        {96 << 20, 9, Allocating, 1}, {96 << 20, 9, Overwriting, 1}, {96 << 20, 9, Filling, 1}};
    verifyReadBack.store(1);
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "cap " << c.cap << ", stop " << c.stop);
        ULARGE_INTEGER available = {};
        FakeOs fake;
        ASSERT_TRUE(RealOsCalls().GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr));
        std::map<std::wstring, int64_t> lengths, written;
        int wipeFiles = 0, refused = 0;
        fake.hooks.CreateFileW = [&](LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD how, DWORD flags, HANDLE t) {
            if (c.stop == Filling && how == CREATE_NEW) stopRequested.store(1);
            if (how == CREATE_ALWAYS && ++wipeFiles > c.files) return SetLastError(ERROR_DISK_FULL), INVALID_HANDLE_VALUE;
            return RealOsCalls().CreateFileW(path, access, share, sa, how, flags, t);
        };
        fake.hooks.GetDiskFreeSpaceExW = [&](LPCWSTR path, PULARGE_INTEGER free, auto...) {
            return RealOsCalls().GetDiskFreeSpaceExW(path, free, nullptr, nullptr) && (free->QuadPart += (c.files == 1) << 30, TRUE); };
        std::vector<int64_t> asked;  // the length of every SetEndOfFile, in order
        fake.hooks.SetEndOfFile = [&](HANDLE file) {
            LARGE_INTEGER at = {}, none = {};
            RealOsCalls().SetFilePointerEx(file, none, &at, FILE_CURRENT);
            asked.push_back(at.QuadPart);
            if (c.stop == Allocating && ++refused == 3) stopRequested.store(1);
            if (at.QuadPart > c.cap) return SetLastError(ERROR_FILE_TOO_LARGE), FALSE;
            return RealOsCalls().SetEndOfFile(file);
        };
        JobWindow window;
        std::vector<int32_t> progress;
        window.onReport = [&](const WindowReport& report) {
            if (report.message == WM_APP_PROGRESS) progress.push_back(report.first);
            if (c.stop == Overwriting && !progress.empty() && progress.back() >= 30) stopRequested.store(1);
        };
        EXPECT_EQ(c.outcome, window.Run([folder] { FreeSpaceWipeJob(folder, EraseZeroFill); }));
        int64_t covered = 0;  // the length each file was given, and what was written to it
        for (size_t end = 0; const OsCallRecord& call : fake.CallLog()) {
            const int64_t length = call.fn == OsFn::SetEndOfFile ? asked.at(end++) : 0;
            if (call.ok && length) lengths[call.path] = std::max(lengths[call.path], length);
            written[call.path] += call.fn == OsFn::WriteFile ? call.done : 0;
        }
        for (const auto& [path, length] : lengths) covered += length;
        for (const auto& [path, length] : lengths) EXPECT_TRUE(c.outcome != 0 || written[path] >= length) << "not overwritten in full: " << path;
        EXPECT_EQ(std::vector<std::wstring>{}, WipeFilesIn(folder));
        EXPECT_LEDGER_BALANCED(fake);
        std::printf("%zu wipe files, %lld bytes for %llu available\n", lengths.size(), covered, available.QuadPart);
        if (c.outcome == 1) continue;
        EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()) && progress.back() == 100);
        // All of it less the reserve and at most one smallest file, or a word on what was not.
        EXPECT_TRUE(c.files > 1 ? covered >= static_cast<int64_t>(available.QuadPart) - (128 << 20)
                                : window.LastStatus(-1).rfind(L"Could not allocate all free space; ", 0) == 0) << window.LastStatus(-1);
    }
    verifyReadBack.store(0);
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
        return find;
    };
    fake.hooks.FindNextStreamW = [&](HANDLE, LPVOID data) {
        if (namedNext) *static_cast<WIN32_FIND_STREAM_DATA*>(data) = namedRecord;
        return namedNext ? (namedNext = false, TRUE) : (SetLastError(ERROR_HANDLE_EOF), FALSE);
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
