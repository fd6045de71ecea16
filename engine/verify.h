// Reading a written pass back from the disk.
#pragma once

#include "engine/erase_types.h"
#include "engine/pass.h"

// Announces the check of pass `passIndex` + 1 of `passCount`, reopens `path`
// for reading (bypassing the system cache where the system allows it) and
// compares its first `length` bytes with what `pass` produces from `engine`,
// the copy of the file's stream taken just before the pass was written.
// Returns true when the whole length was read and matched; false when the
// file could not be opened or read, a byte differed (each logged), a buffer
// could not be allocated, or the stop flag was seen (neither logged).
bool VerifyPass(const wchar_t* path, int64_t length, const PassSpec& pass, EraseRng engine, LogFn log,
                void* context, const StopFlag* stop, int32_t passIndex, int32_t passCount);
