// Giving a file a meaningless name in its own folder.
#pragma once

#include <string>

// Renames the file at `path` (plain or verbatim form) to 16 random letters
// and digits in the same folder, by way of a last-sorting name as long as its
// own, with fresh random bytes for each of up to ten attempts per rename.
// Returns the new full path; an empty string when the file kept its own name
// (the directory part of the path as given is over 255 characters, the random
// source failed, or the renames failed); or, in the rare case that the file
// could be neither given its random name nor its own name back, the path
// under which it now is.
std::wstring ScrambleFileName(const wchar_t* path);
