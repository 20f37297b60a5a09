// The commands addressed to a host: unmount all, print its mount table or its exports; and the
// driver-number query.
#include "core/nfsMountVersion.h"
#include "core/nfsRemoteCall.h"

#include "ops/nfsMountOps.h"

#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

namespace {

// The slot that hostSlot picks from the host's version, called for host; -1 when the host is
// null, its version unusable or the slot empty.
template <typename Pick> int dispatchForHost(const char *host, Pick hostSlot)
{
    if (host == nullptr) {
        errnoSet(NFS_ERRNO_INVAL);
        return -1;
    }
    uint16_t version = 0;
    NfsMountSlots slots{};
    if (nfsRemoteVersionGet(host, &version) != 0 || !nfsMountSlotsGet(version, &slots))
        return -1;
    const NfsHostFn slot = hostSlot(slots);
    if (!nfsSlotPresent(slot))
        return -1;
    return slot(host);
}

} // namespace

extern "C" {

int nfsUnMountAll(const char *host)
{
    return dispatchForHost(host, [](const NfsMountSlots &slots) { return slots.unmountAll; });
}

int nfsMntDump(const char *host)
{
    return dispatchForHost(host, [](const NfsMountSlots &slots) { return slots.mntDump; });
}

int nfsExportShow(const char *host)
{
    if (host == nullptr) {
        errnoSet(NFS_ERR_NO_HOST);
        return -1;
    }
    uint16_t version = 0;
    NfsMountSlots slots{};
    if (nfsRemoteVersionGet(host, &version) != 0 || !nfsMountSlotsGet(version, &slots) ||
        !nfsSlotPresent(slots.exportRead))
        return -1;
    exports list = nullptr;
    if (slots.exportRead(host, &list) != 0)
        return -1;
    mountops::printExports(list);
    nfsrpc::release(nfsrpc::procOf(xdr_exports), &list, nullptr);
    return 0;
}

int nfsDrvNumGet(int version)
{
    NfsDrvNumGetFn slot = nullptr;
    if (version == NFS_V2)
        slot = pFuncNfs2DrvNumGet;
    else if (version == NFS_V3)
        slot = pFuncNfs3DrvNumGet;
    else
        return -1;
    if (!nfsSlotPresent(slot))
        return -1;
    return slot();
}

} // extern "C"
