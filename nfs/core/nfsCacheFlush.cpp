// Writing cached data back to the server: one line, or every dirty line of one open file.
#include "core/nfsCacheFile.h"

#include <climits>

namespace nfscache {

int lineWriteBack(NfsCacheLine *line, int version, Caller caller)
{
    const int result = serverWrite(line->pOwner, version, line->offset, line->nBytes, line->pData, caller);
    // A failed line keeps its bytes for a later write-back, or until their loss is recorded.
    if (result != -1)
        line->flags = 0;
    return result;
}

int fileSettle(NfsDataCache *cache, const void *file, uint64_t fileId, int version, bool drop)
{
    if (!hasLines(cache))
        return 0;
    const CacheLock lock(cache);
    if (!lock.held())
        return -1;
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        if (line.fileId != fileId || fileId == NFS_CACHE_NO_FILE)
            continue;
        if ((line.flags & NFS_CACHE_DIRTY) != 0 && line.nBytes != 0 && line.pOwner != nullptr &&
            lineWriteBack(&line, version, line.pOwner == file ? Caller::owner : Caller::other) == -1)
            return -1;
        if (drop)
            line.fileId = NFS_CACHE_NO_FILE;
    }
    return 0;
}

} // namespace nfscache

extern "C" {

// The caller holds the line's cache mutex (read, write, seek); the owner's cache mutex is
// taken here as well, since it is recursive.
int nfsCacheLineFlush(NfsCacheLine *line, int version)
{
    void *owner = line->pOwner;
    if (owner == nullptr)
        return 0;
    nfscache::FileView view{};
    if (!nfscache::fileView(owner, version, &view))
        return -1;
    nfscache::CacheLock lock(view.cache);
    if (!lock.held())
        return -1;
    return nfscache::lineWriteBack(line, version, nfscache::Caller::owner);
}

int nfsCacheFileFlush(void *file, int release, int version)
{
    nfscache::FileView view{};
    if (!nfscache::fileView(file, version, &view))
        return -1;
    NfsDataCache *cache = view.cache;
    nfscache::CacheLock lock(cache);
    if (!lock.held())
        return -1;
    if (!nfscache::hasLines(cache))
        return -1;
    int64_t total = 0;
    bool failed = false;
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        if (line.pOwner != file)
            continue;
        // Releasing: no line, clean or dirty, keeps a pointer to a file about to go.
        if (release != 0)
            line.pOwner = nullptr;
        if ((line.flags & NFS_CACHE_DIRTY) == 0 || line.nBytes == 0)
            continue;
        if (failed) {
            line.flags = 0; // nobody is left to send it, and it must not go out later
            continue;
        }
        const int written = nfscache::serverWrite(file, version, line.offset, line.nBytes, line.pData);
        if (written == -1) {
            if (release == 0)
                return -1; // this line stays dirty; later lines are not visited
            // Releasing: this line and the file's later dirty lines are dropped, not tried.
            failed = true;
            line.flags = 0;
            continue;
        }
        line.flags = 0;
        total += written;
    }
    if (failed)
        return -1;
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

}
