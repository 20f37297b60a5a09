// The version 2 driver's exported routines: thin entries over the shared driver (nfsDrvOpen.h,
// nfsDrvFile.h, nfsDrvMount.h) with the version 2 traits (nfs2Driver.h); and the device look-up
// by host that only version 2 offers.
#include "drv/nfs2Driver.h"
#include "drv/nfsDrvFile.h"
#include "drv/nfsDrvMount.h"
#include "drv/nfsDrvOpen.h"
#include "lock/nlmFileLock.h"

using V2 = Nfs2Driver;

extern "C" {

int nfs2DrvNumGet(void)
{
    return nfsres::entry(nfsdrv::drvNumGet<V2>());
}
int nfs2Mount(const char *host, const char *fileSys, const char *devName)
{
    return nfsres::entry(nfsdrv::mount<V2>(host, fileSys, devName));
}
int nfs2UnmountAll(const char *host)
{
    return nfsres::entry(nfsdrv::unmountAll<V2>(host));
}
int nfs2DevInfoGet(Nfs2Device *dev, NfsDevInfo *pInfo)
{
    return nfsres::entry(nfsdrv::devInfoGet<V2>(dev, pInfo));
}

Nfs2Device *nfs2DevFind(const char *host)
{
    if (nfs2DrvNum < 0 || host == nullptr)
        return nullptr;
    for (DEV_HDR *node = iosNextDevGet(nullptr); node != nullptr; node = iosNextDevGet(node)) {
        if (node->drvNum == nfs2DrvNum && std::strcmp(reinterpret_cast<Nfs2Device *>(node)->host, host) == 0)
            return reinterpret_cast<Nfs2Device *>(node);
    }
    return nullptr;
}

// The file entries, which nfs2Drv installs.
intptr_t nfs2Create(Nfs2Device *dev, char *name, int mode)
{
    const NfsCallScope scope(dev);
    return nfsres::entry(nfsdrv::create<V2>(dev, name, mode), intptr_t{-1});
}
intptr_t nfs2Open(Nfs2Device *dev, char *name, int flags, int mode)
{
    const NfsCallScope scope(dev);
    return nfsres::entry(nfsdrv::open<V2>(dev, name, flags, mode), intptr_t{-1});
}
int nfs2Delete(Nfs2Device *dev, char *name)
{
    const NfsCallScope scope(dev);
    return nfsres::entry(nfsdrv::remove<V2>(dev, name));
}
int nfs2Read(Nfs2OpenFile *file, char *buf, int count)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    return nfsres::entry(nlmfile::lossFirst<V2>(file, [&] { return nfsdrv::read<V2>(file, buf, count); }));
}
int nfs2Write(Nfs2OpenFile *file, const char *buf, int count)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    return nfsres::entry(nlmfile::lossFirst<V2>(file, [&] { return nfsdrv::write<V2>(file, buf, count); }));
}
int nfs2Ioctl(Nfs2OpenFile *file, int function, intptr_t arg)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    if (nlmfile::tellsLoss(function))
        return nfsres::entry(nlmfile::lossFirst<V2>(file, [&] { return nfsdrv::ioctl<V2>(file, function, arg); }));
    return nfsres::entry(nfsdrv::ioctl<V2>(file, function, arg));
}
int nfs2Close(Nfs2OpenFile *file)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    nlmfile::reclaimsMade<V2>(file);
    const nfsres::Status lost = nlmfile::locksLost<V2>(file); // reported, and the file closed all the same
    const nfsres::Status closed = nfsdrv::close<V2>(file);
    return nfsres::entry(lost.ok() ? closed : lost);
}

} // extern "C"

// Installs the driver once, and fills the version 2 half of the dispatch table.
extern "C" int nfs2Drv(void)
{
    return nfsdrv::install<V2, nfs2Create, nfs2Delete, nfs2Open, nfs2Close, nfs2Read, nfs2Write, nfs2Ioctl>();
}
