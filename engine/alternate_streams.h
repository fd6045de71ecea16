// Overwriting the named data streams that a file carries beside its main one.
#pragma once

#include "engine/erase_types.h"
#include "engine/pass.h"

#include <string>
#include <vector>

// Returns the names of `path`'s named data streams in the order the file
// system lists them, each as a colon and the name (":Zone.Identifier"); the
// main stream and records without a type are left out. Empty when the file
// system reports none.
std::vector<std::wstring> ListAlternateStreams(const wchar_t* path);

// Writes every pass of `passes` over each non-empty named stream of `path`,
// drawing from `rng` stream by stream and pass by pass. Streams that cannot be
// opened or measured are skipped; a failed positioning or write ends the step.
// Returns false only when the step was ended by the stop flag; true otherwise.
bool OverwriteAlternateStreams(const wchar_t* path, const PassList& passes, LogFn log, void* context,
                               const StopFlag* stop, EraseRng& rng, const ByteDistribution& dist);

// Writes zeros once, in place and flushed, over each non-empty named stream
// of `path` shorter than `limit` bytes, drawing nothing from the file's
// random stream and reporting nothing. Best effort: a stream that cannot be
// opened, measured or written is left to the passes and the next one is
// zeroed. Ends at the stop flag, leaving the cancel to the caller's next
// check. Returns nothing.
void ZeroSmallAlternateStreams(const wchar_t* path, int64_t limit, const StopFlag* stop);
