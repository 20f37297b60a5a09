// Removing one NFS device: its cache goes first, then the server is told, then the device.
#include "core/nfsConfig.h"
#include "core/nfsDeviceRemoval.h"
#include "core/nfsMountVersion.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsDrvLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <cstdlib>
#include <cstring>

namespace {

bool servedBy(const DEV_HDR *dev, int32_t drvNum)
{
    return dev->drvNum == drvNum && drvNum > 0;
}

// A version 3 device: the cache is released before the server is told, so a failed notice
// leaves the device listed with an empty cache, which the cache operations refuse. A device
// with files open is refused (16) and left as it is: their records point into it.
int unmountVersion3(NfsDevice *dev)
{
    const NfsWithdrawnDevice withdrawn(&dev->devHdr);
    if (nfsDeviceOpenFiles(&dev->openFiles) != 0) {
        withdrawn.restore();
        errnoSet(K_EBUSY);
        return -1;
    }
    nfsCacheFree(&dev->cache);
    if (!nfsSlotPresent(pFuncNfs3Unmount) || pFuncNfs3Unmount(dev->host, dev->fileSys) == -1) {
        withdrawn.restore();
        return -1;
    }
    std::free(dev->mountFh.data.data_val);
    std::free(dev);
    return 0;
}

// A version 2 device, in the same steps; it owns no handle buffer.
int unmountVersion2(Nfs2Device *dev)
{
    const NfsWithdrawnDevice withdrawn(&dev->devHdr);
    if (nfsDeviceOpenFiles(&dev->openFiles) != 0) {
        withdrawn.restore();
        errnoSet(K_EBUSY);
        return -1;
    }
    nfsCacheFree(&dev->cache);
    if (!nfsSlotPresent(pFuncNfs2Unmount) || pFuncNfs2Unmount(dev->host, dev->fileSys) == -1) {
        withdrawn.restore();
        return -1;
    }
    std::free(dev);
    return 0;
}

} // namespace

extern "C" int nfsUnmount(const char *devName)
{
    if (devName == nullptr) {
        errnoSet(NFS_ERRNO_INVAL);
        return -1;
    }
    const NfsDeviceRemovalLock serialised;
    if (!serialised.held())
        return -1;
    const char *tail = nullptr;
    DEV_HDR *dev = iosDevFind(devName, &tail);
    // A prefix match (the default device, a longer name) is not the device asked for.
    if (dev == nullptr || std::strcmp(dev->name, devName) != 0) {
        errnoSet(NFS_DRV_ERR_NOT_NFS_DEVICE);
        return -1;
    }
    if (servedBy(dev, nfs3DrvNum))
        return unmountVersion3(reinterpret_cast<NfsDevice *>(dev));
    if (servedBy(dev, nfs2DrvNum))
        return unmountVersion2(reinterpret_cast<Nfs2Device *>(dev));
    errnoSet(NFS_DRV_ERR_NOT_NFS_DEVICE);
    return -1;
}
