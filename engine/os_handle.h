// Holders that give back what the engine takes from the system through the
// seam: a handle closed by the seam's release function, and an aligned block.
#pragma once

#include "os/os_seam.h"

#include <cstddef>

// A non-copyable owner of one handle; "empty" is INVALID_HANDLE_VALUE.
template <BOOL(WINAPI* OsCalls::*Release)(HANDLE)>
class OsHandle {
public:
    explicit OsHandle(HANDLE handle = INVALID_HANDLE_VALUE) : handle_(handle) {}
    ~OsHandle() { Reset(); }
    OsHandle(const OsHandle&) = delete;
    OsHandle& operator=(const OsHandle&) = delete;

    // Returns the held handle (INVALID_HANDLE_VALUE when empty).
    HANDLE Get() const { return handle_; }
    // Returns true when a handle is held.
    bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }
    // Releases the held handle, if any, and holds `handle` instead.
    void Reset(HANDLE handle = INVALID_HANDLE_VALUE)
    {
        if (handle_ != INVALID_HANDLE_VALUE) (os.*Release)(handle_);
        handle_ = handle;
    }

private:
    HANDLE handle_;
};

using FileHandle = OsHandle<&OsCalls::CloseHandle>;

// A non-copyable owner of one block from os.AlignedAlloc; may hold null.
class AlignedBlock {
public:
    AlignedBlock(size_t size, size_t alignment) : block_(os.AlignedAlloc(size, alignment)) {}
    ~AlignedBlock()
    {
        if (block_ != nullptr) os.AlignedFree(block_);
    }
    AlignedBlock(const AlignedBlock&) = delete;
    AlignedBlock& operator=(const AlignedBlock&) = delete;

    // Returns the block as bytes, or null when the allocation failed.
    unsigned char* Bytes() const { return static_cast<unsigned char*>(block_); }

private:
    void* block_;
};
