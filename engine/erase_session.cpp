#include "engine/erase_session.h"

#include "os/os_seam.h"

namespace {

// The session that serves the calling thread, or null.
thread_local EraseSession* threadSession = nullptr;

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

EraseSession::EraseSession() : outer_(threadSession)
{
    threadSession = this;
}

EraseSession::~EraseSession()
{
    threadSession = outer_;
}

uint32_t ClusterSizeOf(const wchar_t* path)
{
    const std::wstring text = path;
    const size_t separator = text.find_last_of(L"\\/");
    if (threadSession == nullptr || separator == std::wstring::npos) return AskClusterSize(path);
    const std::wstring folder = text.substr(0, separator + 1);
    const auto known = threadSession->sizes_.find(folder);
    if (known != threadSession->sizes_.end()) return known->second;
    const uint32_t size = AskClusterSize(path);
    if (size != 0) threadSession->sizes_.emplace(folder, size);
    return size;
}

void NoteWhereFileIsLeft(const std::wstring& original, const std::wstring& current)
{
    if (threadSession != nullptr) threadSession->leftUnderOtherName = current != original ? current : std::wstring();
}

int64_t ClusterEnd(int64_t size, uint32_t cluster)
{
    if (cluster == 0) return size;
    int64_t remainder = size % cluster;
    if (remainder == 0 || size > INT64_MAX - cluster) return size;
    return size - remainder + cluster;
}
