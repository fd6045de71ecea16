// The exact form of a path the user gave, for the file system calls made on it.
#pragma once

#include <string>

// Win32 path parsing drops trailing dots and spaces from a name and turns
// names such as "nul.txt" or "com1" into devices, so "C:\dir\secret." would
// reach "C:\dir\secret". The verbatim form ("\\?\C:\dir\secret.",
// "\\?\UNC\server\share\x") reaches exactly the named file, and is not held
// to MAX_PATH either. Returns that form of an absolute drive or UNC path;
// any other path (already verbatim, a device, relative) is returned as it is.
std::wstring VerbatimPath(const std::wstring& path);

// Returns the path as the user knows it: `path` without the prefix that
// VerbatimPath adds. For texts shown to the user.
std::wstring ShownPath(const std::wstring& path);
