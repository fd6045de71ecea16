// Changing a file through a handle open on it, and asking where that handle
// leads: the calls act on the very file that was opened and checked, not on
// whatever a path names by the time they run.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// Renames the open file (or folder) to `path`, a full path in verbatim form
// ("\\?\C:\dir\name"), replacing a file of that name only when `replace`.
// Returns false when the rename fails or `path` is not in verbatim form.
bool RenameOpenFile(HANDLE file, const std::wstring& path, bool replace = false);

// Marks the open file, or empty folder, to be deleted when its last handle
// closes. Returns false when that is refused (a folder that is not empty, a
// file in use by a mapping, no delete access).
bool DeleteOpenFile(HANDLE file);

// Sets the open file's length without moving its file pointer. Returns false
// when it fails.
bool SetOpenFileLength(HANDLE file, int64_t length);

// Sets the open file's attributes, its times left as they are; 0 stands for
// none. Returns false when it fails.
bool SetOpenFileAttributes(HANDLE file, DWORD attributes);

// Returns the open file's attributes, or INVALID_FILE_ATTRIBUTES when they
// cannot be read.
DWORD OpenFileAttributes(HANDLE file);

// Returns true when the handle leads to `path` (verbatim form) itself: no
// folder on the way is a link or a junction. A drive that stands for a share
// or a folder (a mapped network drive, subst) leads where Windows says it
// does, so only what follows the drive is compared there; names compare as
// Windows compares them, without regard to case, and a short (8.3) name in
// `path` counts as its long form; where the handle's path lacks the dots or
// spaces that end a listed name, it must not name the open file itself. Sets `reached` to where the handle leads,
// or empty when Windows cannot tell, which returns false.
bool LeadsTo(HANDLE file, const std::wstring& path, std::wstring& reached);
