// Module-private: walks of the I/O system's device list that both drivers make, over their
// own device records (NfsDevice or Nfs2Device; both have host and openFiles).
#ifndef NFS_DRV_NFSDRVDEVICES_H
#define NFS_DRV_NFSDRVDEVICES_H

#include "core/nfsDeviceRemoval.h"

#include <kernel/errnoLib.h>
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
template <typename Device>
std::vector<DEV_HDR *> devicesOf(const char *host, int32_t drvNum)
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
int unmountAllOf(const char *host, int32_t drvNum, TellServer tellServer, Release release)
{
    const NfsDeviceRemovalLock serialised;
    if (!serialised.held())
        return -1;
    if (anyOpenFiles<Device>(devicesOf<Device>(host, drvNum))) {
        errnoSet(K_EBUSY);
        return -1;
    }
    if (tellServer(host) != 0)
        return -1;
    const std::vector<NfsWithdrawnDevice> devices = withdraw(devicesOf<Device>(host, drvNum));
    if (anyOpenFiles<Device>(devices)) {
        restoreAll(devices);
        errnoSet(K_EBUSY);
        return -1;
    }
    for (const NfsWithdrawnDevice &device : devices)
        release(reinterpret_cast<Device *>(device.dev()));
    return 0;
}

} // namespace nfsdrv

#endif
