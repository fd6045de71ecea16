// What the erases of one job share on the job's thread: the cluster size of
// each folder's volume, asked of the system once per folder rather than once
// per file, and where the last erase left a file it did not delete.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// A non-copyable session that serves the thread it was made on until it
// goes. All files directly in one folder lie on that folder's volume, so a
// cluster size is only ever reused for the folder it was asked for: one
// volume's answer cannot reach another's files. Failed questions are not
// kept; they are asked again.
class EraseSession {
public:
    EraseSession();
    ~EraseSession();
    EraseSession(const EraseSession&) = delete;
    EraseSession& operator=(const EraseSession&) = delete;

    // Where the last erase on this thread left its file under a name the user
    // did not give it (verbatim form), or empty when it left none there.
    std::wstring leftUnderOtherName;

private:
    friend uint32_t ClusterSizeOf(const wchar_t* path);
    friend void NoteWhereFileIsLeft(const std::wstring& original, const std::wstring& current);
    EraseSession* outer_;                      // the session it stands in for, if any
    std::map<std::wstring, uint32_t> sizes_;   // by folder, with its trailing separator
};

// Returns the cluster size of the volume that holds `path`, or 0 when it
// cannot be told; from the calling thread's session when it knows the folder.
uint32_t ClusterSizeOf(const wchar_t* path);

// Returns the end of the last cluster of a file of `size` bytes, or `size`
// when the cluster size is unknown (0), the file already ends on a cluster
// boundary, or the end would not fit in 64 bits.
int64_t ClusterEnd(int64_t size, uint32_t cluster);

// Tells the calling thread's session, if any, that the erase that ends now
// leaves its file given as `original` at `current` (empty: gone). Returns
// nothing.
void NoteWhereFileIsLeft(const std::wstring& original, const std::wstring& current);
