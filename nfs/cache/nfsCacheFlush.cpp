// Writing cached data back to the server: one line, or every dirty line of one open file.
#include "core/nfsArgs.h"
#include "cache/nfsCacheFile.h"

#include <algorithm>
#include <climits>

namespace nfscache {

Result<int> lineWriteBack(NfsCacheLine *line, int version, Caller caller)
{
    bool unstable = false;
    void *owner = line->pOwner;
    FileView view{};
    NFS_TRY(fileView(owner, version, &view));
    const LineClaim claim(view.cache, line, Busy::sending);
    NFS_TRY(claim.status());
    if (line->pOwner != owner || line->flags == 0)
        return 0; // another task sent it while this one waited for the line
    const Result<int> written =
        serverWrite(owner, version, line->offset, line->nBytes, line->pData, caller, &unstable);
    // A failed line keeps its bytes for a later write-back, or until their loss is recorded;
    // one the server holds in volatile storage only keeps them until a COMMIT covers them.
    if (written.ok()) {
        line->flags = unstable ? NFS_CACHE_PINNED : 0;
        noteSent(view.cache, *line);
    }
    return written;
}

namespace {

Status settle(NfsDataCache *cache, uint64_t fileId, int version, bool drop)
{
    if (!hasLines(cache) || fileId == NFS_CACHE_NO_FILE)
        return {};
    const CacheLock lock(cache);
    if (!lock.held())
        return Fail{0}; // semTake set the error number
    // Every open file holding bytes of this file sends its dirty lines; before a drop it also
    // commits what went out UNSTABLE, so that no line dropped here holds bytes the server may
    // still lose. Once an owner is safe its lines have no flags left, so each is visited once.
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        if (line.fileId != fileId || line.pOwner == nullptr || line.flags == 0)
            continue;
        if (!drop) {
            // A line that fails stays dirty, for a later write-back.
            if ((line.flags & NFS_CACHE_DIRTY) != 0 && line.nBytes != 0)
                NFS_TRY(lineWriteBack(&line, version, Caller::other));
            continue;
        }
        NFS_TRY(fileSafe(line.pOwner, version));
    }
    for (uint32_t i = 0; drop && i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        // A line another task fills meanwhile may bring bytes from before the change.
        if (line.fileId == fileId)
            NFS_TRY(lineFree(cache, line));
        if (line.fileId == fileId && line.flags == 0)
            line.fileId = NFS_CACHE_NO_FILE;
    }
    return {};
}

} // namespace

int fileSettle(NfsDataCache *cache, uint64_t fileId, int version, bool drop)
{
    return nfsres::entry(settle(cache, fileId, version, drop));
}

} // namespace nfscache

namespace {

using nfscache::Fail;
using nfscache::Result;
using nfscache::Status;

Result<int> lineFlush(NfsCacheLine *line, int version)
{
    void *owner = line->pOwner;
    if (owner == nullptr)
        return 0;
    nfscache::FileView view{};
    NFS_TRY(nfscache::fileView(owner, version, &view));
    const nfscache::CacheLock lock(view.cache);
    if (!lock.held())
        return Fail{0}; // semTake set the error number
    return nfscache::lineWriteBack(line, version, nfscache::Caller::owner);
}

Result<int> fileFlush(void *file, bool release, int version)
{
    nfscache::FileView view{};
    NFS_TRY(nfscache::fileView(file, version, &view));
    NfsDataCache *cache = view.cache;
    const nfscache::CacheLock lock(cache);
    if (!lock.held() || !nfscache::hasLines(cache))
        return Fail{0};
    int64_t total = 0;
    Status failed;
    for (uint32_t i = 0; i < cache->nLines; ++i) {
        NfsCacheLine &line = cache->pLines[i];
        if (line.pOwner != file)
            continue;
        // A line of the file that another task moves is waited for; releasing, however long
        // its calls take, since the record is about to go.
        NFS_TRY(nfscache::lineFree(cache, line, release));
        if (line.pOwner != file)
            continue;
        if ((line.flags & NFS_CACHE_DIRTY) != 0 && line.nBytes != 0) {
            if (!failed.ok()) {
                line.flags = 0; // nobody is left to send it, and it must not go out later
            } else {
                const Result<int> written = nfscache::lineWriteBack(&line, version, nfscache::Caller::owner);
                if (!written.ok() && !release)
                    return written; // this line stays dirty; later lines are not visited
                // Releasing: this line and the file's later dirty lines are dropped, not tried.
                failed = nfsres::statusOf(written);
                if (!failed.ok())
                    line.flags = 0;
                total += written.ok() ? written.value() : 0;
            }
        }
        // Releasing: no line keeps a pointer to a file about to go, except the pinned ones,
        // which its COMMIT may send again; the close drops them after it.
        if (release && (line.flags & NFS_CACHE_PINNED) == 0)
            line.pOwner = nullptr;
    }
    NFS_TRY(failed);
    return total > INT_MAX ? INT_MAX : static_cast<int>(total);
}

} // namespace

extern "C" {

// The caller may hold the line's cache mutex (a seek); it is taken here again, since it is
// recursive, and given up whole while the line goes out.
int nfsCacheLineFlush(NfsCacheLine *line, int version)
{
    if (!nfsArgsGiven(line))
        return -1;
    return nfsres::entry(lineFlush(line, version));
}

int nfsCacheFileFlush(void *file, int release, int version)
{
    if (!nfsArgsGiven(file))
        return -1;
    return nfsres::entry(fileFlush(file, release != 0, version));
}
}
