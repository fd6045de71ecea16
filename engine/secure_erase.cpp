#include "engine/secure_erase.h"

#include "engine/alternate_streams.h"
#include "engine/cluster_cache.h"
#include "engine/log_text.h"
#include "engine/os_handle.h"
#include "engine/overwrite_pass.h"
#include "engine/scramble_name.h"
#include "engine/verify.h"
#include "os/verbatim_path.h"

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

// Where the file of one erase is and what has been done to it, so that an
// erase that fails before it wrote anything can give the file back as the
// user left it.
struct FileState {
    std::wstring original;         // the exact form of the path given
    std::wstring current;          // where the file is now: its scrambled name after a rename
    DWORD attributes = INVALID_FILE_ATTRIBUTES;  // as the probe's handle reported them
    bool readOnlyCleared = false;
    bool overwritten = false;      // some byte of the file or a stream may have been written
    // The handle on the main stream. The probe opens it; it follows the file
    // through its renames and, where it may write, serves the passes too.
    FileHandle handle{INVALID_HANDLE_VALUE};
    bool handleWrites = false;     // it was opened for writing
};

// The random bytes an erase needs before its passes, drawn from the
// cryptographic generator at once rather than in one call each: the seed of
// the file's random stream and the first attempts at its two new names. Each
// byte is used once, for one purpose.
struct EraseDraw {
    EraseSeedBytes seed;
    FirstNameBytes names;
};
static_assert(sizeof(EraseDraw) == 40, "bytes only, no padding to draw in vain");

// Fills `drawn` from the cryptographic generator. Returns false when it fails.
bool DrawEraseRandom(EraseDraw& drawn)
{
    return BCRYPT_SUCCESS(os.BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&drawn), sizeof drawn,
                                             BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

// Logs why a stopped or failed pass ended the erase. Returns Canceled when
// the stop flag is set, else WriteFailed.
EraseResult LogPassEnded(const EraseSink& sink)
{
    const bool canceled = StopIsSet(sink.stop);
    LogText(sink.log, sink.context, canceled ? kCanceledText : L"Failed during overwrite pass.");
    return canceled ? EraseResult::Canceled : EraseResult::WriteFailed;
}

// Returns the attributes of the open handle, or INVALID_FILE_ATTRIBUTES when
// the query fails.
DWORD HandleAttributes(HANDLE file)
{
    FILE_ATTRIBUTE_TAG_INFO info = {};
    return os.GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info) ? info.FileAttributes
                                                                                             : INVALID_FILE_ATTRIBUTES;
}

// Returns true when `attributes` are those of a reparse point (a link or a
// junction). Unknown attributes count as no: every open is made without
// following links, so it reaches the link object and never its target.
bool IsReparsePoint(DWORD attributes)
{
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Measures the open file and counts its links, with one query. Returns
// false when that query fails.
bool MeasureFile(HANDLE file, int64_t& size, DWORD& links)
{
    FILE_STANDARD_INFO info = {};
    if (!os.GetFileInformationByHandleEx(file, FileStandardInfo, &info, sizeof info)) return false;
    size = info.EndOfFile.QuadPart;
    links = info.NumberOfLinks;
    return true;
}

// Opens `path` with `access` and `share`, without following a link.
// Returns the handle, or INVALID_HANDLE_VALUE.
HANDLE OpenWithoutFollowing(const wchar_t* path, DWORD access, DWORD share)
{
    return os.CreateFileW(path, access, share, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// Opens the file for the probe, for writing too, so that the same handle can
// zero a small file in place and run the passes; where writing is refused,
// as for a read-only file, it is opened for reading only. Others may read
// it, and the file may be renamed while it is open, as the scrambling will.
// Returns true when it was opened.
bool OpenForProbe(FileState& file)
{
    const wchar_t* path = file.original.c_str();
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_DELETE;
    file.handle.Reset(OpenWithoutFollowing(path, GENERIC_READ | GENERIC_WRITE, share));
    file.handleWrites = file.handle.IsValid();
    if (!file.handleWrites) file.handle.Reset(OpenWithoutFollowing(path, GENERIC_READ, share));
    return file.handle.IsValid();
}

// Opens the file, refuses a link or a junction, measures the file and warns
// about further links; `shown` is the path as the user gave it. The handle
// stays open in `file`, and the attributes it reports are kept. Links are refused by
// what the handle reports, as it is the handle that the erase goes on with;
// only a path that cannot be opened as a file is asked, since a junction is
// a folder. Returns Success with `size` set, or the result that ends the erase.
EraseResult ProbeFile(FileState& file, const wchar_t* shown, const EraseSink& sink, int64_t& size)
{
    if (!OpenForProbe(file)) {
        if (IsReparsePoint(os.GetFileAttributesW(file.original.c_str()))) {
            LogText(sink.log, sink.context, kRefusalText);
            return EraseResult::Refused;
        }
        LogFormatted(sink.log, sink.context, CapacityForName(512, shown), L"Failed to open file: %ls", shown);
        return EraseResult::OpenFailed;
    }
    DWORD links = 0;
    if (!MeasureFile(file.handle.Get(), size, links)) {
        LogText(sink.log, sink.context, L"Failed to get file size.");
        return EraseResult::Error;
    }
    file.attributes = HandleAttributes(file.handle.Get());
    if (IsReparsePoint(file.attributes)) {
        LogText(sink.log, sink.context, kRefusalText);
        return EraseResult::Refused;
    }
    if (links > 1) {
        LogFormatted(sink.log, sink.context, 256,
                     L"Warning: file has %u hard links. Overwrite affects all links; only this link name will be removed.",
                     static_cast<unsigned>(links));
    }
    return EraseResult::Success;
}

// A read-only file can be neither written (its streams included) nor
// deleted, yet the user asked for it to be destroyed: drop the attribute.
// A failure shows up in the opens and the delete that follow.
void ClearReadOnly(FileState& file)
{
    if (file.attributes == INVALID_FILE_ATTRIBUTES || (file.attributes & FILE_ATTRIBUTE_READONLY) == 0) return;
    DWORD cleared = file.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    file.readOnlyCleared = os.SetFileAttributesW(file.original.c_str(), cleared != 0 ? cleared : FILE_ATTRIBUTE_NORMAL);
}

// Opens the file for writing, refusing a handle that turns out to be a link.
// Returns Success with `file` set and `attributes` as the handle reports
// them (INVALID_FILE_ATTRIBUTES when unknown), or OpenFailed / Refused with
// `file` empty; logs nothing.
EraseResult OpenForWriting(const wchar_t* path, FileHandle& file, DWORD& attributes)
{
    file.Reset(OpenWithoutFollowing(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ));
    if (!file.IsValid()) return EraseResult::OpenFailed;
    attributes = HandleAttributes(file.Get());
    if (!IsReparsePoint(attributes)) return EraseResult::Success;
    file.Reset();
    return EraseResult::Refused;
}

// Opens the renamed file for the passes. Returns Success with `file` and
// `attributes` set, or OpenFailed / Refused (both logged).
EraseResult OpenForOverwrite(const std::wstring& path, const EraseSink& sink, FileHandle& file, DWORD& attributes)
{
    EraseResult opened = OpenForWriting(path.c_str(), file, attributes);
    if (opened == EraseResult::OpenFailed) {
        const std::wstring shown = ShownPath(path);
        LogFormatted(sink.log, sink.context, CapacityForName(512, shown.c_str()), L"Unable to open for overwrite: %ls",
                     shown.c_str());
    }
    if (opened == EraseResult::Refused) LogText(sink.log, sink.context, kRefusalText);
    return opened;
}

// Asks the file system to store the file plainly, so that every pass lands
// on the clusters that hold the data. A file whose handle reported neither
// compression nor sparseness is stored plainly already and is not asked;
// one whose attributes are unknown is asked both. Both results are ignored.
void DisableCompressionAndSparse(HANDLE file, DWORD attributes)
{
    const bool unknown = attributes == INVALID_FILE_ATTRIBUTES;
    DWORD returned = 0;
    if (unknown || (attributes & FILE_ATTRIBUTE_COMPRESSED) != 0) {
        USHORT compression = COMPRESSION_FORMAT_NONE;
        os.DeviceIoControl(file, FSCTL_SET_COMPRESSION, &compression, sizeof compression, nullptr, 0, &returned, nullptr);
    }
    if (unknown || (attributes & FILE_ATTRIBUTE_SPARSE_FILE) != 0) {
        FILE_SET_SPARSE_BUFFER sparse = {};
        sparse.SetSparse = FALSE;
        os.DeviceIoControl(file, FSCTL_SET_SPARSE, &sparse, sizeof sparse, nullptr, 0, &returned, nullptr);
    }
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

// Zeroes the main stream in place when it is non-empty and shorter than
// `limit`, through the probe's handle where that may write, else through a
// handle of its own once the probe's, which shares no writing, is closed.
// Returns true when it may be lengthened afterwards: it was zeroed, or is
// empty or long enough not to need it; false when the open or the write
// failed or the stop flag ended it. Marks the file overwritten once the
// stream is open for zeroing: even a write that then fails may have reached
// the disk.
bool ZeroSmallMainStream(FileState& file, int64_t size, int64_t limit, const StopFlag* stop)
{
    if (size == 0 || size >= limit) return true;
    FileHandle own;
    if (!file.handleWrites) {
        file.handle.Reset();
        DWORD attributes = 0;
        if (OpenForWriting(file.original.c_str(), own, attributes) != EraseResult::Success) return false;
    }
    file.overwritten = true;
    return WriteZerosInPlace(file.handleWrites ? file.handle.Get() : own.Get(), size, stop);
}

// On NTFS a stream of a few hundred bytes lives inside the file's MFT
// record. Renaming the file, or lengthening the stream, rewrites the record
// and leaves a copy of the old bytes in its slack, where no later write
// reaches. So every stream that may live there is zeroed in place before the
// rename. A stop ends the zeroing; the steps that follow report it. Returns
// the length the main stream is to be lengthened to: the end of its last
// cluster, or its own size when its zeroing failed (the passes then write
// the data where it is rather than move it away). The probe's handle stays
// open for the passes only where it may write and there are passes to serve;
// it is closed before named streams are opened, which is done unshared, so
// that no rule of the file system on how a file's streams share can refuse
// them.
int64_t ZeroResidentStreams(FileState& file, int64_t size, const StreamNames& streams, const StopFlag* stop)
{
    const uint32_t cluster = ClusterSizeOf(file.original.c_str());
    const int64_t limit = InPlaceLimit(cluster);
    const int64_t target = ZeroSmallMainStream(file, size, limit, stop) ? ClusterEnd(size, cluster) : size;
    if (!file.handleWrites || size == 0 || !streams.empty()) file.handle.Reset();
    if (ZeroSmallAlternateStreams(file.original.c_str(), streams, limit, stop)) file.overwritten = true;
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
        if (StopIsSet(sink.stop)) return LogPassEnded(sink);
        const EraseRng snapshot = rng;
        if (!RunOverwritePass(file, length, passes[i], i, passCount, sink.progress, sink.log, sink.context,
                              sink.stop, bytesDone, totalWork, rng, dist)) {
            return LogPassEnded(sink);
        }
        if (verifyReadBack.load() != 0 &&
            !VerifyPass(path, length, passes[i], snapshot, sink.log, sink.context, sink.stop, i, passCount)) {
            return StopIsSet(sink.stop) ? EraseResult::Canceled : EraseResult::VerifyFailed;
        }
    }
    return EraseResult::Success;
}

// Overwrites the main stream of a file of `size` bytes, first lengthened to
// `target`, through the probe's handle when it is still open, else through
// one opened now, and deletes the file. Returns the erase's result.
EraseResult OverwriteAndDelete(FileState& state, int64_t size, int64_t target, const PassList& passes,
                               const wchar_t* successMessage, const EraseSink& sink, EraseRng& rng)
{
    FileHandle& file = state.handle;
    DWORD attributes = state.attributes;
    if (!file.IsValid()) {
        EraseResult opened = OpenForOverwrite(state.current, sink, file, attributes);
        if (opened != EraseResult::Success) return opened;
    }
    state.overwritten = true;  // the file changes from the extension on
    DisableCompressionAndSparse(file.Get(), attributes);
    int64_t length = ExtendToClusterBoundary(file.Get(), size, target, sink);
    EraseResult written = RunPasses(file.Get(), state.current.c_str(), length, passes, sink, rng);
    file.Reset();
    if (written != EraseResult::Success) return written;
    if (!os.DeleteFileW(state.current.c_str())) {
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

// Gives the file a random name, its first attempts made of `names`, so that
// its own name does not outlive it. Returns nothing: a file that cannot be
// renamed is erased under its own name.
void ScrambleName(FileState& file, const FirstNameBytes& names, const EraseSink& sink)
{
    std::wstring scrambled = ScrambleFileName(file.original.c_str(), names);
    if (scrambled.empty()) return;
    file.current = scrambled;
    LogText(sink.log, sink.context, L"File name scrambled.");
}

// Runs the erase of a probed file of `size` bytes from dropping its read-only
// attribute to its deletion; the file is renamed with `newNames` unless they
// are null. Returns the erase's result.
EraseResult EraseProbedFile(FileState& file, int64_t size, const PassList& passes, const wchar_t* successMessage,
                            const EraseSink& sink, EraseRng& rng, const FirstNameBytes* newNames)
{
    // Cleared before the in-place zeroing, the first write, which a read-only
    // file would refuse.
    ClearReadOnly(file);
    const StreamNames streams = ListAlternateStreams(file.original.c_str());
    const int64_t target = ZeroResidentStreams(file, size, streams, sink.stop);
    if (newNames != nullptr) ScrambleName(file, *newNames, sink);
    if (!OverwriteAlternateStreams(file.current.c_str(), streams, passes, sink.log, sink.context, sink.stop, rng,
                                   ByteDistribution(), file.overwritten)) {
        return LogPassEnded(sink);
    }
    if (size == 0) return DeleteEmptyFile(file.current.c_str(), sink);
    return OverwriteAndDelete(file, size, target, passes, successMessage, sink, rng);
}

// A file the erase gave up on before writing to it still holds the user's
// data whole: give it back its name and its read-only attribute rather than
// leave it under a name they have never seen. Logs how the rename back went.
void RestoreUntouchedFile(const FileState& file, const EraseSink& sink)
{
    std::wstring where = file.current;
    if (file.current != file.original) {
        if (os.MoveFileW(file.current.c_str(), file.original.c_str())) {
            where = file.original;
            LogText(sink.log, sink.context, L"Original file name restored.");
        } else {
            const std::wstring shown = ShownPath(file.current);
            LogFormatted(sink.log, sink.context, CapacityForName(256, shown.c_str()),
                         L"Could not restore the original file name; the file is now %ls", shown.c_str());
        }
    }
    if (file.readOnlyCleared) os.SetFileAttributesW(where.c_str(), file.attributes);
}

}  // namespace

EraseResult SecureEraseFile(const wchar_t* path, PassList passes, const wchar_t* successMessage,
                            ProgressFn progress, LogFn log, void* context, const StopFlag* stop,
                            bool keepName)
{
    if (stop == nullptr) return EraseResult::Error;
    const EraseSink sink{progress, log, context, stop};
    const std::wstring exact = VerbatimPath(path);
    FileState file{exact, exact};
    int64_t size = 0;
    EraseResult probed = ProbeFile(file, path, sink, size);
    if (probed != EraseResult::Success) return probed;
    EraseDraw drawn;
    if (!DrawEraseRandom(drawn)) {
        LogText(log, context, L"Failed to obtain cryptographic random seed.");
        return EraseResult::Error;
    }
    EraseRng rng;
    SeedEraseRng(rng, drawn.seed);
    const EraseResult result =
        EraseProbedFile(file, size, passes, successMessage, sink, rng, keepName ? nullptr : &drawn.names);
    if (result != EraseResult::Success && !file.overwritten) RestoreUntouchedFile(file, sink);
    return result;
}
