#include "engine/overwrite_pass.h"

#include "engine/log_text.h"
#include "engine/pass_threads.h"
#include "os/os_seam.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// Adds one written chunk to the file's progress and sends the percent.
void ReportChunk(const PassProgress& report, uint32_t chunk)
{
    report.bytesDone += chunk;
    if (report.totalWork <= 0.0) return;
    int32_t percent = static_cast<int32_t>(static_cast<double>(report.bytesDone) / report.totalWork * 100.0);
    if (report.progress != nullptr) report.progress(percent, report.context);
}

// Logs the message that announces a pass, before anything is written, so the
// user sees it even when the pass then fails.
void AnnouncePass(LogFn log, void* context, const PassSpec& pass, int32_t number, int32_t total)
{
    if (log == nullptr) return;
    wchar_t text[256];
    if (pass.kind == PassKind::FixedByte) {
        FormatText(text, 256, L"Pass %d/%d: Overwrite with 0x%02X...", number, total, pass.value);
    } else if (pass.kind == PassKind::Pattern && pass.pattern.size() >= 3) {
        FormatText(text, 256, L"Pass %d/%d: Overwrite with 0x%02X%02X%02X (rotation)...", number, total,
                   pass.pattern[0], pass.pattern[1], pass.pattern[2]);
    } else if (pass.kind == PassKind::Pattern) {
        FormatText(text, 256, L"Pass %d/%d: Overwrite with pattern...", number, total);
    } else {
        FormatText(text, 256, L"Pass %d/%d: Random overwrite...", number, total);
    }
    log(text, context);
}

// Writes the `length` bytes of `pass` to `file` in 64 KiB chunks, checking
// `stop` before each chunk and reporting each to `report`, then flushes; a
// long pass is also flushed behind its writes. Returns false when a write
// fails or comes up short, the stop flag is set, or a flush fails.
bool WriteChunks(HANDLE file, int64_t length, PassBytes& bytes, const StopFlag* stop, const PassProgress* report)
{
    std::optional<FlushBehind> behind;
    if (length >= kFlushBehindMinimum) behind.emplace(file);
    for (int64_t remaining = length; remaining >= 1;) {
        if (StopIsSet(stop)) return false;
        const uint32_t chunk = remaining < kChunkSize ? static_cast<uint32_t>(remaining) : kChunkSize;
        const uint8_t* next = bytes.Next(chunk);
        DWORD written = 0;
        if (!os.WriteFile(file, next, chunk, &written, nullptr) || written != chunk) {
            // What did reach the file is written all the same.
            if (report != nullptr) report->bytesDone += written;
            return false;
        }
        remaining -= chunk;
        if (report != nullptr) ReportChunk(*report, chunk);
        if (behind && remaining > 0 && (length - remaining) % kFlushBehindStretch == 0) behind->Ask();
    }
    const bool flushedBehind = !behind || behind->Finish();
    // Bytes that never left the cache have not overwritten anything.
    return os.FlushFileBuffers(file) != FALSE && flushedBehind;
}

}  // namespace

bool WritePassFromStart(HANDLE file, int64_t length, const PassSpec& pass, EraseRng& rng,
                        const ByteDistribution& dist, const StopFlag* stop, const PassProgress* report)
{
    LARGE_INTEGER start = {};
    if (!os.SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return false;
    // No chunk is longer than the pass: a small file's pass needs no more.
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(length, kChunkSize)));
    PassBytes bytes(pass, length, rng, dist, buffer.data());
    return WriteChunks(file, length, bytes, stop, report);
}

bool WriteZerosInPlace(HANDLE file, int64_t length, const StopFlag* stop)
{
    const PassSpec zeros{PassKind::FixedByte, 0, {}};
    EraseRng unused;  // a fixed-byte pass never draws
    return WritePassFromStart(file, length, zeros, unused, ByteDistribution(), stop, nullptr);
}

bool RunOverwritePass(HANDLE file, int64_t length, const PassSpec& pass, int32_t passIndex,
                      int32_t passCount, ProgressFn progress, LogFn log, void* context,
                      const StopFlag* stop, int64_t& bytesDone, double totalWork, EraseRng& rng,
                      const ByteDistribution& dist)
{
    AnnouncePass(log, context, pass, passIndex + 1, passCount);
    PassProgress report{progress, context, bytesDone, totalWork};
    return WritePassFromStart(file, length, pass, rng, dist, stop, &report);
}
