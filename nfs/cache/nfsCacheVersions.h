// Module-private: the protocol versions the cache serves, each described by its protocol type
// (nfs2Protocol.h, nfs3Protocol.h, nfs4Protocol.h: its number, open-file record and data
// words), and the one place the cache turns the version number its callers pass, or a device's
// driver, into that type.
#ifndef NFS_CACHE_NFSCACHEVERSIONS_H
#define NFS_CACHE_NFSCACHEVERSIONS_H

#include "ops/nfs2Protocol.h"
#include "ops/nfs3Protocol.h"
#include "ops/nfs4Protocol.h"

#include <kernel/iosLib.h>

namespace nfscache {

// Runs act(record, protocol type) on the open file as the record of the version numbered
// `version`; otherwise (a version the cache does not serve) the result of refused().
template <typename Act, typename Refused> auto onRecord(void *file, int version, Act act, Refused refused)
{
    if (version == Nfs3Protocol::version)
        return act(static_cast<Nfs3Protocol::File *>(file), Nfs3Protocol{});
    if (version == Nfs2Protocol::version)
        return act(static_cast<Nfs2Protocol::File *>(file), Nfs2Protocol{});
    if (version == Nfs4Protocol::version)
        return act(static_cast<Nfs4Protocol::File *>(file), Nfs4Protocol{});
    return refused();
}

// The same for a device of the I/O system, by the driver that made it: act(device record,
// protocol type); refused() for another driver's device.
template <typename Act, typename Refused> auto onDevice(DEV_HDR *dev, Act act, Refused refused)
{
    if (dev->drvNum > 0 && dev->drvNum == Nfs3Protocol::drvNum())
        return act(reinterpret_cast<Nfs3Protocol::Device *>(dev), Nfs3Protocol{});
    if (dev->drvNum > 0 && dev->drvNum == Nfs2Protocol::drvNum())
        return act(reinterpret_cast<Nfs2Protocol::Device *>(dev), Nfs2Protocol{});
    if (dev->drvNum > 0 && dev->drvNum == Nfs4Protocol::drvNum())
        return act(reinterpret_cast<Nfs4Protocol::Device *>(dev), Nfs4Protocol{});
    return refused();
}

} // namespace nfscache

#endif
