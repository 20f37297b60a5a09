// The version 4 driver's exported routines: each a thin entry over the shared driver
// (nfsDrvOpen.h, nfsDrvFile.h, nfsDrvMount.h) with the version 4 traits (nfs4Driver.h).
#include "drv/nfs4Driver.h"
#include "drv/nfsDrvFile.h"
#include "drv/nfsDrvMount.h"
#include "drv/nfsDrvOpen.h"
#include "lock/nlmFileLock.h"

using V4 = Nfs4Driver;

namespace {

// The calls on which a descriptor reports a lock a server restart took (Nfs4Driver::locksLost).
bool tellsLockLoss(int function)
{
    return function == K_FIOSYNC || nlmfile::lockCode(function);
}

// CALL on FILE with a lock loss reported first: one known before fails it unmade; one the
// call met itself (its recovery ran the reclaim) takes the place of the call's own failure.
template <typename Call> auto lossFirst(Nfs4File *file, Call call) -> decltype(call())
{
    if (const nfsres::Status lost = V4::locksLost(file); !lost.ok())
        return lost.fail();
    auto result = call();
    if (!result.ok()) {
        if (const nfsres::Status lost = V4::locksLost(file); !lost.ok())
            return lost.fail();
    }
    return result;
}

} // namespace

extern "C" {

intptr_t nfs4Open(Nfs4Device *dev, char *name, int flags, int mode)
{
    const NfsCallScope scope(dev);
    return nfsres::entry(nfsdrv::open<V4>(dev, name, flags, mode), intptr_t{-1});
}
intptr_t nfs4Create(Nfs4Device *dev, char *name, int mode)
{
    const NfsCallScope scope(dev);
    return nfsres::entry(nfsdrv::create<V4>(dev, name, mode), intptr_t{-1});
}
int nfs4Delete(Nfs4Device *dev, char *name)
{
    const NfsCallScope scope(dev);
    return nfsres::entry(nfsdrv::remove<V4>(dev, name));
}
int nfs4Close(Nfs4File *file)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    const nfsres::Status lost = V4::locksLost(file); // reported, and the file closed all the same
    const nfsres::Status closed = nfsdrv::close<V4>(file);
    return nfsres::entry(lost.ok() ? closed : lost);
}
int nfs4Read(Nfs4File *file, char *buf, int count)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    return nfsres::entry(lossFirst(file, [&] { return nfsdrv::read<V4>(file, buf, count); }));
}
int nfs4Write(Nfs4File *file, const char *buf, int count)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    return nfsres::entry(lossFirst(file, [&] { return nfsdrv::write<V4>(file, buf, count); }));
}
int nfs4Ioctl(Nfs4File *file, int function, intptr_t arg)
{
    const NfsCallScope scope(nfsdrv::deviceOf(file));
    if (tellsLockLoss(function))
        return nfsres::entry(lossFirst(file, [&] { return nfsdrv::ioctl<V4>(file, function, arg); }));
    return nfsres::entry(nfsdrv::ioctl<V4>(file, function, arg));
}

// Installs the driver once, and fills the version 4 dispatch words. The entries share their
// names with the state layer's OPEN, CLOSE, READ and WRITE: each is named by its type.
int nfs4Drv(void)
{
    constexpr auto open = static_cast<intptr_t (*)(Nfs4Device *, char *, int, int)>(nfs4Open);
    constexpr auto close = static_cast<int (*)(Nfs4File *)>(nfs4Close);
    constexpr auto read = static_cast<int (*)(Nfs4File *, char *, int)>(nfs4Read);
    constexpr auto write = static_cast<int (*)(Nfs4File *, const char *, int)>(nfs4Write);
    return nfsdrv::install<V4, nfs4Create, nfs4Delete, open, close, read, write, nfs4Ioctl>();
}

int nfs4DrvNumGet(void)
{
    return nfsres::entry(nfsdrv::drvNumGet<V4>());
}
int nfs4DevInfoGet(Nfs4Device *dev, NfsDevInfo *pInfo)
{
    return nfsres::entry(nfsdrv::devInfoGet<V4>(dev, pInfo));
}
int nfs4DevMinorGet(Nfs4Device *dev)
{
    if (dev == nullptr || !nfsdrv::listed(&dev->devHdr))
        return -1;
    return static_cast<int>(dev->minor);
}
int nfs4Mount(const char *host, const char *fileSys, const char *devName)
{
    return nfsres::entry(nfsdrv::mount<V4>(host, fileSys, devName));
}
int nfs4UnmountAll(const char *host)
{
    return nfsres::entry(nfsdrv::unmountAll<V4>(host));
}

} // extern "C"
