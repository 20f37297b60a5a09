// The version 3 driver's exported routines: each a thin entry over the shared driver
// (nfsDrvOpen.h, nfsDrvFile.h, nfsDrvMount.h) with the version 3 traits (nfs3Driver.h).
#include "core/nfsArgs.h"
#include "drv/nfs3Driver.h"
#include "drv/nfsDrvFile.h"
#include "drv/nfsDrvMount.h"
#include "drv/nfsDrvOpen.h"
#include "lock/nlmFileLock.h"

using V3 = Nfs3Driver;

extern "C" {

intptr_t nfs3Open(NfsDevice *dev, char *name, int flags, int mode)
{
    const NfsCallScope scope(dev);
    return nfsres::entry(nfsdrv::open<V3>(dev, name, flags, mode), intptr_t{-1});
}
intptr_t nfs3Create(NfsDevice *dev, char *name, int mode)
{
    const NfsCallScope scope(dev);
    return nfsres::entry(nfsdrv::create<V3>(dev, name, mode), intptr_t{-1});
}
int nfs3Delete(NfsDevice *dev, char *name)
{
    const NfsCallScope scope(dev);
    return nfsres::entry(nfsdrv::remove<V3>(dev, name));
}
int nfs3Close(NfsOpenFile *file)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    nlmfile::reclaimsMade<V3>(file);
    const nfsres::Status lost = nlmfile::locksLost<V3>(file); // reported, and the file closed all the same
    const nfsres::Status closed = nfsdrv::close<V3>(file);
    return nfsres::entry(lost.ok() ? closed : lost);
}
int nfs3Read(NfsOpenFile *file, char *buf, int count)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    return nfsres::entry(nlmfile::lossFirst<V3>(file, [&] { return nfsdrv::read<V3>(file, buf, count); }));
}
int nfs3Write(NfsOpenFile *file, const char *buf, int count)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    return nfsres::entry(nlmfile::lossFirst<V3>(file, [&] { return nfsdrv::write<V3>(file, buf, count); }));
}
int nfs3Ioctl(NfsOpenFile *file, int function, intptr_t arg)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    if (nlmfile::tellsLoss(function))
        return nfsres::entry(nlmfile::lossFirst<V3>(file, [&] { return nfsdrv::ioctl<V3>(file, function, arg); }));
    return nfsres::entry(nfsdrv::ioctl<V3>(file, function, arg));
}
int nfs3Seek(NfsOpenFile *file, uint64_t newPos)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    return nfsArgsGiven(file) ? nfsres::entry(nfsdrv::seek<V3>(file, newPos)) : -1;
}

// Installs the driver once, and fills the version 3 half of the dispatch table.
int nfs3Drv(void)
{
    return nfsdrv::install<V3, nfs3Create, nfs3Delete, nfs3Open, nfs3Close, nfs3Read, nfs3Write, nfs3Ioctl>();
}

int nfs3DrvNumGet(void)
{
    return nfsres::entry(nfsdrv::drvNumGet<V3>());
}
int nfs3DevInfoGet(NfsDevice *dev, NfsDevInfo *pInfo)
{
    return nfsres::entry(nfsdrv::devInfoGet<V3>(dev, pInfo));
}
int nfs3Mount(const char *host, const char *fileSys, const char *devName)
{
    return nfsres::entry(nfsdrv::mount<V3>(host, fileSys, devName));
}
int nfs3UnmountAll(const char *host)
{
    return nfsres::entry(nfsdrv::unmountAll<V3>(host));
}

} // extern "C"
