// The contracts the erase engine shares with its callers: the result of an
// erase, the reporting channel, and the process-wide flags a job runs under.
#pragma once

#include <atomic>
#include <cstdint>

// Result of SecureEraseFile and of every erase method. Callers must cope with
// values outside this list (a job shows them as an error).
enum class EraseResult : int32_t {
    Success = 0,
    Canceled = 1,
    VerifyFailed = 2,
    OpenFailed = 3,
    WriteFailed = 4,
    DeleteFailed = 5,
    Refused = 6,
    Error = 7,
};

// The reporting channel (LogSink): either function may be null. Both are
// called synchronously on the erasing thread; a text lives only for the
// duration of the call. Their results are ignored.
using ProgressFn = intptr_t (*)(int32_t percent, void* context);
using LogFn = intptr_t (*)(const wchar_t* text, void* context);

// The stop flag is one atomic byte; the engine and the jobs only read it.
using StopFlag = std::atomic<uint8_t>;

// Returns true when a stop flag is given and set.
inline bool StopIsSet(const StopFlag* stop)
{
    return stop != nullptr && stop->load() != 0;
}

// Set by Cancel, by closing the window during a job and at exit; cleared by
// the commands when a job starts. No job clears it.
extern StopFlag stopRequested;

// The verify check box, captured when a job starts; read after every pass.
extern std::atomic<uint8_t> verifyReadBack;
