// The secure erase of one file.
#pragma once

#include "engine/erase_types.h"
#include "engine/pass.h"

// Erases one file through one handle, opened without following links and
// checked to lead to `path` itself (no link or junction at the path or on
// the way): zeroes in place whatever of it is small enough to live inside
// its MFT record, renames it (unless keepName), overwrites its named
// streams, lengthens it to its cluster boundary, runs every pass (reading
// each back when verifyReadBack is set) and deletes it, renaming, lengthening
// and deleting through that handle. A file it gave up on before writing to
// it gets its own name, length and attributes back. Owns `passes`. Returns
// what happened as an EraseResult.
EraseResult SecureEraseFile(const wchar_t* path, PassList passes, const wchar_t* successMessage,
                            ProgressFn progress, LogFn log, void* context, const StopFlag* stop,
                            bool keepName);
