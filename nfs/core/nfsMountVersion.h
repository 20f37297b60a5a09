// The choice of MOUNT version for a mount command, and the dispatch slots of that version.
#ifndef NFS_CORE_NFSMOUNTVERSION_H
#define NFS_CORE_NFSMOUNTVERSION_H

#include "core/nfsDispatch.h"

#include <cstdint>

// Asks host's portmapper for its registrations and stores the highest MOUNT version offered
// that an installed driver supports (1 with the version 2 driver, 3 with the version 3
// driver): of those over UDP, or over TCP when none is over UDP or nfsTransport says TCP.
// 0, or -1 with the error number set (6: no driver; 0x302714: none shared; 0x2e0004: no MOUNT
// registered; 0x2e0003: MOUNT, or the NFS version it serves, only over TCP while nfsTransport
// says UDP only).
int nfsRemoteVersionGet(const char *host, uint16_t *pVersion);

// The dispatch slots that serve one MOUNT version.
struct NfsMountSlots {
    NfsMountFn mount;
    NfsExportReadFn exportRead;
    NfsHostFn mntDump;
    NfsHostFn unmountAll;
    NfsUnmountFn unmount;
};

// The slots of MOUNT version 1 (the version 2 half) or 3; false with 0x302714 for any other.
bool nfsMountSlotsGet(uint16_t version, NfsMountSlots *pSlots);

// Sets 0x3d0002 when slot is null; true when it is set.
bool nfsSlotPresent(const void *slot);
template <typename Fn> bool nfsSlotPresent(Fn slot)
{
    return nfsSlotPresent(reinterpret_cast<const void *>(slot));
}

#endif
