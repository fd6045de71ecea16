#include "os/verbatim_path.h"

namespace {

const wchar_t kVerbatim[] = L"\\\\?\\";
const wchar_t kVerbatimUnc[] = L"\\\\?\\UNC\\";

// Returns true when `path` starts with `prefix`.
bool StartsWith(const std::wstring& path, const wchar_t* prefix)
{
    return path.rfind(prefix, 0) == 0;
}

// Returns true for "X:\..." and "X:/...".
bool IsDriveAbsolute(const std::wstring& path)
{
    return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/') &&
           ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
}

// Returns true for "\\server\share...", not for "\\?\" or "\\.\" paths.
bool IsUnc(const std::wstring& path)
{
    return path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'?' && path[2] != L'.';
}

}  // namespace

// A slash can never be part of a name, so turning it into the separator the
// verbatim form requires cannot change which file is meant.
std::wstring VerbatimPath(const std::wstring& path)
{
    if (!IsDriveAbsolute(path) && !IsUnc(path)) return path;
    std::wstring verbatim = IsUnc(path) ? kVerbatimUnc + path.substr(2) : kVerbatim + path;
    for (wchar_t& c : verbatim) {
        if (c == L'/') c = L'\\';
    }
    return verbatim;
}

std::wstring ShownPath(const std::wstring& path)
{
    if (StartsWith(path, kVerbatimUnc)) return L"\\\\" + path.substr(8);
    if (StartsWith(path, kVerbatim) && IsDriveAbsolute(path.substr(4))) return path.substr(4);
    return path;
}
