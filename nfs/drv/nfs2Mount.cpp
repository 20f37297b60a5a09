// Creating a version 2 device for an export, and removing every version 2 device of a server.
// The steps are those of version 3, without a handle buffer and without tuning any limit.
#include "core/nfsConfig.h"
#include "core/nfsDeviceRemoval.h"
#include "drv/nfs2DrvEntries.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool fits(const char *text, std::size_t room)
{
    return std::strlen(text) < room;
}

void releaseDevice(Nfs2Device *dev)
{
    nfsCacheFree(&dev->cache);
    std::free(dev);
}

std::vector<NfsWithdrawnDevice> withdrawDevicesOf(const char *host)
{
    std::vector<DEV_HDR *> found;
    for (DEV_HDR *node = iosNextDevGet(nullptr); node != nullptr; node = iosNextDevGet(node)) {
        const auto *dev = reinterpret_cast<const Nfs2Device *>(node);
        if (node->drvNum == nfs2DrvNum && std::strcmp(dev->host, host) == 0)
            found.push_back(node);
    }
    std::vector<NfsWithdrawnDevice> withdrawn;
    withdrawn.reserve(found.size());
    for (DEV_HDR *node : found)
        withdrawn.emplace_back(node);
    return withdrawn;
}

bool anyOpenFiles(const std::vector<NfsWithdrawnDevice> &devices)
{
    return std::any_of(devices.begin(), devices.end(), [](const NfsWithdrawnDevice &device) {
        return nfsDeviceOpenFiles(&reinterpret_cast<const Nfs2Device *>(device.dev())->openFiles) != 0;
    });
}

void restoreAll(const std::vector<NfsWithdrawnDevice> &devices)
{
    for (const NfsWithdrawnDevice &device : devices)
        device.restore();
}

} // namespace

extern "C" {

// Names that do not fit the device's fields are refused (26) rather than cut.
int nfs2Mount(const char *host, const char *fileSys, const char *devName)
{
    if (nfs2DrvNum < 0) {
        errnoSet(K_ENXIO);
        return -1;
    }
    if (host == nullptr || fileSys == nullptr) {
        errnoSet(NFS_ERRNO_INVAL);
        return -1;
    }
    if (!fits(host, NFS_HOST_NAME_LEN) || !fits(fileSys, NFS_MAX_PATH)) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    nfs2drv::HeapBlock<Nfs2Device> dev(static_cast<Nfs2Device *>(std::calloc(1, sizeof(Nfs2Device))));
    if (dev == nullptr)
        return -1;
    if (nfsCacheAlloc(&dev->cache, nfs2MaxCacheLines, nfs2BytesPerCacheLine, nfs2CacheOptions) != 0)
        return -1;
    std::strcpy(dev->host, host);
    std::strcpy(dev->fileSys, fileSys);
    if (nfs2DirMount(host, fileSys, reinterpret_cast<unsigned char *>(dev->mountFh)) != 0 ||
        iosDevAdd(&dev->devHdr, devName != nullptr ? devName : fileSys, nfs2DrvNum) != 0) {
        const int error = errnoGet();
        nfsCacheFree(&dev->cache);
        errnoSet(error);
        return -1;
    }
    static_cast<void>(dev.release());
    return 0;
}

// As in version 3: a device of the host with files still open refuses the whole request (16)
// before the server is told, and a refused request leaves the devices.
int nfs2UnmountAll(const char *host)
{
    if (nfs2DrvNum < 0)
        return nfs2MntUnmountAll(host) != 0 ? -1 : 0;
    const NfsDeviceRemovalLock serialised;
    if (!serialised.held())
        return -1;
    const std::vector<NfsWithdrawnDevice> devices = withdrawDevicesOf(host);
    if (anyOpenFiles(devices)) {
        restoreAll(devices);
        errnoSet(K_EBUSY);
        return -1;
    }
    if (nfs2MntUnmountAll(host) != 0) {
        restoreAll(devices);
        return -1;
    }
    for (const NfsWithdrawnDevice &device : devices)
        releaseDevice(reinterpret_cast<Nfs2Device *>(device.dev()));
    return 0;
}

} // extern "C"
