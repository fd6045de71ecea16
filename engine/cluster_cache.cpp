#include "engine/cluster_cache.h"

#include "os/os_seam.h"

namespace {

// The cache that serves the calling thread, or null.
thread_local ClusterSizeCache* threadCache = nullptr;

// Returns the cluster size of the volume that holds `path`, asked of the
// system, or 0 when unknown.
uint32_t AskClusterSize(const wchar_t* path)
{
    wchar_t volume[MAX_PATH] = {};
    if (!os.GetVolumePathNameW(path, volume, MAX_PATH)) return 0;
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
    if (!os.GetDiskFreeSpaceW(volume, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters)) return 0;
    return static_cast<uint32_t>(sectorsPerCluster * bytesPerSector);
}

}  // namespace

ClusterSizeCache::ClusterSizeCache() : outer_(threadCache)
{
    threadCache = this;
}

ClusterSizeCache::~ClusterSizeCache()
{
    threadCache = outer_;
}

uint32_t ClusterSizeOf(const wchar_t* path)
{
    const std::wstring text = path;
    const size_t separator = text.find_last_of(L"\\/");
    if (threadCache == nullptr || separator == std::wstring::npos) return AskClusterSize(path);
    const std::wstring folder = text.substr(0, separator + 1);
    const auto known = threadCache->sizes_.find(folder);
    if (known != threadCache->sizes_.end()) return known->second;
    const uint32_t size = AskClusterSize(path);
    if (size != 0) threadCache->sizes_.emplace(folder, size);
    return size;
}
