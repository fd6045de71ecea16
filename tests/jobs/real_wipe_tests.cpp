// The free-space wipe on a real volume. tests/e2e/wipe_tmpfs.sh mounts a
// small volume, maps it to a drive letter and runs this test with
// TARNWICK_WIPE_FOLDER set to that drive's root; elsewhere it is skipped.
#include "jobs/jobs.h"
#include "methods/erase_methods.h"
#include "tests/jobs/job_window.h"
#include "tests/support/fake_os.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint64_t kReserve = 64ull * 1024 * 1024;

// What the test thread saw of the wipe file at one moment of the job.
struct WipeFileView {
    bool found = false;
    std::wstring name;
    DWORD attributes = 0;
    int64_t size = -1;
    int64_t allocated = -1;      // bytes the file system holds for it
    bool allZero = false;        // every byte reads back as zero
    uint64_t volumeAvailable = 0;
};

// Returns the root named by TARNWICK_WIPE_FOLDER, or an empty string.
std::wstring WipeFolderFromEnvironment()
{
    const char* folder = std::getenv("TARNWICK_WIPE_FOLDER");
    return folder ? std::wstring(folder, folder + std::strlen(folder)) : std::wstring();
}

// Returns the bytes available to the caller on the volume of `folder`.
uint64_t AvailableOn(const std::wstring& folder)
{
    ULARGE_INTEGER available = {};
    EXPECT_TRUE(GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr));
    return available.QuadPart;
}

// Returns true when every byte of the open file reads as zero.
bool ReadsAllZero(HANDLE file, int64_t size)
{
    std::string chunk(1 << 20, '\0');
    int64_t total = 0;
    DWORD got = 0;
    while (ReadFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &got, nullptr) && got > 0) {
        if (chunk.find_first_not_of('\0', 0) < got) {
            return false;
        }
        total += got;
    }
    return total == size;
}

// Looks at the wipe file in `folder` from outside the job, sharing it with
// the job's open write handle.
WipeFileView LookAtWipeFile(const std::wstring& folder, bool readContents)
{
    WipeFileView view;
    view.volumeAvailable = AvailableOn(folder);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"_wipe_*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return view;
    }
    view.found = true;
    view.name = found.cFileName;
    view.attributes = found.dwFileAttributes;
    EXPECT_FALSE(FindNextFileW(search, &found)) << "more than one wipe file";
    FindClose(search);
    HANDLE file = CreateFileW((folder + view.name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return view;
    }
    FILE_STANDARD_INFO info = {};
    if (GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info)) {
        view.size = info.EndOfFile.QuadPart;
        view.allocated = info.AllocationSize.QuadPart;
    }
    view.allZero = readContents && ReadsAllZero(file, view.size);
    CloseHandle(file);
    return view;
}

bool StartsWith(const std::wstring& text, const wchar_t* prefix)
{
    return text.rfind(prefix, 0) == 0;
}

TEST(RealFreeSpaceWipe, ZeroFillWithVerificationOnAMountedVolume)
{
    const std::wstring folder = WipeFolderFromEnvironment();
    if (folder.empty()) {
        GTEST_SKIP() << "needs a volume of its own; tests/e2e/wipe_tmpfs.sh runs it on one";
    }
    ASSERT_EQ(L'\\', folder.back());
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    ASSERT_TRUE(GetDiskFreeSpaceW(folder.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters));
    const int64_t cluster = int64_t{sectorsPerCluster} * bytesPerSector;
    const uint64_t availableBefore = AvailableOn(folder);
    ASSERT_GT(availableBefore, 2 * kReserve);
    // The job leaves 64 MiB; the engine lengthens the file to its last cluster's end.
    const int64_t wipeSize = static_cast<int64_t>(availableBefore - kReserve);
    const int64_t overwritten = (wipeSize + cluster - 1) / cluster * cluster;

    stopRequested.store(0);
    verifyReadBack.store(1);
    FakeOs fake;
    JobWindow window;
    WipeFileView beforePass;
    WipeFileView afterPass;
    window.onReport = [&](const WindowReport& report) {
        if (report.message == WM_APP_STATUS && StartsWith(report.text, L"Pass 1/1")) {
            beforePass = LookAtWipeFile(folder, false);
        }
        if (report.message == WM_APP_PROGRESS && report.first == 100) {
            afterPass = LookAtWipeFile(folder, true);
        }
    };

    const int32_t outcome = window.Run([folder] { FreeSpaceWipeJob(folder, EraseZeroFill); });
    verifyReadBack.store(0);

    std::wstring allTexts;
    for (const std::wstring& text : window.StatusTexts()) {
        allTexts += text + L"\n";
    }
    SCOPED_TRACE(std::string(allTexts.begin(), allTexts.end()));
    EXPECT_EQ(0, outcome);

    // During the pass: one hidden wipe file of the available space less the reserve.
    ASSERT_TRUE(beforePass.found) << "no wipe file while the pass ran";
    EXPECT_EQ(26u, beforePass.name.size());
    EXPECT_TRUE(StartsWith(beforePass.name, L"_wipe_"));
    EXPECT_TRUE(beforePass.attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(overwritten, beforePass.size);
    std::printf("wipe file %ls: %lld bytes, %lld allocated before the pass, %lld after\n", beforePass.name.c_str(),
                static_cast<long long>(beforePass.size), static_cast<long long>(beforePass.allocated),
                static_cast<long long>(afterPass.allocated));

    // After the pass: every byte written, so the volume really holds them.
    ASSERT_TRUE(afterPass.found);
    EXPECT_EQ(beforePass.name, afterPass.name);
    EXPECT_TRUE(afterPass.allZero);
    EXPECT_GE(afterPass.allocated, overwritten);
    EXPECT_LE(afterPass.volumeAvailable, kReserve);
    int64_t written = 0;
    int64_t verified = 0;
    for (const OsCallRecord& call : fake.CallLog()) {
        if (call.path == folder + beforePass.name && call.fn == OsFn::WriteFile) written += call.done;
        if (call.path == folder + beforePass.name && call.fn == OsFn::ReadFile) verified += call.done;
    }
    EXPECT_EQ(overwritten, written);
    EXPECT_EQ(overwritten, verified);

    // Afterwards: the file is gone and its space is free again.
    EXPECT_FALSE(LookAtWipeFile(folder, false).found);
    EXPECT_EQ(availableBefore, AvailableOn(folder));
    const std::vector<std::wstring> texts = window.StatusTexts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(L"Allocating wipe space...", texts.front());
    EXPECT_EQ(L"File successfully overwritten (Zero fill, 1-pass) and deleted.", texts.back());
    EXPECT_LEDGER_BALANCED(fake);
}

}  // namespace
