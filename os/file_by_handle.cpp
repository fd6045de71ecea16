#include "os/file_by_handle.h"

#include "os/os_seam.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

const wchar_t kVerbatimPrefix[] = L"\\\\?\\";

// Sets one class of facts about the open file. Returns false when refused.
template <typename Info> bool SetInfo(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, Info& info, DWORD size = sizeof(Info))
{
    return os.SetFileInformationByHandle(file, kind, &info, size) != FALSE;
}

// Returns `path` with the dots and spaces that end any of its names taken
// off.
std::wstring WithoutTrailingDotsAndSpaces(const std::wstring& path)
{
    std::wstring trimmed;
    for (wchar_t c : path) {
        if (c == L'\\') {
            while (!trimmed.empty() && (trimmed.back() == L'.' || trimmed.back() == L' ')) trimmed.pop_back();
        }
        trimmed += c;
    }
    while (!trimmed.empty() && (trimmed.back() == L'.' || trimmed.back() == L' ')) trimmed.pop_back();
    return trimmed;
}

// Returns true when Windows, which compares names without regard to case,
// takes `a` and `b` for the same path.
bool SamePath(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

// Returns true when what `path` names (no link followed) is another file or
// folder than the open `file`, or nothing; false when it is the open file
// itself, or when that cannot be told.
bool NamesAnotherOrNone(HANDLE file, const std::wstring& path)
{
    const HANDLE other = os.CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (other == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    FILE_ID_INFO mine = {}, its = {};
    const bool told = os.GetFileInformationByHandleEx(file, FileIdInfo, &mine, sizeof mine) &&
                      os.GetFileInformationByHandleEx(other, FileIdInfo, &its, sizeof its);
    os.CloseHandle(other);
    return told && (mine.VolumeSerialNumber != its.VolumeSerialNumber ||
                    memcmp(&mine.FileId, &its.FileId, sizeof mine.FileId) != 0);
}

// Returns true when `reached`, the final path of the open `file`, is the
// path `listed`. Some implementations of the final-path call leave out the
// dots and spaces that end a name, as a plain Win32 path would read it ("a."
// comes back as "a"). A path that differs only so is taken where the shorter
// name is another file than the open one, or none; where it is the open file
// itself, the listed name led there, as a junction "dir." leading to "dir"
// would, and it is not.
bool NamesOpenFile(HANDLE file, const std::wstring& reached, const std::wstring& listed)
{
    if (SamePath(reached, listed)) return true;
    return SamePath(WithoutTrailingDotsAndSpaces(reached), WithoutTrailingDotsAndSpaces(listed)) &&
           NamesAnotherOrNone(file, reached);
}

// Returns true with `reached` set to the normalized full path, in verbatim
// form, that the open file or folder is reached by; false when Windows
// cannot tell.
bool FinalPathOf(HANDLE file, std::wstring& reached)
{
    reached.assign(MAX_PATH, L'\0');
    DWORD length = os.GetFinalPathNameByHandleW(file, reached.data(), MAX_PATH, FILE_NAME_NORMALIZED);
    if (length >= MAX_PATH) {
        reached.assign(length, L'\0');
        length = os.GetFinalPathNameByHandleW(file, reached.data(), length, FILE_NAME_NORMALIZED);
    }
    reached.resize(length < reached.size() ? length : 0);
    return !reached.empty();
}

// Returns the length of the drive part of a verbatim path, its separator
// included: "\\?\C:\" or "\\?\UNC\server\share\"; 0 for any other form.
size_t RootLength(const std::wstring& path)
{
    if (path.size() >= 7 && path.compare(0, 4, kVerbatimPrefix) == 0 && path[5] == L':' && path[6] == L'\\') return 7;
    if (path.compare(0, 8, L"\\\\?\\UNC\\") != 0) return 0;
    const size_t server = path.find(L'\\', 8);
    const size_t share = server == std::wstring::npos ? server : path.find(L'\\', server + 1);
    return share == std::wstring::npos ? 0 : share + 1;
}

// Returns true with `reached` set to where the drive part of `path` leads,
// ending in a separator; false when it cannot be opened or told. A drive
// is a name in the system's table, never a link in the file system, so it
// cannot have been swapped for one since the file was listed.
bool RootReached(const std::wstring& path, std::wstring& reached)
{
    const size_t root = RootLength(path);
    if (root == 0) return false;
    HANDLE folder = os.CreateFileW(path.substr(0, root).c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    const bool told = FinalPathOf(folder, reached);
    os.CloseHandle(folder);
    if (told && reached.back() != L'\\') reached += L'\\';
    return told;
}

// Returns `path` with its short (8.3) names in their long form, or `path`
// itself when it has none or they cannot be told.
std::wstring LongForm(const std::wstring& path)
{
    if (path.find(L'~') == std::wstring::npos) return path;
    const DWORD length = GetLongPathNameW(path.c_str(), nullptr, 0);
    std::wstring longer(length, L'\0');
    if (length == 0 || GetLongPathNameW(path.c_str(), longer.data(), length) + 1 != length) return path;
    longer.pop_back();
    return longer;
}

}  // namespace

// FILE_RENAME_INFO takes the new name as a native path: "\??\C:\dir\name"
// is the verbatim form with the native prefix.
bool RenameOpenFile(HANDLE file, const std::wstring& path, bool replace)
{
    if (path.compare(0, 4, kVerbatimPrefix) != 0) return false;
    const std::wstring native = L"\\??\\" + path.substr(4);
    const DWORD nameBytes = static_cast<DWORD>(native.size() * sizeof(wchar_t));
    std::vector<unsigned char> block(offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(block.data());
    rename->ReplaceIfExists = replace;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = nameBytes;
    native.copy(rename->FileName, native.size());
    return SetInfo(file, FileRenameInfo, *rename, static_cast<DWORD>(block.size()));
}

bool DeleteOpenFile(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetInfo(file, FileDispositionInfo, disposition);
}

bool SetOpenFileLength(HANDLE file, int64_t length)
{
    FILE_END_OF_FILE_INFO end = {};
    end.EndOfFile.QuadPart = length;
    return SetInfo(file, FileEndOfFileInfo, end);
}

// In this structure 0 leaves a time, and the attributes, as they are.
bool SetOpenFileAttributes(HANDLE file, DWORD attributes)
{
    FILE_BASIC_INFO basic = {};
    basic.FileAttributes = attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL;
    return SetInfo(file, FileBasicInfo, basic);
}

DWORD OpenFileAttributes(HANDLE file)
{
    FILE_ATTRIBUTE_TAG_INFO info = {};
    return os.GetFileInformationByHandleEx(file, FileAttributeTagInfo, &info, sizeof info) ? info.FileAttributes
                                                                                             : INVALID_FILE_ATTRIBUTES;
}

bool LeadsTo(HANDLE file, const std::wstring& path, std::wstring& reached)
{
    if (!FinalPathOf(file, reached)) {
        reached.clear();
        return false;
    }
    const std::wstring listed = LongForm(path);
    if (NamesOpenFile(file, reached, listed)) return true;
    std::wstring root;
    return RootReached(listed, root) && NamesOpenFile(file, reached, root + listed.substr(RootLength(listed)));
}
