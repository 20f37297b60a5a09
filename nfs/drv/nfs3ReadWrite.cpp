// The version 3 driver's read and write entries: requests cut at cache-line boundaries and
// moved line by line through the device's cache (nfsDrvTransfer.h).
#include "drv/nfs3DrvEntries.h"
#include "drv/nfsDrvTransfer.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelStat.h>

#include <algorithm>
#include <cstdint>

namespace {

bool pastLargestPosition(uint64_t pos, int count)
{
    if (pos + static_cast<uint64_t>(count) >= pos)
        return false;
    errnoSet(NFS_ERRNO_BASE | NFS3ERR_FBIG);
    return true;
}

} // namespace

extern "C" {

int nfs3Read(NfsOpenFile *file, char *buf, int count)
{
    if (count < 0) {
        errnoSet(NFS_DRV_ERR_BAD_BYTE_COUNT);
        return -1;
    }
    if (count == 0)
        return 0;
    if (file->accessMode == K_O_WRONLY) {
        errnoSet(NFS_DRV_ERR_READ_WRITE_ONLY);
        return -1;
    }
    const nfs3drv::FileLock lock(file);
    if (!lock.held() || nfsdrv::pendingReported(file) || pastLargestPosition(file->pos, count))
        return -1;
    return nfsdrv::readThroughCache(file, buf, count, 3);
}

int nfs3Write(NfsOpenFile *file, const char *buf, int count)
{
    if (count < 0) {
        errnoSet(NFS_DRV_ERR_BAD_BYTE_COUNT);
        return -1;
    }
    if (file->accessMode == K_O_RDONLY) {
        errnoSet(NFS_DRV_ERR_WRITE_READ_ONLY);
        return -1;
    }
    const nfs3drv::FileLock lock(file);
    if (!lock.held() || nfsdrv::pendingReported(file) || pastLargestPosition(file->pos, count))
        return -1;
    return nfsdrv::writeThroughCache(file, buf, count, 3, [](NfsOpenFile *f) {
        f->attr.size = std::max(f->attr.size, f->pos);
    });
}

} // extern "C"
