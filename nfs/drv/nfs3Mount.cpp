// Creating a version 3 device for an export, and removing every version 3 device of a server.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "core/nfsDeviceRemoval.h"
#include "drv/nfsDrvDevices.h"
#include "ops/nfs3Data.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/taskLib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <memory>

namespace {

struct FreeDeleter {
    void operator()(void *block) const { std::free(block); }
};
template <typename T> using HeapBlock = std::unique_ptr<T, FreeDeleter>;

// Releases a device's cache unless the mount went through; the error number of the failure
// that caused the release stands.
class CacheGuard {
public:
    explicit CacheGuard(NfsDataCache *cache) : cache_(cache) {}
    CacheGuard(const CacheGuard &) = delete;
    CacheGuard &operator=(const CacheGuard &) = delete;
    ~CacheGuard()
    {
        if (cache_ == nullptr)
            return;
        const int error = errnoGet();
        nfsCacheFree(cache_);
        errnoSet(error);
    }
    void keep() { cache_ = nullptr; }

private:
    NfsDataCache *cache_;
};

bool fits(const char *text, std::size_t room)
{
    return std::strlen(text) < room;
}

// The largest transfer both directions allow. A zero stands for "no limit given": with exactly
// one of the two zero the other one rules, so the limit can never become 0.
uint32_t transferLimit(uint32_t rtmax, uint32_t wtmax)
{
    if (rtmax == 0 || wtmax == 0)
        return std::max(rtmax, wtmax);
    return std::min(rtmax, wtmax);
}

// Lowers the module's transfer size to the server's and takes its preferred READDIR size. A
// server that does not answer FSINFO leaves both as they are.
void tuneLimits(const char *host, nfs_fh3 root)
{
    Nfs3FsInfo info{};
    if (nfs3FsInfoGet(host, &root, &info) != 0)
        return;
    const uint32_t limit = transferLimit(info.rtmax, info.wtmax);
    if (limit != 0 && limit < nfsWordGet(nfs3MaxMsgLen))
        nfsWordSet(nfs3MaxMsgLen, limit);
    if (info.dtpref != 0)
        nfsWordSet(nfs3MaxRddirSz, static_cast<int32_t>(std::min<uint32_t>(info.dtpref, INT32_MAX)));
}

// Frees a device already taken out of the I/O system, with its cache and handle buffer.
void releaseDevice(NfsDevice *dev)
{
    nfsCacheFree(&dev->cache);
    std::free(dev->mountFh.data.data_val);
    std::free(dev);
}

} // namespace

extern "C" {

int nfs3Mount(const char *host, const char *fileSys, const char *devName)
{
    if (nfs3DrvNum < 0) {
        errnoSet(K_ENXIO);
        return -1;
    }
    if (!nfsArgsGiven(host, fileSys))
        return -1;
    // Names that do not fit the device's fields are refused rather than cut.
    if (!fits(host, NFS_HOST_NAME_LEN) || !fits(fileSys, NFS_MAX_PATH)) {
        errnoSet(K_ENAMETOOLONG);
        return -1;
    }
    HeapBlock<NfsDevice> dev(static_cast<NfsDevice *>(std::calloc(1, sizeof(NfsDevice))));
    if (dev == nullptr)
        return -1;
    HeapBlock<char> handle(static_cast<char *>(std::malloc(NFS3_FHSIZE)));
    if (handle == nullptr)
        return -1;
    dev->mountFh.data.data_val = handle.get();

    if (nfsCacheAlloc(&dev->cache, nfs3MaxCacheLines, nfs3BytesPerCacheLine, nfs3CacheOptions) != 0)
        return -1;
    CacheGuard cache(&dev->cache);
    if (nfs3DirMount(host, fileSys, &dev->mountFh) != 0)
        return -1;
    std::strcpy(dev->host, host);
    std::strcpy(dev->fileSys, fileSys);

    tuneLimits(host, dev->mountFh);

    const char *name = devName != nullptr ? devName : fileSys;
    if (iosDevAdd(&dev->devHdr, name, nfs3DrvNum) != 0)
        return -1;
    // The I/O system's device list owns the device now, and the device its handle buffer.
    cache.keep();
    static_cast<void>(handle.release());
    static_cast<void>(dev.release());
    return 0;
}

// A device of the host with files still open refuses the whole request (16): their records
// point into the device. The server is told while the devices stay listed where they are and
// keep working; a notice that fails leaves them whole. The devices are then taken out of the
// I/O system and counted again: a file opened meanwhile keeps them all (put back at the end).
int nfs3UnmountAll(const char *host)
{
    if (!nfsArgsGiven(host))
        return -1;
    if (nfs3DrvNum < 0)
        return nfs3MntUnmountAll(host) != 0 ? -1 : 0;
    return nfsdrv::unmountAllOf<NfsDevice>(host, nfs3DrvNum, nfs3MntUnmountAll, releaseDevice);
}

} // extern "C"
