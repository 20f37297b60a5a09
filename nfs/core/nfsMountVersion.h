// The choice of MOUNT version for a mount command, and the dispatch slots of that version.
#ifndef NFS_CORE_NFSMOUNTVERSION_H
#define NFS_CORE_NFSMOUNTVERSION_H

#include "core/nfsDispatch.h"
#include "core/nfsResult.h"

#include <cstdint>

// Asks host's portmapper for its registrations and gives the highest MOUNT version offered
// that an installed driver supports (1 with the version 2 driver, 3 with the version 3
// driver): of those over UDP, or over TCP when none is over UDP or nfsTransport says TCP.
// Failures: 6, no driver; 0x302714, none shared; 0x2e0004, no MOUNT registered; 0x2e0003,
// MOUNT, or the NFS version it serves, only over TCP while nfsTransport says UDP only.
nfsres::Result<uint16_t> nfsRemoteVersion(const char *host);
// The same on the C convention: 0, or -1 with *pVersion 0 and the error number set.
int nfsRemoteVersionGet(const char *host, uint16_t *pVersion);

// The dispatch slots that serve one MOUNT version.
struct NfsMountSlots {
    NfsMountFn mount;
    NfsExportReadFn exportRead;
    NfsHostFn mntDump;
    NfsHostFn unmountAll;
    NfsUnmountFn unmount;
};

// The slots of MOUNT version 1 (the version 2 half) or 3; a failure with 0x302714 for any other.
nfsres::Result<NfsMountSlots> nfsMountSlotsOf(uint16_t version);

// A failure with 0x3d0002 when slot is null.
nfsres::Status nfsSlotFilled(const void *slot);
template <typename Fn> nfsres::Status nfsSlotFilled(Fn slot)
{
    return nfsSlotFilled(reinterpret_cast<const void *>(slot));
}
// The slots of the MOUNT version host offers, each one that pick(slots) names filled.
template <typename... Pick> nfsres::Result<NfsMountSlots> nfsHostSlots(const char *host, Pick... pick)
{
    const nfsres::Result<uint16_t> version = nfsRemoteVersion(host);
    if (!version.ok())
        return version.fail();
    const nfsres::Result<NfsMountSlots> slots = nfsMountSlotsOf(version.value());
    if (!slots.ok())
        return slots;
    for (const nfsres::Status filled : {nfsSlotFilled(pick(slots.value()))...}) {
        if (!filled.ok())
            return filled.fail();
    }
    return slots;
}

// The same on the C convention, for the cache: false with the error number set.
bool nfsSlotPresent(const void *slot);
template <typename Fn> bool nfsSlotPresent(Fn slot)
{
    return nfsSlotPresent(reinterpret_cast<const void *>(slot));
}

#endif
