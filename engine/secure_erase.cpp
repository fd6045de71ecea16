#include "engine/secure_erase.h"

#include "engine/alternate_streams.h"
#include "engine/erase_session.h"
#include "engine/log_text.h"
#include "engine/os_handle.h"
#include "engine/overwrite_pass.h"
#include "engine/scramble_name.h"
#include "engine/verify.h"
#include "os/file_by_handle.h"
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

// The file of one erase: the handle that the probe opened and checked, which
// every later change goes through, so that the file renamed, overwritten and
// deleted is the file checked whatever its path comes to name meanwhile; and
// what has been done to it, so that an erase that fails before it wrote
// anything can give the file back as the user left it.
struct FileState {
    std::wstring original;         // the exact form of the path given
    std::wstring current;          // where the file is now: its scrambled name after a rename
    FileHandle handle{INVALID_HANDLE_VALUE};
    bool writable = false;         // the handle may write, rename and delete
    DWORD attributes = INVALID_FILE_ATTRIBUTES;  // as the probe's handle reported them
    bool readOnlyCleared = false;
    int64_t size = 0;              // as the probe measured it
    int64_t length = 0;            // its length now: more once lengthened to its cluster's end
    bool overwritten = false;      // some byte of the file or a stream may have been written
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

// What the erase's handle may do, and what others may do meanwhile: read
// and write the file (the named streams and the read-back open it too), but
// not rename or delete it, which only the erase does, through the handle.
constexpr DWORD kEraseAccess = GENERIC_READ | GENERIC_WRITE | DELETE;
constexpr DWORD kEraseSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Opens the file for the erase. A read-only file refuses writing and
// deleting; it is opened to read and to change its attributes instead, and
// asks nothing of others' sharing, so that it can be opened anew from this
// handle once the attribute is gone. Returns true when it was opened.
bool OpenForProbe(FileState& file)
{
    const wchar_t* path = file.original.c_str();
    file.handle.Reset(OpenWithoutFollowing(path, kEraseAccess, kEraseSharing));
    file.writable = file.handle.IsValid();
    if (!file.writable) {
        file.handle.Reset(OpenWithoutFollowing(path, GENERIC_READ | FILE_WRITE_ATTRIBUTES,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
    }
    return file.handle.IsValid();
}

// A read-only file can be neither written (its streams included) nor
// deleted, yet the user asked for it to be destroyed: drop the attribute
// and, where the handle could not write for it, open the same file anew,
// from the handle, for the erase. Returns true when the handle may write;
// false for a file that refused writing for another reason (another program
// holds it, permission), or whose new handle could not be had.
bool MakeWritable(FileState& file)
{
    const bool readOnly = file.attributes != INVALID_FILE_ATTRIBUTES && (file.attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) {
        file.readOnlyCleared =
            SetOpenFileAttributes(file.handle.Get(), file.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    if (file.writable || !file.readOnlyCleared) return file.writable;
    HANDLE writable = os.ReOpenFile(file.handle.Get(), kEraseAccess, kEraseSharing, 0);
    if (writable == INVALID_HANDLE_VALUE) return false;
    file.handle.Reset(writable);
    file.writable = true;
    return true;
}

// Logs that the file cannot be opened for the erase. Returns OpenFailed.
EraseResult LogOpenFailed(const wchar_t* shown, const EraseSink& sink)
{
    LogFormatted(sink.log, sink.context, CapacityForName(512, shown), L"Failed to open file: %ls", shown);
    return EraseResult::OpenFailed;
}

// Refuses a file whose path no longer leads to it: a folder on the way has
// become a link or a junction since it was listed (`reached` is where the
// path leads now, empty when Windows cannot tell). Returns Refused.
EraseResult LogPathLeadsElsewhere(const std::wstring& reached, const EraseSink& sink)
{
    if (reached.empty()) {
        LogText(sink.log, sink.context, L"Refusing to follow the path: Windows cannot tell where it leads, so a folder "
                                        L"on the way may be a link or junction.");
        return EraseResult::Refused;
    }
    const std::wstring shown = ShownPath(reached);
    LogFormatted(sink.log, sink.context, CapacityForName(256, shown.c_str()),
                 L"Refusing to follow the path: a folder on the way has become a link or junction, and it now "
                 L"leads to %ls.", shown.c_str());
    return EraseResult::Refused;
}

// Opens the file, refuses a link or junction, at the path or on the way to
// it, measures the file, warns about further links and makes the handle
// able to write; `shown` is the path as the user gave it. The handle stays
// open in `file`. Only a path that cannot be opened as a file is asked for
// its attributes, since a junction is a folder. Returns Success, or the
// result that ends the erase.
EraseResult ProbeFile(FileState& file, const wchar_t* shown, const EraseSink& sink)
{
    if (!OpenForProbe(file)) {
        if (!IsReparsePoint(os.GetFileAttributesW(file.original.c_str()))) return LogOpenFailed(shown, sink);
        LogText(sink.log, sink.context, kRefusalText);
        return EraseResult::Refused;
    }
    DWORD links = 0;
    if (!MeasureFile(file.handle.Get(), file.size, links)) {
        LogText(sink.log, sink.context, L"Failed to get file size.");
        return EraseResult::Error;
    }
    file.length = file.size;
    file.attributes = OpenFileAttributes(file.handle.Get());
    if (IsReparsePoint(file.attributes)) {
        LogText(sink.log, sink.context, kRefusalText);
        return EraseResult::Refused;
    }
    std::wstring reached;
    if (!LeadsTo(file.handle.Get(), file.original, reached)) return LogPathLeadsElsewhere(reached, sink);
    if (links > 1) {
        LogFormatted(sink.log, sink.context, 256,
                     L"Warning: file has %u hard links. Overwrite affects all links; only this link name will be removed.",
                     static_cast<unsigned>(links));
    }
    return MakeWritable(file) ? EraseResult::Success : LogOpenFailed(shown, sink);
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
// `limit`. Returns true when it may be lengthened afterwards: it was
// zeroed, or is empty or long enough not to need it; false when the write
// failed or the stop flag ended it. Marks the file overwritten first: even
// a write that then fails may have reached the disk.
bool ZeroSmallMainStream(FileState& file, int64_t limit, const StopFlag* stop)
{
    if (file.size == 0 || file.size >= limit) return true;
    file.overwritten = true;
    return WriteZerosInPlace(file.handle.Get(), file.size, stop);
}

// On NTFS a stream of a few hundred bytes lives inside the file's MFT
// record. Renaming the file, or lengthening the stream, rewrites the record
// and leaves a copy of the old bytes in its slack, where no later write
// reaches. So every stream that may live there is zeroed in place before the
// rename. A stop ends the zeroing; the steps that follow report it. Returns
// the length the main stream is to be lengthened to: the end of its last
// cluster, or its own size when its zeroing failed (the passes then write
// the data where it is rather than move it away).
int64_t ZeroResidentStreams(FileState& file, const StreamNames& streams, const StopFlag* stop)
{
    const uint32_t cluster = ClusterSizeOf(file.original.c_str());
    const int64_t limit = InPlaceLimit(cluster);
    const int64_t target = ZeroSmallMainStream(file, limit, stop) ? ClusterEnd(file.size, cluster) : file.size;
    if (ZeroSmallAlternateStreams(file.original.c_str(), streams, limit, stop)) file.overwritten = true;
    return target;
}

// Lengthens the file to `target` so that the passes cover the slack behind
// the data. Returns nothing; the file's length says how it went.
void ExtendToClusterBoundary(FileState& file, int64_t target, const EraseSink& sink)
{
    if (target <= file.size || !SetOpenFileLength(file.handle.Get(), target)) return;
    file.length = target;
    LogFormatted(sink.log, sink.context, 128, L"Extended +%lld bytes for slack space coverage.",
                 static_cast<long long>(target - file.size));
}

// Writes every pass over the open main stream, reading each back when
// verification is on; `bytesDone` counts what reached the file. Returns
// Success, or Canceled / WriteFailed / VerifyFailed (logged as the
// procedure prescribes).
EraseResult RunPasses(HANDLE file, const wchar_t* path, int64_t length, const PassList& passes,
                      const EraseSink& sink, EraseRng& rng, int64_t& bytesDone)
{
    const ByteDistribution dist;
    const int32_t passCount = static_cast<int32_t>(passes.size());
    const double totalWork = static_cast<double>(passCount) * static_cast<double>(length);
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

// Deletes the file through its handle: it goes when the handle closes.
// Returns Success, or DeleteFailed after logging `failedText`.
EraseResult DeleteThroughHandle(FileState& file, const wchar_t* failedText, const EraseSink& sink)
{
    if (!DeleteOpenFile(file.handle.Get())) {
        LogText(sink.log, sink.context, failedText);
        return EraseResult::DeleteFailed;
    }
    file.handle.Reset();
    file.current.clear();
    return EraseResult::Success;
}

// Overwrites the main stream of the file, first lengthened to `target`, and
// deletes it. Until a byte of a pass reaches the file, the file counts as
// untouched: what lengthening added is taken off again if the erase fails.
// Returns the erase's result.
EraseResult OverwriteAndDelete(FileState& file, int64_t target, const PassList& passes,
                               const wchar_t* successMessage, const EraseSink& sink, EraseRng& rng)
{
    DisableCompressionAndSparse(file.handle.Get(), file.attributes);
    ExtendToClusterBoundary(file, target, sink);
    int64_t bytesDone = 0;
    const EraseResult written =
        RunPasses(file.handle.Get(), file.current.c_str(), file.length, passes, sink, rng, bytesDone);
    if (bytesDone > 0) file.overwritten = true;
    if (written != EraseResult::Success) return written;
    const EraseResult deleted = DeleteThroughHandle(file, L"Failed to delete file after overwrite.", sink);
    if (deleted == EraseResult::Success && successMessage != nullptr) LogText(sink.log, sink.context, successMessage);
    return deleted;
}

// Gives the file a random name, its first attempts made of `names`, so that
// its own name does not outlive it. Returns nothing: a file that cannot be
// renamed is erased under its own name.
void ScrambleName(FileState& file, const FirstNameBytes& names, const EraseSink& sink)
{
    std::wstring scrambled = ScrambleFileName(file.handle.Get(), file.original, names);
    if (scrambled.empty()) return;
    file.current = scrambled;
    LogText(sink.log, sink.context, L"File name scrambled.");
}

// Runs the erase of a probed file from the in-place zeroing to its
// deletion; the file is renamed with `newNames` unless they are null.
// Returns the erase's result.
EraseResult EraseProbedFile(FileState& file, const PassList& passes, const wchar_t* successMessage,
                            const EraseSink& sink, EraseRng& rng, const FirstNameBytes* newNames)
{
    const StreamNames streams = ListAlternateStreams(file.handle.Get());
    const int64_t target = ZeroResidentStreams(file, streams, sink.stop);
    if (newNames != nullptr) ScrambleName(file, *newNames, sink);
    if (!OverwriteAlternateStreams(file.current.c_str(), streams, passes, sink.log, sink.context, sink.stop, rng,
                                   ByteDistribution(), file.overwritten)) {
        return LogPassEnded(sink);
    }
    if (file.size > 0) return OverwriteAndDelete(file, target, passes, successMessage, sink, rng);
    LogText(sink.log, sink.context, L"File size is 0. Deleting file.");
    return DeleteThroughHandle(file, L"Failed to delete file.", sink);
}

// A file the erase gave up on before writing to it still holds the user's
// data whole: give it back its length, its name and its read-only
// attribute rather than leave it as they have never seen it. Logs how the
// rename back went.
void RestoreUntouchedFile(FileState& file, const EraseSink& sink)
{
    const HANDLE handle = file.handle.Get();
    if (file.length != file.size && SetOpenFileLength(handle, file.size)) file.length = file.size;
    if (file.current != file.original) {
        if (RenameOpenFile(handle, file.original)) {
            file.current = file.original;
            LogText(sink.log, sink.context, L"Original file name restored.");
        } else {
            const std::wstring shown = ShownPath(file.current);
            LogFormatted(sink.log, sink.context, CapacityForName(256, shown.c_str()),
                         L"Could not restore the original file name; the file is now %ls", shown.c_str());
        }
    }
    if (file.readOnlyCleared) SetOpenFileAttributes(handle, file.attributes);
}

// Runs the erase of the file `path` from its probe to its deletion. Returns
// the erase's result; `file` tells where the file is left.
EraseResult EraseFile(FileState& file, const wchar_t* path, const PassList& passes, const wchar_t* successMessage,
                      const EraseSink& sink, bool keepName)
{
    const EraseResult probed = ProbeFile(file, path, sink);
    if (probed != EraseResult::Success) return probed;
    EraseDraw drawn;
    if (!DrawEraseRandom(drawn)) {
        LogText(sink.log, sink.context, L"Failed to obtain cryptographic random seed.");
        return EraseResult::Error;
    }
    EraseRng rng;
    SeedEraseRng(rng, drawn.seed);
    return EraseProbedFile(file, passes, successMessage, sink, rng, keepName ? nullptr : &drawn.names);
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
    const EraseResult result = EraseFile(file, path, passes, successMessage, sink, keepName);
    if (result != EraseResult::Success && !file.overwritten) RestoreUntouchedFile(file, sink);
    NoteWhereFileIsLeft(exact, file.current);
    return result;
}
