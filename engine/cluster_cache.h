// The cluster size of the volume that holds a file, asked of the system once
// per folder while a job holds a cache, rather than once per file.
#pragma once

#include <cstdint>
#include <map>
#include <string>

// A non-copyable cache of cluster sizes by folder that serves the thread it
// was made on until it goes. All files directly in one folder lie on that
// folder's volume, so an answer is only ever reused for the folder it was
// asked for: one volume's answer cannot reach another's files. Failed
// questions are not kept; they are asked again.
class ClusterSizeCache {
public:
    ClusterSizeCache();
    ~ClusterSizeCache();
    ClusterSizeCache(const ClusterSizeCache&) = delete;
    ClusterSizeCache& operator=(const ClusterSizeCache&) = delete;

private:
    friend uint32_t ClusterSizeOf(const wchar_t* path);
    ClusterSizeCache* outer_;                  // the cache it stands in for, if any
    std::map<std::wstring, uint32_t> sizes_;   // by folder, with its trailing separator
};

// Returns the cluster size of the volume that holds `path`, or 0 when it
// cannot be told; from the calling thread's cache when it knows the folder.
uint32_t ClusterSizeOf(const wchar_t* path);
