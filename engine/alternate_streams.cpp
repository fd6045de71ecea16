#include "engine/alternate_streams.h"

#include "engine/log_text.h"
#include "engine/os_handle.h"
#include "engine/overwrite_pass.h"

#include <vector>

namespace {

// The most a file's list of streams may take before the list is given up
// as no list at all: far more than any real file carries.
constexpr size_t kMostStreamListBytes = 1 << 20;

// Turns one listed record (":name:$DATA") into ":name"; returns an empty
// string for the main stream ("::$DATA") and for a record without a type.
std::wstring StreamNameOf(std::wstring name)
{
    if (name.size() >= 2 && name[0] == L':' && name[1] == L':') return std::wstring();
    size_t typeColon = name.find(L':', 1);
    if (typeColon == std::wstring::npos) return std::wstring();
    return name.substr(0, typeColon);
}

// Opens the named stream `name` of `path` for writing and measures it into
// `size`. Opened without following a link, so that a link put in the file's
// place cannot lead the writes into another file, and sharing everything
// with the erase's own handle on the main stream, whatever the file system's
// rules on how one file's streams share. Returns false, with `stream` empty
// and the system's error kept, when it cannot be opened or measured.
bool OpenStream(const wchar_t* path, const std::wstring& name, FileHandle& stream, int64_t& size)
{
    std::wstring streamPath = std::wstring(path) + name;
    stream.Reset(os.CreateFileW(streamPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    LARGE_INTEGER measured = {};
    if (!stream.IsValid() || !os.GetFileSizeEx(stream.Get(), &measured)) {
        const DWORD error = GetLastError();
        stream.Reset();
        SetLastError(error);
        return false;
    }
    size = measured.QuadPart;
    return true;
}

// Opens, measures, announces and overwrites one stream with every pass.
// Returns false when the stream is there but cannot be opened or measured
// (its bytes would outlive an erase reported as done), or when a failed
// positioning, write or flush, or the stop flag, ends the whole step; true
// otherwise, an empty stream or one gone since it was listed included. Sets
// `begun` once the stream is open for its passes.
bool OverwriteStream(const wchar_t* path, const std::wstring& name, const PassList& passes, LogFn log,
                     void* context, const StopFlag* stop, EraseRng& rng, const ByteDistribution& dist, bool& begun)
{
    FileHandle stream;
    int64_t size = 0;
    if (!OpenStream(path, name, stream, size)) return GetLastError() == ERROR_FILE_NOT_FOUND;
    if (size == 0) return true;
    begun = true;
    LogFormatted(log, context, CapacityForName(256, name.c_str()), L"Overwriting ADS %ls (%lld bytes)...",
                 name.c_str(), static_cast<long long>(size));
    for (const PassSpec& pass : passes) {
        if (!WritePassFromStart(stream.Get(), size, pass, rng, dist, stop, nullptr)) return false;
    }
    return true;
}

}  // namespace

StreamNames ListAlternateStreams(HANDLE file)
{
    StreamNames names;
    std::vector<uint64_t> block(512);  // 4 KiB, aligned for the records
    while (!os.GetFileInformationByHandleEx(file, FileStreamInfo, block.data(), static_cast<DWORD>(block.size() * 8))) {
        if (GetLastError() != ERROR_MORE_DATA || block.size() * 8 >= kMostStreamListBytes) return names;
        block.assign(block.size() * 2, 0);
    }
    for (auto* record = reinterpret_cast<const FILE_STREAM_INFO*>(block.data());;
         record = reinterpret_cast<const FILE_STREAM_INFO*>(reinterpret_cast<const char*>(record) + record->NextEntryOffset)) {
        std::wstring name = StreamNameOf(std::wstring(record->StreamName, record->StreamNameLength / sizeof(wchar_t)));
        if (!name.empty()) names.push_back(name);
        if (record->NextEntryOffset == 0) return names;
    }
}

bool OverwriteAlternateStreams(const wchar_t* path, const StreamNames& names, const PassList& passes, LogFn log,
                               void* context, const StopFlag* stop, EraseRng& rng, const ByteDistribution& dist,
                               bool& begun)
{
    for (const std::wstring& name : names) {
        if (StopIsSet(stop)) return false;
        if (!OverwriteStream(path, name, passes, log, context, stop, rng, dist, begun)) return false;
    }
    return true;
}

bool ZeroSmallAlternateStreams(const wchar_t* path, const StreamNames& names, int64_t limit, const StopFlag* stop)
{
    bool zeroed = false;
    for (const std::wstring& name : names) {
        if (StopIsSet(stop)) break;
        FileHandle stream;
        int64_t size = 0;
        if (OpenStream(path, name, stream, size) && size > 0 && size < limit) {
            zeroed = true;  // even a write that then fails may have reached the disk
            WriteZerosInPlace(stream.Get(), size, stop);
        }
    }
    return zeroed;
}
