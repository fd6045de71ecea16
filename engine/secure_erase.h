// The secure erase of one file.
#pragma once

#include "engine/erase_types.h"
#include "engine/pass.h"

// Erases one file: refuses links, zeroes in place whatever of it is small
// enough to live inside its MFT record, renames it (unless keepName),
// overwrites its named streams, lengthens it to its cluster boundary, runs
// every pass (reading each back when verifyReadBack is set) and deletes it.
// Owns `passes`. Returns what happened as an EraseResult.
EraseResult SecureEraseFile(const wchar_t* path, PassList passes, const wchar_t* successMessage,
                            ProgressFn progress, LogFn log, void* context, const StopFlag* stop,
                            bool keepName);
