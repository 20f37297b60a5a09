// Finding, under the cache's mutex, the line a read or write of an open file falls in.
#include "cache/nfsCacheFile.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

namespace nfscache {

LineAccess::LineAccess(void *file, int version, uint64_t offset, int n)
{
    if (const Status viewed = fileView(file, version, &view); !viewed.ok()) {
        failure = viewed.fail();
        return;
    }
    NfsDataCache *cache = view.cache;
    lock_.emplace(cache);
    if (!lock_->held() || !hasLines(cache))
        return;
    inLine = static_cast<uint32_t>(offset) & (cache->lineSize - 1);
    if (n < 0 || static_cast<uint32_t>(n) > cache->lineSize - inLine) {
        failure = Fail{K_EINVAL};
        return;
    }
    start = offset - inLine;
    line = &cache->pLines[nfsWhichCacheLine(cache, view.fileId, offset)];
}

NfsCacheLine *alternateLine(const NfsDataCache *cache, const NfsCacheLine &own)
{
    if (cache->nLines < 2)
        return nullptr;
    const auto index = static_cast<uint32_t>(&own - cache->pLines);
    return &cache->pLines[(index + cache->nLines / 2) % cache->nLines];
}

Status altDropped(const FileView &view, const NfsCacheLine &own, uint64_t start)
{
    NfsCacheLine *alt = alternateLine(view.cache, own);
    if (alt == nullptr || !holds(*alt, view, start))
        return {};
    NFS_TRY(lineFree(view.cache, *alt));
    if (holds(*alt, view, start))
        forget(alt);
    return {};
}

} // namespace nfscache
