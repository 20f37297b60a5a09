// The commands addressed to a host: unmount all, print its mount table or its exports; and the
// driver-number query.
#include "core/nfsMountVersion.h"
#include "rpc/nfsRemoteCall.h"

#include "ops/nfsMountOps.h"

#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>

namespace {

// The slot that hostSlot picks from the host's version, called for host.
template <typename Pick> nfsres::Status dispatchForHost(const char *host, Pick hostSlot)
{
    if (host == nullptr)
        return nfsres::Fail{NFS_ERRNO_INVAL};
    const nfsres::Result<NfsMountSlots> slots = nfsHostSlots(host, hostSlot);
    if (!slots.ok())
        return slots.fail();
    const NfsHostFn slot = hostSlot(slots.value());
    return nfsres::statusOf(nfsres::viaErrno([slot, host] { return slot(host); }));
}

nfsres::Status exportShow(const char *host)
{
    if (host == nullptr)
        return nfsres::Fail{NFS_ERR_NO_HOST};
    const nfsres::Result<NfsMountSlots> slots =
        nfsHostSlots(host, [](const NfsMountSlots &s) { return s.exportRead; });
    if (!slots.ok())
        return slots.fail();
    exports list = nullptr;
    const NfsExportReadFn read = slots.value().exportRead;
    if (const nfsres::Result<int> got = nfsres::viaErrno([read, host, &list] { return read(host, &list); });
        !got.ok() || got.value() != 0)
        return got.ok() ? nfsres::Fail{0} : got.fail();
    mountops::printExports(list);
    nfsrpc::release(nfsrpc::procOf(xdr_exports), &list, nullptr);
    return {};
}

nfsres::Result<int> drvNumOf(int version)
{
    NfsDrvNumGetFn slot = nullptr;
    if (version == NFS_V2)
        slot = pFuncNfs2DrvNumGet;
    else if (version == NFS_V3)
        slot = pFuncNfs3DrvNumGet;
    else
        return nfsres::Fail{0};
    if (const nfsres::Status filled = nfsSlotFilled(slot); !filled.ok())
        return filled.fail();
    return nfsres::viaErrno(slot);
}

} // namespace

extern "C" {

int nfsUnMountAll(const char *host)
{
    return nfsres::entry(dispatchForHost(host, [](const NfsMountSlots &slots) { return slots.unmountAll; }));
}

int nfsMntDump(const char *host)
{
    return nfsres::entry(dispatchForHost(host, [](const NfsMountSlots &slots) { return slots.mntDump; }));
}

int nfsExportShow(const char *host)
{
    return nfsres::entry(exportShow(host));
}

int nfsDrvNumGet(int version)
{
    return nfsres::entry(drvNumOf(version));
}

} // extern "C"
