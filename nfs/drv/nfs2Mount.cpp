// Creating a version 2 device for an export, and removing every version 2 device of a server.
// The steps are those of version 3, without a handle buffer and without tuning any limit.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "core/nfsDeviceRemoval.h"
#include "drv/nfs2DrvEntries.h"
#include "drv/nfsDrvDevices.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

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

} // namespace

extern "C" {

// Names that do not fit the device's fields are refused (26) rather than cut.
int nfs2Mount(const char *host, const char *fileSys, const char *devName)
{
    if (nfs2DrvNum < 0) {
        errnoSet(K_ENXIO);
        return -1;
    }
    if (!nfsArgsGiven(host, fileSys))
        return -1;
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
    if (!nfsArgsGiven(host))
        return -1;
    if (nfs2DrvNum < 0)
        return nfs2MntUnmountAll(host) != 0 ? -1 : 0;
    return nfsdrv::unmountAllOf<Nfs2Device>(host, nfs2DrvNum, nfs2MntUnmountAll, releaseDevice);
}

} // extern "C"
