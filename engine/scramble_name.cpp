#include "engine/scramble_name.h"

#include "engine/random_name.h"
#include "os/file_by_handle.h"
#include "os/verbatim_path.h"

#include <algorithm>

namespace {

constexpr int kRenameAttempts = 10;
constexpr size_t kMaxDirectoryPart = 255;
// NTFS keeps a folder's index sorted by the upper-cased UTF-16 units of the
// names. This halfwidth symbol sorts after every letter, digit, ideograph and
// private-use character, so a name that starts with it is the folder's last.
constexpr wchar_t kLastSortingChar = L'\xFFEE';

// Returns the length of the drive part of `path`: 2 for "X:...", else 0.
size_t DriveLength(const std::wstring& path)
{
    return path.size() >= 2 && path[1] == L':' ? 2 : 0;
}

// Returns the length of the folder part of `path`, drive and last separator
// included, as the runtime's path splitting divides a path.
size_t FolderLength(const std::wstring& path)
{
    const size_t drive = DriveLength(path);
    const size_t lastSeparator = path.find_last_of(L"\\/");
    return lastSeparator == std::wstring::npos || lastSeparator < drive ? drive : lastSeparator + 1;
}

// Splits off the folder of `path` (which may be in verbatim form). Done here
// rather than by _wsplitpath_s, whose runtime may end the process through
// its invalid parameter handler when a part does not fit. Returns false,
// leaving `folder` alone, when the directory part of the path as the user
// gave it is longer than 255 characters.
bool SplitFolder(const std::wstring& path, std::wstring& folder)
{
    const std::wstring shown = ShownPath(path);
    if (FolderLength(shown) - DriveLength(shown) > kMaxDirectoryPart) return false;
    folder = path.substr(0, FolderLength(path));
    return true;
}

// Where one rename ended: the new path (empty when the file kept its name),
// and whether the random source failed, which ends the scrambling at once.
struct Renamed {
    std::wstring path;
    bool noRandom = false;
};

// Renames the open `file` to a name in `folder` drawn by `draw`, with fresh
// bytes for each of up to ten attempts. Returns where it ended.
template <typename Draw> Renamed RenameInFolder(HANDLE file, const std::wstring& folder, Draw draw)
{
    for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
        std::wstring name;
        if (!draw(name)) return {std::wstring(), true};
        std::wstring candidate = folder + name;
        if (RenameOpenFile(file, candidate)) return {std::move(candidate), false};
    }
    return {};
}

// Returns a draw that yields `first` once and fresh random names after it.
auto RandomNamesAfter(std::wstring first)
{
    return [first = std::move(first)](std::wstring& name) mutable {
        if (first.empty()) return DrawRandomName(name);
        name.swap(first);
        first.clear();
        return true;
    };
}

// Returns a draw of names of exactly `length` characters that sort after
// every other name in their folder: the last-sorting character, then the
// letters and digits of `first` once and of fresh random names after it,
// padded with the last-sorting character.
auto LastSortingNamesAfter(size_t length, std::wstring first)
{
    return [length, randoms = RandomNamesAfter(std::move(first))](std::wstring& name) mutable {
        std::wstring random;
        if (!randoms(random)) return false;
        name.assign(length, kLastSortingChar);
        name.replace(1, std::min(random.size(), length - 1), random, 0, length - 1);
        return true;
    };
}

}  // namespace

// In an NTFS folder's index the entries lie sorted one after another: adding
// a name shifts the entries behind it up, removing one shifts them down, and
// the bytes that fall out of use at the end keep what was there - the tail of
// the folder's last entry, often another file's name. So the file first takes
// a name as long as its own that sorts last: when its original entry goes,
// what falls out of use is its own new entry. From there it takes its random
// name, and the entry that goes is again the last one.
std::wstring ScrambleFileName(HANDLE file, const std::wstring& path, const FirstNameBytes& first)
{
    std::wstring folder;
    if (!SplitFolder(path, folder)) return std::wstring();
    const size_t length = std::max<size_t>(path.size() - folder.size(), 1);
    const Renamed last = RenameInFolder(file, folder, LastSortingNamesAfter(length, RandomNameOf(first.lastSorting)));
    if (last.noRandom) return std::wstring();
    const std::wstring random = RandomNameOf(first.random);
    // A volume that refuses such a name still gets the random one.
    const Renamed scrambled = RenameInFolder(file, folder, RandomNamesAfter(random));
    if (!scrambled.path.empty() || last.path.empty()) return scrambled.path;
    // The file must not stay under a name nobody gave it: back to its own,
    // or, when even that fails, the caller erases it under the one it has.
    return RenameOpenFile(file, path) ? std::wstring() : last.path;
}

std::wstring RenameToRandomName(HANDLE file, const std::wstring& folder)
{
    return RenameInFolder(file, folder, DrawRandomName).path;
}
