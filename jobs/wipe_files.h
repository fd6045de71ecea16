// The hidden files of a free-space wipe: the wipe files that take the free
// space, and the small filler files that take the free file records.
#pragma once

#include "engine/os_handle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One wipe file with its length. `hold` is a handle without data access: it
// keeps the file and its clusters after the erase method has deleted it, so
// that no later file lands on them, until the set lets go.
struct WipeFile {
    std::wstring path;
    uint64_t length = 0;
    FileHandle hold;
};

// Every hidden file a wipe made in one folder: the wipe files, and `spare`
// ones that take no space the wipe counts on (fillers, and a wipe file that
// got no length but could not be deleted at once). The set owns them: when
// it ends it deletes every file that is still there.
struct WipeSet {
    explicit WipeSet(std::wstring wipeFolder) : folder(std::move(wipeFolder)) {}
    ~WipeSet();
    WipeSet(const WipeSet&) = delete;
    WipeSet& operator=(const WipeSet&) = delete;

    std::wstring folder;
    std::vector<std::unique_ptr<WipeFile>> files;
    std::vector<std::wstring> spare;
};

// Lets go of the holds and deletes every file of the set, keeping in it only
// those still there. Returns true when none is left.
bool DeleteWipeSet(WipeSet& set);

enum class AddResult { Added, NotCreated, NoSpace };

// Returns true with `bytes` set to the space available to this user on the
// volume of `folder`, and `volumeFree`, when given, to the volume's free
// space, more than `bytes` where a quota limits the user; false when it
// cannot be read.
bool AvailableSpace(const std::wstring& folder, uint64_t& bytes, uint64_t* volumeFree = nullptr);

// Deletes the wipe and filler files that an earlier wipe, cut off by a
// crash, a power cut or the process being killed, left in `folder`: hidden
// files named "_wipe_", 16 letters and digits and ".tmp", and nothing else.
// Returns how many it deleted, with `bytes` set to what they held.
size_t RemoveEarlierWipeFiles(const std::wstring& folder, uint64_t& bytes);

// Creates the hidden wipe file "_wipe_<name>.tmp" in the set's folder and
// gives it `size` bytes, or nine tenths of that and so on, but never `floor`
// or less, without writing data; a stop request ends the attempts. Returns
// Added with the file last in the set; otherwise NotCreated or NoSpace, and
// nothing is left of it.
AddResult AddWipeFile(WipeSet& set, const std::wstring& name, uint64_t size, uint64_t floor);

// Returns the sum of the lengths of the set's wipe files.
uint64_t TotalLength(const WipeSet& set);

// Creates hidden filler files of random data, each small enough to live
// inside a file record, until one cannot be created or written or the free
// space has fallen by more than `drop` since the start (the volume had to
// make room for further records, or is one that stores even small files in
// clusters), then deletes them. Returns false when a stop request ended it;
// `fillers` is set to how many it made.
bool FillFreeFileRecords(WipeSet& set, uint64_t drop, size_t& fillers);
