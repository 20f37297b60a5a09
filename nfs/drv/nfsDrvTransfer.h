// Module-private: the read and write entries' loop, the same for both drivers: a request cut
// at cache-line boundaries and moved line by line through the device's cache, which alone
// talks to the server. The open-file record (either version's) holds pCache, pos and
// pendingErrno; its semaphore is held by the caller.
#ifndef NFS_DRV_NFSDRVTRANSFER_H
#define NFS_DRV_NFSDRVTRANSFER_H

#include "cache/nfsCacheFile.h"
#include "core/nfsResult.h"

#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>

#include <algorithm>
#include <cstdint>
#include <optional>

namespace nfsdrv {

// The most of `left` bytes that stay inside the line holding pos (the cache refuses a line
// size of 0 itself).
inline int pieceAt(uint64_t pos, uint32_t lineSize, int left)
{
    if (lineSize == 0)
        return left;
    const uint32_t room = lineSize - (static_cast<uint32_t>(pos) & (lineSize - 1));
    return static_cast<int>(std::min(static_cast<uint32_t>(left), room));
}

// An error kept from a call that stopped after moving bytes is this call's failure.
template <typename File> nfsres::Status pendingTaken(File *file)
{
    if (file->pendingErrno == 0)
        return {};
    const int error = file->pendingErrno;
    file->pendingErrno = 0;
    return nfsres::Fail{error};
}

// Moves count bytes piece by piece, cut at line boundaries: move(bytes done, piece) moves one
// piece at file->pos, advances it and gives the bytes moved, or its failure. A piece failing
// after bytes have moved makes those the result and keeps its error for the next call (an I/O
// error when it has none of its own); with nothing moved the failure is this call's.
// shortEnds: a short piece ends the request (a read at the end of the data).
template <typename File, typename Move>
nfsres::Result<int> throughCache(File *file, int count, bool shortEnds, Move move)
{
    int done = 0;
    while (done < count) {
        const int piece = pieceAt(file->pos, file->pCache->lineSize, count - done);
        const nfsres::Result<int> moved = move(done, piece);
        if (!moved.ok() && done == 0)
            return moved.fail();
        if (!moved.ok()) {
            file->pendingErrno = moved.error() != 0 ? moved.error() : NFS_ERRNO_BASE | NFSERR_IO;
            break;
        }
        done += moved.value();
        if (shortEnds && moved.value() < piece)
            break;
    }
    return done;
}

// The error of data of the file that was lost on the way to the server (an eviction's failed
// write-back), or 0. The cache's mutex guards the fields that other tasks' evictions write into
// the record; a device without a cache has no such tasks.
template <typename File> int lossRecorded(const File *file)
{
    std::optional<nfscache::CacheLock> hold;
    if (nfscache::hasLines(file->pCache))
        hold.emplace(file->pCache);
    return file->lostErrno;
}

// Repositioning: the lines waiting to go out behind and the dirty line the file leaves are
// written back first, the cache's own lock
// keeping other files' transfers off the line while it is examined. A failed write-back keeps
// the position and the line's data.
template <typename File> nfsres::Status seekFlushed(File *file, uint64_t fileId, int version, uint64_t newPos)
{
    NfsDataCache *cache = file->pCache;
    if (nfscache::hasLines(cache)) {
        const nfscache::CacheLock lock(cache);
        if (!lock.held())
            return nfsres::Fail{0};                  // semTake set the error number
        NFS_TRY(nfscache::behindOut(file, version)); // lines waiting to go out behind
        const uint32_t from = nfsWhichCacheLine(cache, fileId, file->pos);
        NfsCacheLine *line = &cache->pLines[from];
        if (from != nfsWhichCacheLine(cache, fileId, newPos) && line->fileId == fileId &&
            line->pOwner == file && (line->flags & NFS_CACHE_DIRTY) != 0) {
            const nfsres::Result<int> flushed =
                nfsres::viaErrno([line, version] { return nfsCacheLineFlush(line, version); });
            if (!flushed.ok())
                return flushed.fail();
        }
    }
    file->pos = newPos;
    return {};
}

// The close's write-back of the file's dirty lines: the error, or 0. From a failed line on the
// file's unsent lines are dropped, since no record remains to send them through.
template <typename File> int closeWriteBack(File *file, int version)
{
    if (file->pCache->nLines == 0)
        return 0; // the device's cache is gone: nothing of the file can be held
    const nfsres::Result<int> written =
        nfsres::viaErrno([file, version] { return nfsCacheFileFlush(file, 1, version); });
    if (written.ok())
        return 0;
    return written.error() != 0 ? written.error()
                                : NFS_ERRNO_BASE | NFS3ERR_IO; // the same status in version 2
}

} // namespace nfsdrv

#endif
