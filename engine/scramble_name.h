// Giving a file a meaningless name in its own folder.
#pragma once

#include "engine/random_name.h"

#include <windows.h>

#include <string>

// The random bytes of the first attempt of each of the two renames, drawn
// by the caller together with the other random bytes it needs.
struct FirstNameBytes {
    RandomNameBytes random;       // the random name
    RandomNameBytes lastSorting;  // the last-sorting name on the way to it
};

// Renames the open `file`, whose full path in verbatim form is `path`, to 16
// random letters and digits in the same folder, through its handle, by way
// of a last-sorting name as long as its own, with random bytes of their own
// for each of up to ten attempts per rename: those of `first` for the first
// attempts, fresh ones after them. Returns the new full path; an empty
// string when the file kept its own name (the directory part of the path as
// given is over 255 characters, the random source failed, or the renames
// failed); or, in the rare case that the file could be neither given its
// random name nor its own name back, the path under which it now is.
std::wstring ScrambleFileName(HANDLE file, const std::wstring& path, const FirstNameBytes& first);

// Renames the open `file` (or folder) to 16 random letters and digits in
// `folder` (verbatim form, ending in a separator), through its handle, with
// fresh random bytes for each of up to ten attempts. Returns the new path,
// or an empty string when no attempt succeeded or the random source failed.
std::wstring RenameToRandomName(HANDLE file, const std::wstring& folder);
