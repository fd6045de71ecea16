#include "jobs/wipe_files.h"

#include "engine/erase_types.h"
#include "engine/random_name.h"

#include <winioctl.h>
#include <vector>

namespace {

// Small enough to stay inside a 1 KiB file record beside the file's name and
// attributes, large enough to cover most of what a small file left there.
constexpr DWORD kFillerSize = 600;
// Ends the filling on a volume that never runs out of records nor reports
// less free space, such as some network shares.
constexpr size_t kMostFillers = 1 << 20;

// Returns the path of "_wipe_<name>.tmp" in `folder`, joined by a backslash
// unless the folder already ends in a separator.
std::wstring WipeFilePath(const std::wstring& folder, const std::wstring& name)
{
    std::wstring path = folder;
    if (!path.empty() && path.back() != L'\\' && path.back() != L'/') path += L'\\';
    return path + L"_wipe_" + name + L".tmp";
}

// Returns nine tenths of `size`, rounded down, without overflowing for any
// 64-bit size.
uint64_t NineTenths(uint64_t size)
{
    return size / 10 * 9 + size % 10 * 9 / 10;
}

// Sets the file's length to `size` without writing data. Returns true when
// both the seek and the end-of-file call succeeded.
bool SetFileLength(HANDLE file, uint64_t size)
{
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(size);
    return os.SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) && os.SetEndOfFile(file);
}

// Gives the open file `size` bytes or as close to it as the volume allows,
// shrinking by tenths. Returns the length it got, or 0 when a stop was
// requested or the size fell to `floor`.
uint64_t ReserveSpace(HANDLE file, uint64_t size, uint64_t floor)
{
    for (; size > floor; size = NineTenths(size)) {
        if (stopRequested.load()) return 0;
        if (SetFileLength(file, size)) return size;
    }
    return 0;
}

// A compressed file would occupy less than its length and leave free space
// unwritten. The result is ignored: not every volume compresses.
void DisableCompression(HANDLE file)
{
    USHORT noCompression = COMPRESSION_FORMAT_NONE;
    DWORD returned = 0;
    os.DeviceIoControl(file, FSCTL_SET_COMPRESSION, &noCompression, sizeof noCompression, nullptr, 0, &returned,
                       nullptr);
}

// Opens the file without data access, which keeps it from being removed
// while the erase method overwrites and deletes it, and asks nothing of its
// sharing. Returns the handle, or INVALID_HANDLE_VALUE.
HANDLE HoldOpen(const std::wstring& path)
{
    return os.CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                          OPEN_EXISTING, 0, nullptr);
}

// Creates the filler "_wipe_<name>.tmp" holding `data`. Returns true when it
// was created and written in full; a created filler joins the set either way.
bool AddFiller(WipeSet& set, const std::wstring& name, const std::vector<uint8_t>& data)
{
    std::wstring path = WipeFilePath(set.folder, name);
    FileHandle file(os.CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!file.IsValid()) return false;
    set.spare.push_back(std::move(path));
    DWORD written = 0;
    const DWORD size = static_cast<DWORD>(data.size());
    return os.WriteFile(file.Get(), data.data(), size, &written, nullptr) && written == size;
}

// Deletes the file at `path`. Returns true when it is gone: deleted now, or
// no longer there (the erase method deletes a wipe file it has finished).
bool DeleteHidden(const std::wstring& path)
{
    return os.DeleteFileW(path.c_str()) || os.GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}

// Deletes the spare files, keeping in the set those still there.
void DeleteSpareFiles(WipeSet& set)
{
    std::erase_if(set.spare, DeleteHidden);
}

// Creates fillers until one fails, the free space falls by more than `drop`
// from `atStart`, or the limit is reached. Returns false when stopped.
bool CreateFillers(WipeSet& set, uint64_t atStart, uint64_t drop, const std::vector<uint8_t>& data)
{
    for (uint64_t now = atStart; now + drop >= atStart && set.spare.size() < kMostFillers;) {
        if (stopRequested.load()) return false;
        std::wstring name;
        if (!DrawRandomName(name) || !AddFiller(set, name, data) || !AvailableSpace(set.folder, now)) return true;
    }
    return true;
}

}  // namespace

WipeSet::~WipeSet()
{
    DeleteWipeSet(*this);
}

bool DeleteWipeSet(WipeSet& set)
{
    DeleteSpareFiles(set);
    for (const std::unique_ptr<WipeFile>& file : set.files) file->hold.Reset();
    std::erase_if(set.files, [](const std::unique_ptr<WipeFile>& file) { return DeleteHidden(file->path); });
    return set.files.empty() && set.spare.empty();
}

bool AvailableSpace(const std::wstring& folder, uint64_t& bytes, uint64_t* volumeFree)
{
    ULARGE_INTEGER available{}, free{};
    if (!os.GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, volumeFree != nullptr ? &free : nullptr)) return false;
    bytes = available.QuadPart;
    if (volumeFree != nullptr) *volumeFree = free.QuadPart;
    return true;
}

size_t RemoveEarlierWipeFiles(const std::wstring& folder, uint64_t& bytes)
{
    bytes = 0;
    size_t removed = 0;
    WIN32_FIND_DATAW entry;
    const std::wstring pattern = WipeFilePath(folder, L"????????????????");
    HANDLE found = os.FindFirstFileW(pattern.c_str(), &entry);
    if (found == INVALID_HANDLE_VALUE) return 0;
    do {
        std::wstring name = entry.cFileName;
        const bool ours = name.size() == 26 && IsRandomName(name.substr(6, kRandomNameLength)) &&
                          (entry.dwFileAttributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY |
                                                     FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_HIDDEN;
        if (ours && os.DeleteFileW(WipeFilePath(folder, name.substr(6, kRandomNameLength)).c_str())) {
            ++removed;
            bytes += (uint64_t{entry.nFileSizeHigh} << 32) | entry.nFileSizeLow;
        }
    } while (os.FindNextFileW(found, &entry));
    os.FindClose(found);
    return removed;
}

AddResult AddWipeFile(WipeSet& set, const std::wstring& name, uint64_t size, uint64_t floor)
{
    auto file = std::make_unique<WipeFile>();
    file->path = WipeFilePath(set.folder, name);
    FileHandle created(os.CreateFileW(file->path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!created.IsValid()) return AddResult::NotCreated;
    DisableCompression(created.Get());
    file->length = ReserveSpace(created.Get(), size, floor);
    created.Reset();
    if (file->length == 0) {
        if (!DeleteHidden(file->path)) set.spare.push_back(file->path);
        return AddResult::NoSpace;
    }
    // Without the hold the wipe still runs; only a later file may then
    // land on clusters this one has freed, on volumes that give a file its
    // clusters only as it is written.
    file->hold.Reset(HoldOpen(file->path));
    set.files.push_back(std::move(file));
    return AddResult::Added;
}

uint64_t TotalLength(const WipeSet& set)
{
    uint64_t total = 0;
    for (const std::unique_ptr<WipeFile>& file : set.files) total += file->length;
    return total;
}

bool FillFreeFileRecords(WipeSet& set, uint64_t drop, size_t& fillers)
{
    uint64_t atStart = 0;
    std::vector<uint8_t> data(kFillerSize);
    fillers = 0;
    if (!AvailableSpace(set.folder, atStart) ||
        !BCRYPT_SUCCESS(os.BCryptGenRandom(nullptr, data.data(), kFillerSize, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
        return true;
    }
    const size_t spareBefore = set.spare.size();
    const bool finished = CreateFillers(set, atStart, drop, data);
    fillers = set.spare.size() - spareBefore;
    DeleteSpareFiles(set);
    return finished;
}
