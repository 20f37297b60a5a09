// Writing cached data back to the server: one line, or every dirty line of one open file.
#include "core/nfsArgs.h"
#include "cache/nfsCacheFile.h"

#include <kernel/errnoLib.h>

#include <algorithm>
#include <climits>

namespace nfscache {

int lineWriteBack(NfsCacheLine *line, int version, Caller caller)
{
    bool unstable = false;
    void *owner = line->pOwner;
    FileView view{};
    if (!fileView(owner, version, &view))
        return -1;
    const LineClaim claim(view.cache, line, Busy::sending);
    if (!claim.held())
        return -1;
    if (line->pOwner != owner || line->flags == 0)
        return 0; // another task sent it while this one waited for the line
    const int result = serverWrite(owner, version, line->offset, line->nBytes, line->pData, caller, &unstable);
    // A failed line keeps its bytes for a later write-back, or until their loss is recorded;
    // one the server holds in volatile storage only keeps them until a COMMIT covers them.
    if (result != -1) {
        line->flags = unstable ? NFS_CACHE_PINNED : 0;
        noteSent(view.cache, *line);
    }
    return result;
}

int fileSettle(NfsDataCache *cache, uint64_t fileId, int version, bool drop)
{
    if (!hasLines(cache) || fileId == NFS_CACHE_NO_FILE)
        return 0;
    const CacheLock lock(cache);
    if (!lock.held())
        return -1;
    // Every open file holding bytes of this file sends its dirty lines; before a drop it also
    // commits what went out UNSTABLE, so that no line dropped here holds bytes the server may
    // still lose. Once an owner is safe its lines have no flags left, so each is visited once.
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        if (line.fileId != fileId || line.pOwner == nullptr || line.flags == 0)
            continue;
        if (!drop) {
            if ((line.flags & NFS_CACHE_DIRTY) != 0 && line.nBytes != 0 &&
                lineWriteBack(&line, version, Caller::other) == -1)
                return -1; // the line stays dirty, for a later write-back
            continue;
        }
        const int error = fileSafe(line.pOwner, version);
        if (error != 0) {
            errnoSet(error);
            return -1;
        }
    }
    if (drop) {
        for (uint32_t i = 0; i < cache->nLines; ++i) {
            NfsCacheLine &line = cache->pLines[i];
            // A line another task fills meanwhile may bring bytes from before the change.
            if (line.fileId == fileId && !lineFree(cache, line))
                return -1;
            if (line.fileId == fileId && line.flags == 0)
                line.fileId = NFS_CACHE_NO_FILE;
        }
    }
    return 0;
}

} // namespace nfscache

extern "C" {

// The caller may hold the line's cache mutex (a seek); it is taken here again, since it is
// recursive, and given up whole while the line goes out.
int nfsCacheLineFlush(NfsCacheLine *line, int version)
{
    if (!nfsArgsGiven(line))
        return -1;
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
    if (!nfsArgsGiven(file))
        return -1;
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
        // A line of the file that another task moves is waited for; releasing, however long
        // its calls take, since the record is about to go.
        if (!nfscache::lineFree(cache, line, release != 0))
            return -1;
        if (line.pOwner != file)
            continue;
        if ((line.flags & NFS_CACHE_DIRTY) != 0 && line.nBytes != 0) {
            if (failed) {
                line.flags = 0; // nobody is left to send it, and it must not go out later
            } else {
                const int written = nfscache::lineWriteBack(&line, version, nfscache::Caller::owner);
                if (written == -1 && release == 0)
                    return -1; // this line stays dirty; later lines are not visited
                // Releasing: this line and the file's later dirty lines are dropped, not tried.
                failed = written == -1;
                if (failed)
                    line.flags = 0;
                total += std::max(written, 0);
            }
        }
        // Releasing: no line keeps a pointer to a file about to go, except the pinned ones,
        // which its COMMIT may send again; the close drops them after it.
        if (release != 0 && (line.flags & NFS_CACHE_PINNED) == 0)
            line.pOwner = nullptr;
    }
    if (failed)
        return -1;
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}
}
