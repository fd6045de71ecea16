#include "engine/secure_erase.h"

#include "engine/alternate_streams.h"
#include "engine/log_text.h"
#include "engine/os_handle.h"
#include "engine/overwrite_pass.h"
#include "engine/scramble_name.h"
#include "engine/verify.h"

#include <string>
#include <winioctl.h>

namespace {

const wchar_t kRefusalText[] = L"Refusing to process reparse point (symbolic link / junction).";
const wchar_t kCanceledText[] = L"Operation canceled by user.";

// The caller's reporting channel and stop flag, as one call of the erase holds them.
struct EraseSink {
    ProgressFn progress;
    LogFn log;
    void* context;
    const StopFlag* stop;
};

// Logs the cancel text. Returns Canceled.
EraseResult LogCanceled(const EraseSink& sink)
{
    LogText(sink.log, sink.context, kCanceledText);
    return EraseResult::Canceled;
}

// Returns true when the open handle is itself a reparse point: the file was
// swapped for a link after its path was checked. A failed query counts as
// no: the handle was opened without following links, so it reaches the link
// object and never the file a link points to.
bool HandleIsReparsePoint(HANDLE file, BY_HANDLE_FILE_INFORMATION& info)
{
    return os.GetFileInformationByHandle(file, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Opens `path` with `access` and read sharing, without following a link.
// Returns the handle, or INVALID_HANDLE_VALUE.
HANDLE OpenWithoutFollowing(const wchar_t* path, DWORD access)
{
    return os.CreateFileW(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Opens the file read-only, measures it and warns about further links.
// Returns Success with `size` set, or the result that ends the erase.
EraseResult ProbeFile(const wchar_t* path, const EraseSink& sink, int64_t& size)
{
    FileHandle file(OpenWithoutFollowing(path, GENERIC_READ));
    if (!file.IsValid()) {
        LogFormatted(sink.log, sink.context, CapacityForName(512, path), L"Failed to open file: %ls", path);
        return EraseResult::OpenFailed;
    }
    LARGE_INTEGER measured = {};
    if (!os.GetFileSizeEx(file.Get(), &measured)) {
        LogText(sink.log, sink.context, L"Failed to get file size.");
        return EraseResult::Error;
    }
    size = measured.QuadPart;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (HandleIsReparsePoint(file.Get(), info)) {
        LogText(sink.log, sink.context, kRefusalText);
        return EraseResult::Refused;
    }
    if (info.nNumberOfLinks > 1) {
        LogFormatted(sink.log, sink.context, 256,
                     L"Warning: file has %u hard links. Overwrite affects all links; only this link name will be removed.",
                     static_cast<unsigned>(info.nNumberOfLinks));
    }
    return EraseResult::Success;
}

// A read-only file can be neither written (its streams included) nor
// deleted, yet the user asked for it to be destroyed: drop the attribute.
// A failure shows up in the opens and the delete that follow.
void ClearReadOnly(const wchar_t* path, DWORD attributes)
{
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
    DWORD cleared = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    os.SetFileAttributesW(path, cleared != 0 ? cleared : FILE_ATTRIBUTE_NORMAL);
}

// Opens the file for writing, refusing a handle that turns out to be a link.
// Returns Success with `file` set, or OpenFailed / Refused with `file` empty;
// logs nothing.
EraseResult OpenForWriting(const wchar_t* path, FileHandle& file)
{
    file.Reset(OpenWithoutFollowing(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES));
    if (!file.IsValid()) return EraseResult::OpenFailed;
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!HandleIsReparsePoint(file.Get(), info)) return EraseResult::Success;
    file.Reset();
    return EraseResult::Refused;
}

// Opens the renamed file for the passes. Returns Success with `file` set,
// or OpenFailed / Refused (both logged).
EraseResult OpenForOverwrite(const wchar_t* path, const EraseSink& sink, FileHandle& file)
{
    EraseResult opened = OpenForWriting(path, file);
    if (opened == EraseResult::OpenFailed) {
        LogFormatted(sink.log, sink.context, CapacityForName(512, path), L"Unable to open for overwrite: %ls", path);
    }
    if (opened == EraseResult::Refused) LogText(sink.log, sink.context, kRefusalText);
    return opened;
}

// Asks the file system to store the file plainly, so that every pass lands
// on the clusters that hold the data. Both results are ignored.
void DisableCompressionAndSparse(HANDLE file)
{
    DWORD returned = 0;
    USHORT compression = COMPRESSION_FORMAT_NONE;
    os.DeviceIoControl(file, FSCTL_SET_COMPRESSION, &compression, sizeof compression, nullptr, 0, &returned, nullptr);
    FILE_SET_SPARSE_BUFFER sparse = {};
    sparse.SetSparse = FALSE;
    os.DeviceIoControl(file, FSCTL_SET_SPARSE, &sparse, sizeof sparse, nullptr, 0, &returned, nullptr);
}

// Returns the cluster size of the volume that holds `path`, or 0 when unknown.
uint32_t ClusterSizeOf(const wchar_t* path)
{
    wchar_t volume[MAX_PATH] = {};
    if (!os.GetVolumePathNameW(path, volume, MAX_PATH)) return 0;
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!os.GetDiskFreeSpaceW(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) return 0;
    return static_cast<uint32_t>(sectorsPerCluster * bytesPerSector);
}

// Returns the end of the last cluster of a file of `size` bytes, or `size`
// when the cluster size is unknown (0), the file already ends on a cluster
// boundary, or the end would not fit in 64 bits.
int64_t ClusterEnd(int64_t size, uint32_t cluster)
{
    if (cluster == 0) return size;
    int64_t remainder = size % cluster;
    if (remainder == 0 || size > INT64_MAX - cluster) return size;
    return size - remainder + cluster;
}

// An MFT record holds at most 4 KiB, so no stream of that size or more lives
// inside one. Clusters can be smaller, hence the floor below.
constexpr int64_t kLargestMftRecord = 4096;

// Returns the size below which a stream is zeroed in place before the
// rename: one cluster, but never less than the largest MFT record, which
// also covers a volume whose cluster size is unknown (0).
int64_t InPlaceLimit(uint32_t cluster)
{
    return cluster > kLargestMftRecord ? cluster : kLargestMftRecord;
}

// Zeroes the main stream in place when it is shorter than `limit`. Returns
// true when it may be lengthened afterwards: it was zeroed, or is empty or
// long enough not to need it; false when the open or the write failed or the
// stop flag ended it.
bool ZeroSmallMainStream(const wchar_t* path, int64_t size, int64_t limit, const StopFlag* stop)
{
    if (size == 0 || size >= limit) return true;
    FileHandle file;
    return OpenForWriting(path, file) == EraseResult::Success && WriteZerosInPlace(file.Get(), size, stop);
}

// On NTFS a stream of a few hundred bytes lives inside the file's MFT
// record. Renaming the file, or lengthening the stream, rewrites the record
// and leaves a copy of the old bytes in its slack, where no later write
// reaches. So every stream that may live there is zeroed in place before the
// rename. A stop ends the zeroing; the steps that follow report it. Returns
// the length the main stream is to be lengthened to: the end of its last
// cluster, or its own size when its zeroing failed (the passes then write
// the data where it is rather than move it away).
int64_t ZeroResidentStreams(const wchar_t* path, int64_t size, const StopFlag* stop)
{
    const uint32_t cluster = ClusterSizeOf(path);
    const int64_t limit = InPlaceLimit(cluster);
    const int64_t target = ZeroSmallMainStream(path, size, limit, stop) ? ClusterEnd(size, cluster) : size;
    ZeroSmallAlternateStreams(path, limit, stop);
    return target;
}

// Lengthens the file from `size` to `target` so that the passes cover the
// slack behind the data. Returns the overwrite length: the target when the
// file was extended, else the file size.
int64_t ExtendToClusterBoundary(HANDLE file, int64_t size, int64_t target, const EraseSink& sink)
{
    if (target <= size) return size;
    LARGE_INTEGER end;
    end.QuadPart = target;
    if (!os.SetFilePointerEx(file, end, nullptr, FILE_BEGIN) || !os.SetEndOfFile(file)) return size;
    LogFormatted(sink.log, sink.context, 128, L"Extended +%lld bytes for slack space coverage.",
                 static_cast<long long>(target - size));
    return target;
}

// Writes every pass over the open main stream, reading each back when
// verification is on. Returns Success, or Canceled / WriteFailed /
// VerifyFailed (logged as the procedure prescribes).
EraseResult RunPasses(HANDLE file, const wchar_t* path, int64_t length, const PassList& passes,
                      const EraseSink& sink, EraseRng& rng)
{
    const ByteDistribution dist;
    const int32_t passCount = static_cast<int32_t>(passes.size());
    const double totalWork = static_cast<double>(passCount) * static_cast<double>(length);
    int64_t bytesDone = 0;
    for (int32_t i = 0; i < passCount; ++i) {
        if (StopIsSet(sink.stop)) return LogCanceled(sink);
        const EraseRng snapshot = rng;
        if (!RunOverwritePass(file, length, passes[i], i, passCount, sink.progress, sink.log, sink.context,
                              sink.stop, bytesDone, totalWork, rng, dist)) {
            bool canceled = StopIsSet(sink.stop);
            LogText(sink.log, sink.context, canceled ? kCanceledText : L"Failed during overwrite pass.");
            return canceled ? EraseResult::Canceled : EraseResult::WriteFailed;
        }
        if (verifyReadBack.load() != 0 &&
            !VerifyPass(path, length, passes[i], snapshot, sink.log, sink.context, sink.stop, i, passCount)) {
            return StopIsSet(sink.stop) ? EraseResult::Canceled : EraseResult::VerifyFailed;
        }
    }
    return EraseResult::Success;
}

// Overwrites the main stream of a file of `size` bytes at `path`, first
// lengthened to `target`, and deletes it. Returns the erase's result.
EraseResult OverwriteAndDelete(const wchar_t* path, int64_t size, int64_t target, const PassList& passes,
                               const wchar_t* successMessage, const EraseSink& sink, EraseRng& rng)
{
    FileHandle file;
    EraseResult opened = OpenForOverwrite(path, sink, file);
    if (opened != EraseResult::Success) return opened;
    DisableCompressionAndSparse(file.Get());
    int64_t length = ExtendToClusterBoundary(file.Get(), size, target, sink);
    EraseResult written = RunPasses(file.Get(), path, length, passes, sink, rng);
    file.Reset();
    if (written != EraseResult::Success) return written;
    if (!os.DeleteFileW(path)) {
        LogText(sink.log, sink.context, L"Failed to delete file after overwrite.");
        return EraseResult::DeleteFailed;
    }
    if (successMessage != nullptr) LogText(sink.log, sink.context, successMessage);
    return EraseResult::Success;
}

// Deletes a file that has no bytes to overwrite. Returns Success or DeleteFailed.
EraseResult DeleteEmptyFile(const wchar_t* path, const EraseSink& sink)
{
    LogText(sink.log, sink.context, L"File size is 0. Deleting file.");
    if (os.DeleteFileW(path)) return EraseResult::Success;
    LogText(sink.log, sink.context, L"Failed to delete file.");
    return EraseResult::DeleteFailed;
}

}  // namespace

EraseResult SecureEraseFile(const wchar_t* path, PassList passes, const wchar_t* successMessage,
                            ProgressFn progress, LogFn log, void* context, const StopFlag* stop,
                            bool keepName)
{
    if (stop == nullptr) return EraseResult::Error;
    const EraseSink sink{progress, log, context, stop};
    const DWORD attributes = os.GetFileAttributesW(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        LogText(log, context, kRefusalText);
        return EraseResult::Refused;
    }
    int64_t size = 0;
    EraseResult probed = ProbeFile(path, sink, size);
    if (probed != EraseResult::Success) return probed;
    EraseRng rng;
    if (!SeedEraseRng(rng)) {
        LogText(log, context, L"Failed to obtain cryptographic random seed.");
        return EraseResult::Error;
    }
    // Cleared before the in-place zeroing, the first write, which a read-only
    // file would refuse.
    ClearReadOnly(path, attributes);
    const int64_t target = ZeroResidentStreams(path, size, stop);
    std::wstring current = path;
    std::wstring scrambled = keepName ? std::wstring() : ScrambleFileName(path);
    if (!scrambled.empty()) {
        current = scrambled;
        LogText(log, context, L"File name scrambled.");
    }
    if (!OverwriteAlternateStreams(current.c_str(), passes, log, context, stop, rng, ByteDistribution())) {
        return StopIsSet(stop) ? LogCanceled(sink) : EraseResult::WriteFailed;
    }
    if (size == 0) return DeleteEmptyFile(current.c_str(), sink);
    return OverwriteAndDelete(current.c_str(), size, target, passes, successMessage, sink, rng);
}
