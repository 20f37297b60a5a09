// The version 2 driver's ioctl entry, and its seek. The codes are those of version 3 less
// the ones version 2 cannot serve (removal by path, the 64-bit position codes, path
// configuration): those fail with 71 like any unknown code.
#include "core/nfsCacheFile.h"
#include "drv/nfs2DrvEntries.h"
#include "drv/nfsDrvTransfer.h"

#include <brisnel/nfs2Ops.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <climits>
#include <cstdint>

namespace {

int failWith(int error)
{
    errnoSet(error);
    return -1;
}

template <typename T> T *argAs(intptr_t arg)
{
    return reinterpret_cast<T *>(arg);
}

// The bytes between the position and the end; 0 at or past the end, INT_MAX when more.
int unreadBytes(const Nfs2OpenFile *file)
{
    if (file->pos >= file->attr.size)
        return 0;
    const uint64_t left = file->attr.size - file->pos;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// The write-back goes first, so that what the cache holds is sent whatever was lost before.
int sync(Nfs2OpenFile *file)
{
    const int flushed = nfsCacheFileFlush(file, 0, 2);
    const int lost = nfsdrv::lossRecorded(file);
    return lost != 0 ? failWith(lost) : flushed;
}

bool needsObject(int function)
{
    switch (function) {
    case K_FIONREAD:
    case K_FIORENAME:
    case K_FIOREADDIR:
    case K_FIOGETFL:
    case K_FIOFSTATFSGET:
    case K_FIOFSTATGET:
        return true;
    default:
        return false;
    }
}

int serve(Nfs2OpenFile *file, int function, intptr_t arg)
{
    Nfs2Device *dev = file->pDev;
    switch (function) {
    case K_FIONREAD:
        *argAs<int>(arg) = unreadBytes(file);
        return 0;
    case K_FIOSEEK:
        // Positions are unsigned: a negative one is refused rather than taken near 2^64.
        return arg < 0 ? failWith(K_EINVAL) : nfs2drv::seek(file, static_cast<uint64_t>(arg));
    case K_FIOWHERE:
        return static_cast<int>(static_cast<uint32_t>(file->pos));
    case K_FIORENAME:
        return nfs2Rename(dev->host, &dev->mountFh, file->name, &file->dirFh, argAs<const char>(arg));
    case K_FIOSYNC:
        return sync(file);
    case K_FIOREADDIR:
        return nfs2DirReadOne(file, argAs<KDIR>(arg));
    case K_FIOGETFL:
        *argAs<int>(arg) = file->accessMode;
        return 0;
    case K_FIOFSTATFSGET:
        return nfs2FsAttrGet(dev->host, &file->fh, argAs<struct kstatfs>(arg));
    case K_FIOFSTATGET:
        nfs2FileAttrGet(&file->attr, argAs<struct kstat>(arg));
        argAs<struct kstat>(arg)->st_dev = reinterpret_cast<intptr_t>(dev);
        return 0;
    default:
        return failWith(K_ENOSYS);
    }
}

} // namespace

namespace nfs2drv {

int seek(Nfs2OpenFile *file, uint64_t newPos)
{
    return nfsdrv::seekFlushed(file, cacheId(file->attr), 2, newPos);
}

} // namespace nfs2drv

// A null argument where an object is expected fails with 0x300016, as in version 3.
extern "C" int nfs2Ioctl(Nfs2OpenFile *file, int function, intptr_t arg)
{
    const nfs2drv::FileLock lock(file);
    if (!lock.held())
        return -1;
    if (arg == 0 && needsObject(function))
        return failWith(NFS_ERRNO_INVAL);
    return serve(file, function, arg);
}
