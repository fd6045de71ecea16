#include "engine/verify.h"

#include "engine/log_text.h"
#include "engine/os_handle.h"
#include "engine/overwrite_pass.h"
#include "engine/pass_threads.h"

#include <cstring>

namespace {

constexpr size_t kSectorAlignment = 4096;

// Opens `path` for read-back; unbuffered reads bypass the system cache. It
// shares everything with the erase's handle, which may write and delete.
// Returns the handle, or INVALID_HANDLE_VALUE.
HANDLE OpenForReadBack(const wchar_t* path, bool unbuffered)
{
    DWORD flags = FILE_FLAG_SEQUENTIAL_SCAN | (unbuffered ? FILE_FLAG_NO_BUFFERING : 0);
    return os.CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, flags, nullptr);
}

// Returns true when `chunk` bytes were read in full into `dest`.
bool ReadWhole(HANDLE file, unsigned char* dest, uint32_t chunk)
{
    DWORD read = 0;
    return os.ReadFile(file, dest, chunk, &read, nullptr) && read == chunk;
}

// The read handle of one verification; it falls back from unbuffered to
// buffered reading at most once.
struct ReadBack {
    const wchar_t* path;
    FileHandle file;
    bool unbuffered;
};

// Reads the chunk at `offset` into `dest`. An unbuffered read fails or comes
// up short when the chunk is not a whole number of sectors (the file's last,
// partial chunk), so such a read is repeated once through a buffered handle
// reopened at the same offset. Returns true when the whole chunk was read.
bool ReadChunk(ReadBack& reader, unsigned char* dest, uint32_t chunk, int64_t offset)
{
    if (ReadWhole(reader.file.Get(), dest, chunk)) return true;
    if (!reader.unbuffered) return false;
    reader.file.Reset();
    reader.unbuffered = false;
    reader.file.Reset(OpenForReadBack(reader.path, false));
    if (!reader.file.IsValid()) return false;
    LARGE_INTEGER position;
    position.QuadPart = offset;
    if (!os.SetFilePointerEx(reader.file.Get(), position, nullptr, FILE_BEGIN)) return false;
    return ReadWhole(reader.file.Get(), dest, chunk);
}

// Compares the file with the pass chunk by chunk, the expected bytes made
// in `expected` or, for a long random pass, ahead on a second thread.
// Returns true on a match over the whole length; logs a read error or a
// difference.
bool CompareWithPass(ReadBack& reader, int64_t length, const PassSpec& pass, EraseRng& engine,
                     unsigned char* expected, unsigned char* actual, LogFn log, void* context,
                     const StopFlag* stop)
{
    const ByteDistribution dist;
    int64_t remaining = length;
    if (remaining < 1) return true;
    if (StopIsSet(stop)) return false;
    PassBytes bytes(pass, length, engine, dist, expected);
    for (;;) {
        uint32_t chunk = remaining < kChunkSize ? static_cast<uint32_t>(remaining) : kChunkSize;
        const uint8_t* next = bytes.Next(chunk);
        if (!ReadChunk(reader, actual, chunk, length - remaining)) {
            LogText(log, context, L"Verification: read error during read-back.");
            return false;
        }
        if (memcmp(next, actual, chunk) != 0) {
            LogText(log, context, L"VERIFICATION FAILED: disk content does not match expected overwrite pattern.");
            return false;
        }
        remaining -= chunk;
        if (remaining < 1) return true;
        if (StopIsSet(stop)) return false;
    }
}

}  // namespace

bool VerifyPass(const wchar_t* path, int64_t length, const PassSpec& pass, EraseRng engine, LogFn log,
                void* context, const StopFlag* stop, int32_t passIndex, int32_t passCount)
{
    LogFormatted(log, context, 128, L"Verifying pass %d/%d (disk read-back)...", passIndex + 1, passCount);
    ReadBack reader{path, FileHandle(OpenForReadBack(path, true)), true};
    if (!reader.file.IsValid()) {
        reader.unbuffered = false;
        reader.file.Reset(OpenForReadBack(path, false));
    }
    if (!reader.file.IsValid()) {
        LogText(log, context, L"Verification: failed to open file for read-back.");
        return false;
    }
    // The expected chunk and the chunk read share one block, one allocation per
    // pass rather than two; a chunk apart, the chunk read stays aligned too.
    AlignedBlock buffers(2 * kChunkSize, kSectorAlignment);
    unsigned char* const expected = buffers.Bytes();
    if (expected == nullptr) return false;
    return CompareWithPass(reader, length, pass, engine, expected, expected + kChunkSize, log, context, stop);
}
