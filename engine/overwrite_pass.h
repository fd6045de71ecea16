// Writing one pass over a stream that is open for writing.
#pragma once

#include "engine/erase_types.h"
#include "engine/pass.h"

#include <windows.h>

// Size of every chunk the engine writes or reads.
constexpr uint32_t kChunkSize = 65536;

// Where a pass reports how far the main-stream passes of a file have come.
struct PassProgress {
    ProgressFn progress;  // may be null: the percent is then computed but not sent
    void* context;
    int64_t& bytesDone;   // accumulated over all passes of one file, a short write's bytes included
    double totalWork;     // pass count times overwrite length
};

// Rewinds `file` and writes `length` bytes of `pass` in 64 KiB chunks,
// checking `stop` (may be null) before each chunk and reporting each chunk to
// `report` (may be null), then flushes. A long pass has helper threads
// (engine/pass_threads.h), which change nothing it writes. Returns true when
// every byte was written and flushed; false when the rewind, a write or a
// flush fails, a write comes up short, or the stop flag is set (no flush
// then).
bool WritePassFromStart(HANDLE file, int64_t length, const PassSpec& pass, EraseRng& rng,
                        const ByteDistribution& dist, const StopFlag* stop, const PassProgress* report);

// Writes zeros once over the first `length` bytes of `file`, in place, and
// flushes, drawing nothing from any random stream; checks `stop` (may be
// null) before each chunk. Returns what WritePassFromStart returns.
bool WriteZerosInPlace(HANDLE file, int64_t length, const StopFlag* stop);

// Announces pass `passIndex` + 1 of `passCount` to `log` and writes it over
// the main stream from offset 0 to `length`, moving progress after every
// chunk. Returns true when the whole pass was written and flushed; false
// when positioning, a write or the flush failed or the stop flag was seen
// (the caller tells which by reading the flag again).
bool RunOverwritePass(HANDLE file, int64_t length, const PassSpec& pass, int32_t passIndex,
                      int32_t passCount, ProgressFn progress, LogFn log, void* context,
                      const StopFlag* stop, int64_t& bytesDone, double totalWork, EraseRng& rng,
                      const ByteDistribution& dist);
