// Removing one NFS device: the server is told first, then the device and its cache go.
#include "core/nfsCallSettings.h"
#include "core/nfsConfig.h"
#include "core/nfsDeviceRemoval.h"
#include "core/nfsMountVersion.h"
#include "lock/nlmHeld.h"
#include "lock/nlmRestart.h"
#include "rpc/nfsRpcDeviceHolds.h"

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsDrvLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <cstdlib>
#include <cstring>

namespace {

bool servedBy(const DEV_HDR *dev, int32_t drvNum)
{
    return dev->drvNum == drvNum && drvNum > 0;
}

// The version 3 record owns its mount handle's buffer; the version 2 one holds it inline.
void releaseRecord(NfsDevice *dev)
{
    nfsRpcDeviceRelease(dev);
    std::free(dev->mountFh.data.data_val);
    std::free(dev);
}

void releaseRecord(Nfs2Device *dev)
{
    nfsRpcDeviceRelease(dev);
    std::free(dev);
}

// The server is told while the device stays where it is in the device list and paths under it
// keep working; a notice that fails leaves the device whole. Only then is the device taken out
// of the I/O system, which waits for the entries running on it, and its files counted again:
// one opened meanwhile keeps it (put back at the list's end). A device with files open is
// refused (16): their records point into it.
template <typename Device, typename UnmountSlot>
nfsres::Status unmountDevice(Device *dev, UnmountSlot tellSlot, bool tellServer)
{
    const NfsCallScope scope(dev); // the UMNT goes as the device's calls do
    if (nfsDeviceOpenFiles(&dev->openFiles) != 0)
        return nfsres::Fail{K_EBUSY};
    if (tellServer) {
        if (const nfsres::Status filled = nfsSlotFilled(tellSlot); !filled.ok())
            return filled;
        if (const nfsres::Result<int> told =
                nfsres::viaErrno([tellSlot, dev] { return tellSlot(dev->host, dev->fileSys); });
            !told.ok())
            return told.fail();
    }
    const NfsWithdrawnDevice withdrawn(&dev->devHdr);
    if (nfsDeviceOpenFiles(&dev->openFiles) != 0) {
        withdrawn.restore();
        return nfsres::Fail{K_EBUSY};
    }
    nlmHeldRelease(nlmHeldTakeDevice(dev)); // locks a task kept after its files closed
    nlmVerifierForget(dev);
    nfsCacheFree(&dev->cache);
    releaseRecord(dev);
    return {};
}

nfsres::Status unmountNamed(const char *devName, bool tellServer)
{
    if (devName == nullptr)
        return nfsres::Fail{NFS_ERRNO_INVAL};
    const NfsDeviceRemovalLock serialised;
    if (!serialised.held())
        return nfsres::Fail{0}; // semTake set the error number
    const char *tail = nullptr;
    DEV_HDR *dev = iosDevFind(devName, &tail);
    // A prefix match (the default device, a longer name) is not the device asked for.
    if (dev == nullptr || std::strcmp(dev->name, devName) != 0)
        return nfsres::Fail{NFS_DRV_ERR_NOT_NFS_DEVICE};
    if (servedBy(dev, nfs3DrvNum))
        return unmountDevice(reinterpret_cast<NfsDevice *>(dev), pFuncNfs3Unmount, tellServer);
    if (servedBy(dev, nfs2DrvNum))
        return unmountDevice(reinterpret_cast<Nfs2Device *>(dev), pFuncNfs2Unmount, tellServer);
    if (servedBy(dev, nfs4DrvNum)) { // no MOUNT service to tell
        NFS_TRY(nfsSlotFilled(pFuncNfs4Remove));
        return nfsres::statusOf(nfsres::viaErrno([dev] { return pFuncNfs4Remove(dev); }));
    }
    return nfsres::Fail{NFS_DRV_ERR_NOT_NFS_DEVICE};
}

} // namespace

extern "C" {

int nfsUnmount(const char *devName)
{
    return nfsres::entry(unmountNamed(devName, true));
}

// A separate routine rather than a second nfsUnmount that forces: a user who repeats an
// unmount after a passing network fault expects the server to be told, and removing a device
// without telling its server should be asked for by name.
int nfsUnmountForce(const char *devName)
{
    return nfsres::entry(unmountNamed(devName, false));
}

} // extern "C"
