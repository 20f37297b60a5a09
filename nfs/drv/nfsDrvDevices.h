// Module-private: walks of the I/O system's device list that both drivers make, over their
// own device records (NfsDevice or Nfs2Device; both have host and openFiles).
#ifndef NFS_DRV_NFSDRVDEVICES_H
#define NFS_DRV_NFSDRVDEVICES_H

#include "core/nfsDeviceRemoval.h"

#include <kernel/iosLib.h>

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

// Takes every device of the driver drvNum whose host is `host` out of the I/O system, in list
// order.
template <typename Device>
std::vector<NfsWithdrawnDevice> withdrawDevicesOf(const char *host, int32_t drvNum)
{
    std::vector<DEV_HDR *> found;
    for (DEV_HDR *node = iosNextDevGet(nullptr); node != nullptr; node = iosNextDevGet(node)) {
        if (node->drvNum == drvNum && std::strcmp(reinterpret_cast<const Device *>(node)->host, host) == 0)
            found.push_back(node);
    }
    std::vector<NfsWithdrawnDevice> withdrawn;
    withdrawn.reserve(found.size());
    for (DEV_HDR *node : found)
        withdrawn.emplace_back(node);
    return withdrawn;
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

} // namespace nfsdrv

#endif
