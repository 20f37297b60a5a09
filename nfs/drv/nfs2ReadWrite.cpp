// The version 2 driver's read and write entries: the loop of version 3 (nfsDrvTransfer.h)
// with protocol version 2 passed to the cache. The protocol's positions are 32-bit: a request
// reaching past 4 GiB fails before anything moves, rather than wrap to the file's start.
#include "drv/nfs2DrvEntries.h"
#include "drv/nfsDrvTransfer.h"
#include "ops/nfs2Call.h"

#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelStat.h>

#include <cstdint>

extern "C" {

int nfs2Read(Nfs2OpenFile *file, char *buf, int count)
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
    const nfs2drv::FileLock lock(file);
    if (!lock.held() || nfsdrv::pendingReported(file) ||
        !nfs2ops::withinReach(file->pos, static_cast<uint64_t>(count)))
        return -1;
    return nfsdrv::readThroughCache(file, buf, count, 2);
}

int nfs2Write(Nfs2OpenFile *file, const char *buf, int count)
{
    if (count < 0) {
        errnoSet(NFS_DRV_ERR_BAD_BYTE_COUNT);
        return -1;
    }
    if (file->accessMode == K_O_RDONLY) {
        errnoSet(NFS_DRV_ERR_WRITE_READ_ONLY);
        return -1;
    }
    const nfs2drv::FileLock lock(file);
    if (!lock.held() || nfsdrv::pendingReported(file) ||
        !nfs2ops::withinReach(file->pos, static_cast<uint64_t>(count)))
        return -1;
    // The size is 32-bit; positions stay below 4 GiB here.
    return nfsdrv::writeThroughCache(file, buf, count, 2, [](Nfs2OpenFile *f) {
        if (f->pos > f->attr.size)
            f->attr.size = static_cast<u_int>(f->pos);
    });
}

} // extern "C"
