// Module-private: both drivers' installation, device queries, mounting and unmounting, over a
// version's traits (nfs2Driver.h, nfs3Driver.h), with the walks of the I/O system's device
// list they make over their device records.
#ifndef NFS_DRV_NFSDRVMOUNT_H
#define NFS_DRV_NFSDRVMOUNT_H

#include "core/nfsCallSettings.h"
#include "core/nfsDeviceRemoval.h"
#include "core/nfsDispatch.h"
#include "core/nfsResult.h"
#include "drv/nfsDrvRecords.h"
#include "drv/nfsVersion.h"
#include "lock/nlmHeld.h"
#include "lock/nlmRestart.h"
#include "rpc/nfsRpcClient.h"
#include "rpc/nfsRpcDeviceHolds.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace nfsdrv {

// The device is in the I/O system's list.
inline bool listed(const DEV_HDR *dev)
{
    for (const DEV_HDR *node = iosNextDevGet(nullptr); node != nullptr;
         node = iosNextDevGet(const_cast<DEV_HDR *>(node))) {
        if (node == dev)
            return true;
    }
    return false;
}

// Every device of the driver drvNum whose host is `host`, in list order.
template <typename Device> std::vector<DEV_HDR *> devicesOf(const char *host, int32_t drvNum)
{
    std::vector<DEV_HDR *> found;
    for (DEV_HDR *node = iosNextDevGet(nullptr); node != nullptr; node = iosNextDevGet(node)) {
        if (node->drvNum == drvNum && std::strcmp(reinterpret_cast<const Device *>(node)->host, host) == 0)
            found.push_back(node);
    }
    return found;
}

// Takes the devices out of the I/O system, in order.
inline std::vector<NfsWithdrawnDevice> withdraw(const std::vector<DEV_HDR *> &found)
{
    std::vector<NfsWithdrawnDevice> withdrawn;
    withdrawn.reserve(found.size());
    for (DEV_HDR *node : found)
        withdrawn.emplace_back(node);
    return withdrawn;
}

template <typename Device> bool anyOpenFiles(const std::vector<DEV_HDR *> &devices)
{
    return std::any_of(devices.begin(), devices.end(), [](const DEV_HDR *device) {
        return nfsDeviceOpenFiles(&reinterpret_cast<const Device *>(device)->openFiles) != 0;
    });
}

template <typename Device> bool anyOpenFiles(const std::vector<NfsWithdrawnDevice> &devices)
{
    return std::any_of(devices.begin(), devices.end(), [](const NfsWithdrawnDevice &device) {
        return nfsDeviceOpenFiles(&reinterpret_cast<const Device *>(device.dev())->openFiles) != 0;
    });
}

inline void restoreAll(const std::vector<NfsWithdrawnDevice> &devices)
{
    for (const NfsWithdrawnDevice &device : devices)
        device.restore();
}

// Unmounts every device of the driver drvNum on `host`: refused (16) while any has files open;
// the server is told while the devices stay listed and usable, and only then are they taken
// out and released. A notice that fails leaves every device as it was.
template <typename Device, typename TellServer, typename Release>
nfsres::Status unmountAllOf(const char *host, int32_t drvNum, TellServer tellServer, Release release)
{
    const NfsDeviceRemovalLock serialised;
    if (!serialised.held())
        return nfsres::Fail{0}; // semTake set the error number
    if (anyOpenFiles<Device>(devicesOf<Device>(host, drvNum)))
        return nfsres::Fail{K_EBUSY};
    if (const nfsres::Status told = tellServer(host); !told.ok())
        return told.fail();
    const std::vector<NfsWithdrawnDevice> devices = withdraw(devicesOf<Device>(host, drvNum));
    if (anyOpenFiles<Device>(devices)) {
        restoreAll(devices);
        return nfsres::Fail{K_EBUSY};
    }
    for (const NfsWithdrawnDevice &device : devices) {
        nlmHeldRelease(nlmHeldTakeDevice(device.dev())); // locks a task kept after its files closed
        nlmVerifierForget(device.dev());
        release(reinterpret_cast<Device *>(device.dev()));
    }
    return {};
}

// Installs the driver once, its entries the version's exported ones: the I/O system's device
// header is the first field of the device record, and its file value the record's address.
// Then, also when it was installed before, the version's table fills its dispatch slots.
template <NfsVersion V, auto Create, auto Remove, auto Open, auto Close, auto Read, auto Write, auto Ioctl>
int install()
{
    using Device = typename V::Device;
    using File = typename V::File;
    if (V::drvNum() >= 0) {
        nfsDispatchFill(V::dispatch);
        return 0;
    }
    V::drvNum() = iosDrvInstall(
        [](DEV_HDR *dev, char *tail, int mode) {
            return Create(reinterpret_cast<Device *>(dev), tail, mode);
        },
        [](DEV_HDR *dev, char *tail) { return Remove(reinterpret_cast<Device *>(dev), tail); },
        [](DEV_HDR *dev, char *tail, int flags, int mode) {
            return Open(reinterpret_cast<Device *>(dev), tail, flags, mode);
        },
        [](intptr_t file) { return Close(reinterpret_cast<File *>(file)); },
        [](intptr_t file, char *buffer, int n) { return Read(reinterpret_cast<File *>(file), buffer, n); },
        [](intptr_t file, const char *buffer, int n) {
            return Write(reinterpret_cast<File *>(file), buffer, n);
        },
        [](intptr_t file, int function, intptr_t arg) {
            return Ioctl(reinterpret_cast<File *>(file), function, arg);
        });
    if (V::drvNum() == -1)
        return -1;
    nfsDispatchFill(V::dispatch);
    return 0;
}

template <typename V> nfsres::Result<int> drvNumGet()
{
    if (V::drvNum() < 0)
        return nfsres::Fail{K_ENXIO};
    return V::drvNum();
}

// A failure without an error number of its own for a device not listed.
template <typename V> nfsres::Status devInfoGet(typename V::Device *dev, NfsDevInfo *pInfo)
{
    if (dev == nullptr || pInfo == nullptr)
        return nfsres::Fail{NFS_ERRNO_INVAL};
    if (!listed(&dev->devHdr))
        return nfsres::Fail{0};
    std::strcpy(pInfo->hostName, dev->host);
    std::strcpy(pInfo->pFileSys, dev->fileSys);
    std::strcpy(pInfo->pDevName, dev->devHdr.name);
    return {};
}

// Releases a device that did not get mounted, with what it holds.
template <typename V> struct MountAbandon {
    void operator()(typename V::Device *dev) const { V::deviceRelease(dev); }
};

// A transfer size of the device's own settled against its server and transport: "max" becomes
// the server's preferred size, and no size passes what the server and the transport carry.
inline uint32_t sizeSettled(uint32_t asked, uint32_t preferred, uint32_t limit)
{
    const uint32_t wanted = asked == NFS_OPT_SIZE_MAX ? (preferred != 0 ? preferred : limit) : asked;
    return std::min(wanted, limit);
}

inline void sizesSettle(NfsMountOptions *options, uint32_t readPreferred, uint32_t writePreferred,
                        uint32_t readLimit, uint32_t writeLimit)
{
    if ((options->given & NFS_OPT_RSIZE) != 0)
        options->readSize = sizeSettled(options->readSize, readPreferred, readLimit);
    if ((options->given & NFS_OPT_WSIZE) != 0)
        options->writeSize = sizeSettled(options->writeSize, writePreferred, writeLimit);
}

// The device takes the options of the mount under way (none for nfsMount), and its calls use
// them from here on; the transport the mount's calls took is kept for the listing.
// Names that do not fit the device's fields are refused (26) rather than cut.
template <typename V> nfsres::Status mount(const char *host, const char *fileSys, const char *devName)
{
    if (V::drvNum() < 0)
        return nfsres::Fail{K_ENXIO};
    if (host == nullptr || fileSys == nullptr)
        return nfsres::Fail{NFS_ERRNO_INVAL};
    if (std::strlen(host) >= NFS_HOST_NAME_LEN || std::strlen(fileSys) >= NFS_MAX_PATH)
        return nfsres::Fail{K_ENAMETOOLONG};
    HeapBlock<typename V::Device> block = heapBlock<typename V::Device>();
    if (!block || !V::deviceParts(block.get()))
        return nfsres::Fail{K_ENOMEM};
    std::unique_ptr<typename V::Device, MountAbandon<V>> dev(block.release());
    if (const NfsMountOptions *asked = nfsCallOptions(); asked != nullptr)
        dev->options = *asked;
    const NfsCallScope scope(dev.get());
    if (const nfsres::Result<int> cache = V::cacheAlloc(&dev->cache); !cache.ok())
        return cache.fail();
    if (const nfsres::Status mounted = V::dirMount(host, fileSys, dev.get()); !mounted.ok())
        return mounted.fail();
    std::strcpy(dev->host, host);
    std::strcpy(dev->fileSys, fileSys);
    V::limitsTune(host, dev.get());
    if ((dev->options.given & NFS_OPT_PROTO) == 0)
        dev->options.transport =
            nfsRpcCurrentTransport() == IPPROTO_TCP ? NFS_TRANSPORT_TCP : NFS_TRANSPORT_UDP;
    const char *name = devName != nullptr ? devName : fileSys;
    const nfsres::Result<int> added =
        nfsres::viaErrno([&dev, name] { return iosDevAdd(&dev->devHdr, name, V::drvNum()); });
    if (!added.ok())
        return added.fail();
    // The I/O system's device list owns the device now, and the device what it holds: its
    // server's channel among them, kept open between the tasks that use the device.
    nfsRpcDeviceHold(dev.get());
    static_cast<void>(dev.release());
    return {};
}

// A device of the host with files still open refuses the whole request (16): their records
// point into the device. The server is told while the devices stay listed and keep working; a
// notice that fails leaves them whole (nfsDrvDevices.h).
template <typename V> nfsres::Status unmountAll(const char *host)
{
    if (host == nullptr)
        return nfsres::Fail{NFS_ERRNO_INVAL};
    if (V::drvNum() < 0)
        return nfsres::statusOf(V::mntUnmountAll(host));
    return unmountAllOf<typename V::Device>(host, V::drvNum(), V::mntUnmountAll, V::deviceRelease);
}

} // namespace nfsdrv

#endif
