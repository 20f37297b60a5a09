// Reading file data through the cache: a hit copies from the line, a miss fills the line from
// the server with one read-slot call first.
#include "core/nfsCacheFile.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstring>

extern "C" int nfsCacheLineRead(void *file, uint64_t offset, char *buf, int n, int version)
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
    const uint32_t inLine = static_cast<uint32_t>(offset) & (cache->lineSize - 1);
    if (n < 0 || static_cast<uint32_t>(n) > cache->lineSize - inLine) {
        errnoSet(K_EINVAL); // the callers never cross a line boundary
        return -1;
    }
    const uint64_t start = offset - inLine;
    NfsCacheLine *line = &cache->pLines[nfsWhichCacheLine(cache, view.fileId, offset)];

    const bool hit = nfscache::holds(*line, view.fileId, start) &&
                     line->nBytes >= inLine + static_cast<uint32_t>(n);
    if (!hit) {
        if (!nfscache::evict(line, file, version) ||
            !nfscache::fill(line, cache->lineSize, file, version, start))
            return -1;
        line->fileId = view.fileId;
        line->offset = start;
        line->pOwner = file;
    }
    if (line->nBytes < inLine)
        return -1; // past the end of the file's data
    const uint32_t result = std::min(line->nBytes - inLine, static_cast<uint32_t>(n));
    std::memcpy(buf, line->pData + inLine, result);
    return static_cast<int>(result);
}
