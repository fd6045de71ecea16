// Overwriting the named data streams that a file carries beside its main one.
#pragma once

#include "engine/erase_types.h"
#include "engine/pass.h"

#include <windows.h>

#include <string>
#include <vector>

using StreamNames = std::vector<std::wstring>;

// Returns the names of the named data streams of the open `file`, asked
// through its handle, in the order the file system lists them, each as a
// colon and the name (":Zone.Identifier"); the main stream and records
// without a type are left out. Empty when the file system reports none or
// keeps no streams.
StreamNames ListAlternateStreams(HANDLE file);

// Writes every pass of `passes` over each non-empty stream of `names` on
// `path`, drawing from `rng` stream by stream and pass by pass. A stream gone
// since it was listed is passed over. Sets `begun` once a stream has been
// opened for its passes. Returns false when the stop flag ended the step or a
// stream could not be opened, measured, written or flushed completely (the
// remaining streams are then left untouched); true otherwise.
bool OverwriteAlternateStreams(const wchar_t* path, const StreamNames& names, const PassList& passes, LogFn log,
                               void* context, const StopFlag* stop, EraseRng& rng, const ByteDistribution& dist,
                               bool& begun);

// Writes zeros once, in place and flushed, over each non-empty stream of
// `names` on `path` shorter than `limit` bytes, drawing nothing from the
// file's random stream and reporting nothing. Best effort: a stream that
// cannot be opened, measured or written is left to the passes and the next
// one is zeroed. Ends at the stop flag, leaving the cancel to the caller's
// next check. Returns true when some stream was opened for zeroing.
bool ZeroSmallAlternateStreams(const wchar_t* path, const StreamNames& names, int64_t limit, const StopFlag* stop);
