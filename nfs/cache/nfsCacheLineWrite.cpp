// Writing file data through the cache: the bytes land in the file's line, which goes to the
// server when it is full (write-back) or at once (write-through).
#include "core/nfsArgs.h"
#include "cache/nfsCacheFile.h"

#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstring>

namespace {

using nfscache::Result;
using nfscache::Status;

// Makes the line hold the block at `start` of the file, keeping the server's bytes around a
// write that covers only part of it.
Status claim(NfsDataCache *cache, NfsCacheLine *line, void *file, int version, const nfscache::FileView &view,
             uint64_t start, uint32_t n)
{
    if (nfscache::holds(*line, view, start))
        return {};
    NFS_TRY(nfscache::evict(line, file, version));
    if (n != cache->lineSize)
        NFS_TRY(nfscache::fill(line, cache->lineSize, file, version, start));
    nfscache::keyed(line, view);
    line->offset = start;
    return {};
}

// The write into its line, claimed for it: the line is this task's while its bytes change and
// travel, so that no WRITE ever carries a torn line (a line another task fills or sends is
// waited for). A contended failure when making the line ready needed a line this task may not
// wait for: nothing was written into the line yet.
Result<int> claimedWrite(void *file, const nfscache::LineAccess &at, uint64_t offset, const char *buf,
                         uint32_t count, int version)
{
    NfsDataCache *cache = at.view.cache;
    NfsCacheLine *line = at.line;
    const nfscache::LineClaim held(cache, line, nfscache::Busy::filling);
    NFS_TRY(held.status());
    // The block's bytes are its own line's alone: a copy read into the alternate goes, and none
    // is read there while this task holds the line.
    NFS_TRY(nfscache::altDropped(at.view, *line, at.start));
    NFS_TRY(claim(cache, line, file, version, at.view, at.start, count));

    line->pOwner = file;
    std::memcpy(line->pData + at.inLine, buf, count);
    line->nBytes = std::max(line->nBytes, at.inLine + count);
    line->flags |= NFS_CACHE_DIRTY;

    if ((cache->options & NFS_CACHE_WRITE_THROUGH) == 0) {
        // A full line that could not be sent stays dirty: it also holds bytes that earlier
        // writes were told had been taken, and a later write-back sends them all.
        if (line->nBytes == cache->lineSize)
            NFS_TRY(nfscache::fullLineOut(line, file, version, at.view));
        return static_cast<int>(count);
    }
    bool unstable = false;
    const Result<int> sent =
        nfscache::serverWrite(file, version, offset, count, buf, nfscache::Caller::owner, &unstable);
    NFS_TRY(sent);
    // Bytes the server holds in volatile storage only keep the line pinned until a COMMIT: the
    // line holds them among the rest of its bytes, all of which go out again if need be.
    if (sent.value() > 0) {
        line->flags =
            (line->flags & ~static_cast<uint32_t>(NFS_CACHE_DIRTY)) | (unstable ? NFS_CACHE_PINNED : 0U);
        nfscache::noteSent(cache, *line);
    }
    return static_cast<int>(count);
}

Result<int> lineWrite(void *file, uint64_t offset, const char *buf, int n, int version)
{
    const nfscache::LineAccess at(file, version, offset, n);
    if (!at.ready())
        return at.failure;
    // Nothing to write: no line is claimed, so none is left dirty without bytes to send.
    if (n == 0)
        return 0;
    // Lines waiting to go out behind go first, unless this write continues after them.
    NFS_TRY(nfscache::behindOut(file, version, at.start, true));
    for (int tries = 0;; ++tries) {
        const Result<int> written = claimedWrite(file, at, offset, buf, static_cast<uint32_t>(n), version);
        nfscache::Status outcome = nfsres::statusOf(written);
        if (!nfscache::backedOff(at.view.cache, &outcome, tries))
            return outcome.ok() ? written : Result<int>{outcome.fail()};
    }
}

} // namespace

extern "C" int nfsCacheLineWrite(void *file, uint64_t offset, const char *buf, int n, int version)
{
    if (!nfsArgsGiven(file, buf))
        return -1;
    return nfsres::entry(lineWrite(file, offset, buf, n, version));
}
