#include "engine/random_name.h"
#include "jobs/job_report.h"
#include "jobs/jobs.h"
#include "os/os_seam.h"
#include "os/verbatim_path.h"

#include <winioctl.h>
#include <cstdint>

namespace {

// Only more than this much free space is worth a wipe file.
constexpr uint64_t kMinimumAvailable = 134217728;  // 128 MiB
// Left free so that the system and other programs keep some room meanwhile.
constexpr uint64_t kReserve = 67108864;  // 64 MiB
// A wipe file this small or smaller is not worth creating.
constexpr uint64_t kSmallestSize = 67108864;  // 64 MiB
constexpr int32_t kNoRow = -1;

// Returns the path of the wipe file: `folder`, a backslash unless it already
// ends in a separator, then "_wipe_", the random name and ".tmp".
std::wstring WipeFilePath(const std::wstring& folder, const std::wstring& randomName)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') {
        path += L'\\';
    }
    return path + L"_wipe_" + randomName + L".tmp";
}

// Returns nine tenths of `size`, rounded down, without overflowing for any
// 64-bit size.
uint64_t NineTenths(uint64_t size)
{
    return size / 10 * 9 + size % 10 * 9 / 10;
}

// Sets the file's length to `size` without writing data. Returns true when
// both the seek and the end-of-file call succeeded.
bool SetFileLength(HANDLE file, uint64_t size)
{
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(size);
    return os.SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) && os.SetEndOfFile(file);
}

// Makes the open wipe file as large as the volume allows, starting at `size`
// and shrinking by tenths. Returns false when a stop was requested or the
// size fell to the smallest worth trying.
bool ReserveWipeSpace(HANDLE file, uint64_t size)
{
    for (;;) {
        if (stopRequested.load()) {
            return false;
        }
        if (SetFileLength(file, size)) {
            return true;
        }
        size = NineTenths(size);
        if (size <= kSmallestSize) {
            return false;
        }
    }
}

// Creates the hidden wipe file at `path` and gives it `size` bytes (or as
// close as the volume allows), sending the allocation texts. Returns true
// when the closed file is ready for the method; otherwise no file is left
// and `failure` holds the outcome to post.
bool CreateWipeFile(const std::wstring& path, uint64_t size, JobOutcome& failure)
{
    SendJobStatus(kNoRow, L"Allocating wipe space...");
    HANDLE file = os.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN,
                                 nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        SendJobStatus(kNoRow, L"Failed to create wipe file.");
        failure = JobOutcome::Failed;
        return false;
    }
    // A compressed file would occupy less than its length and leave free
    // space unwritten.
    USHORT noCompression = COMPRESSION_FORMAT_NONE;
    DWORD returned = 0;
    os.DeviceIoControl(file, FSCTL_SET_COMPRESSION, &noCompression, sizeof noCompression, nullptr, 0, &returned,
                       nullptr);
    const bool reserved = ReserveWipeSpace(file, size);
    os.CloseHandle(file);
    if (reserved && !stopRequested.load()) {
        return true;
    }
    os.DeleteFileW(path.c_str());
    if (!stopRequested.load()) {
        SendJobStatus(kNoRow, L"Failed to allocate wipe space.");
    }
    failure = JobOutcomeOf(true);
    return false;
}

// Runs the wipe from the free-space check to the deletion of the wipe file.
// Returns the outcome to post.
JobOutcome WipeFreeSpace(const std::wstring& folder, EraseMethodFn method)
{
    ULARGE_INTEGER available{};
    if (!os.GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) {
        SendJobStatus(kNoRow, L"Failed to query free space.");
        return JobOutcome::Failed;
    }
    if (available.QuadPart <= kMinimumAvailable) {
        SendJobStatus(kNoRow, L"Not enough free space to wipe.");
        return JobOutcome::Failed;
    }
    std::wstring randomName;
    if (!DrawRandomName(randomName)) {
        SendJobStatus(kNoRow, L"Failed to obtain cryptographic random for filename.");
        return JobOutcome::Failed;
    }
    const std::wstring path = WipeFilePath(folder, randomName);
    JobOutcome failure = JobOutcome::Failed;
    if (!CreateWipeFile(path, available.QuadPart - kReserve, failure)) {
        return failure;
    }
    ReportContext context{mainWindow, kNoRow};
    // keepName: the file must keep its name so that the deletion below finds
    // it when the method fails before deleting it itself.
    const EraseResult result = method(path.c_str(), ReportProgress, ReportMessage, &context, &stopRequested, true);
    os.DeleteFileW(path.c_str());
    return JobOutcomeOf(result != EraseResult::Success);
}

}  // namespace

void FreeSpaceWipeJob(std::wstring folder, EraseMethodFn method)
{
    PostJobOutcome(WipeFreeSpace(VerbatimPath(folder), method));
}
