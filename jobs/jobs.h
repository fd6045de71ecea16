// The worker jobs and the storage probe that the window starts and asks.
#pragma once

#include "methods/erase_methods.h"

#include <windows.h>
#include <cstdint>
#include <string>
#include <vector>

struct EraseItem {
    int32_t row;
    std::wstring path;
    uint64_t size = 0;  // as the listing reported it, for the job's progress
};

// Returns the word a list row shows once the erase job is done with its item:
// "Done", "Canceled", "Verify Failed", "Open Failed", "Write Failed",
// "Delete Failed", "Refused", or "Error" for Error and any unknown value.
// The text is a constant that outlives every job.
const wchar_t* ItemStatus(EraseResult result);

// Erases `items` in order with `method`, stopping at the first item that is
// not Done, then removes `folders` only when every item was Done and no stop
// was requested. Reports through WM_APP_STATUS (each item's row ends with its
// status word and, where its file is left under a random name, that name),
// along with the whole job's progress; sends its facts and posts
// WM_APP_FINISHED exactly once: Incomplete, after saying which, when a
// folder stays.
void FileEraseJob(EraseMethodFn method, std::vector<EraseItem> items, std::vector<std::wstring> folders);

// Removes each empty folder, deepest first, after renaming it to a random
// name, both through one handle on it. A folder that is not empty keeps its
// own name (and so do its listed ancestors); one that is renamed but will not
// go is renamed back; a path that is no longer a folder is left alone, and
// so is one that is, or is reached through, a link or junction now. Stops at
// the stop flag. Returns the status text that names the first folder left and
// why, or an empty text when every listed folder is gone.
std::wstring RemoveFolders(std::vector<std::wstring> folders);

// Deletes the wipe and filler files that an earlier, cut-off wipe left in
// `folder`, then fills the free space under it with hidden wipe files (more
// than one where the volume caps a file's length) down to a reserve of
// 64 MiB, lets `method` overwrite each, fills the volume's free file records
// with small hidden files, and deletes every file it made, reporting its
// whole progress. Sends its facts and posts WM_APP_FINISHED exactly once:
// Incomplete, after saying what, when free space above the reserve stayed
// unwiped, a quota kept part of it from the user, or a file of its own could
// not be deleted.
void FreeSpaceWipeJob(std::wstring folder, EraseMethodFn method);

// Returns true only when the device under `path` was asked and said it incurs
// no seek penalty.
bool HasNoSeekPenalty(const wchar_t* path);
