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
};

// Returns the word a list row shows once the erase job is done with its item:
// "Done", "Canceled", "Verify Failed", "Open Failed", "Write Failed",
// "Delete Failed", "Refused", or "Error" for Error and any unknown value.
// The text is a constant that outlives every job.
const wchar_t* ItemStatus(EraseResult result);

// Erases `items` in order with `method`, stopping at the first item that is
// not Done, then removes `folders` only when every item was Done and no stop
// was requested. Reports through WM_APP_STATUS and posts WM_APP_FINISHED exactly once.
void FileEraseJob(EraseMethodFn method, std::vector<EraseItem> items, std::vector<std::wstring> folders);

// Renames each folder to a random name and removes it, deepest first; a path
// that is no longer a folder is left alone. Reports nothing.
void RemoveFolders(std::vector<std::wstring> folders);

// Fills the free space under `folder` with one hidden file, lets `method`
// overwrite it, and deletes it. Posts WM_APP_FINISHED exactly once.
void FreeSpaceWipeJob(std::wstring folder, EraseMethodFn method);

// Returns true only when the device under `path` was asked and said it incurs
// no seek penalty.
bool HasNoSeekPenalty(const wchar_t* path);
