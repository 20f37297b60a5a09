// Repositioning an open version 3 file: the dirty line this file leaves is written back first.
#include "drv/nfs3DrvEntries.h"

#include "core/nfsCacheFile.h"

#include <brisnel/nfsCacheLib.h>

extern "C" int nfs3Seek(NfsOpenFile *file, uint64_t newPos)
{
    NfsDataCache *cache = file->pCache;
    if (nfscache::hasLines(cache)) {
        // The cache's own lock keeps other files' transfers off the line while it is examined.
        const nfscache::CacheLock lock(cache);
        if (!lock.held())
            return -1;
        const uint64_t id = file->attr.fileid;
        const uint32_t from = nfsWhichCacheLine(cache, id, file->pos);
        NfsCacheLine *line = &cache->pLines[from];
        if (from != nfsWhichCacheLine(cache, id, newPos) && line->fileId == id &&
            line->pOwner == file && (line->flags & NFS_CACHE_DIRTY) != 0 &&
            nfsCacheLineFlush(line, 3) == -1)
            return -1;
    }
    file->pos = newPos;
    return 0;
}
