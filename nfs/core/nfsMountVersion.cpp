// Which MOUNT version to speak to a host: the highest that both its portmapper lists over UDP
// and an installed driver supports. Asked afresh by every command.
#include "core/nfsMountVersion.h"

#include "core/nfsConfig.h"
#include "core/nfsRemoteCall.h"

#include <brisnel/mount1Xdr.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <rpc/pmap_prot.h>

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

constexpr std::size_t kMaxCollected = 4;

// Up to four distinct versions, in the order the list gives them. A version already held is
// not taken again, so repeated registrations cannot crowd out a later version; versions past
// the fourth distinct one are ignored.
class VersionCollection {
public:
    void add(unsigned long version)
    {
        const auto end = versions_.begin() + static_cast<std::ptrdiff_t>(count_);
        if (count_ == kMaxCollected || std::find(versions_.begin(), end, version) != end)
            return;
        versions_[count_++] = version;
    }
    const unsigned long *begin() const { return versions_.data(); }
    const unsigned long *end() const { return versions_.data() + count_; }

private:
    std::array<unsigned long, kMaxCollected> versions_{};
    std::size_t count_ = 0;
};

// The versions this side can use, by installed driver.
bool locallySupported(unsigned long version)
{
    return (version == MOUNT_V1 && nfs2DrvNum >= 0) || (version == MOUNT_V3 && nfs3DrvNum >= 0);
}

// PMAPPROC_DUMP has no arguments.
bool_t noArguments(XDR * /*xdrs*/, void ** /*nothing*/) { return TRUE; }

} // namespace

int nfsRemoteVersionGet(const char *host, uint16_t *pVersion)
{
    *pVersion = 0;
    if (nfs2DrvNum < 0 && nfs3DrvNum < 0) {
        errnoSet(K_ENXIO);
        return -1;
    }
    if (nfsInit() != 0)
        return -1;
    VersionCollection remote;
    {
        const nfsrpc::Reply<pmaplist *> list({host, PMAPPROG, PMAPVERS}, PMAPPROC_DUMP, noArguments,
                                             static_cast<void *>(nullptr), xdr_pmaplist);
        if (!list.ok()) {
            errnoSet(list.error());
            return -1;
        }
        for (const pmaplist *node = *list; node != nullptr; node = node->pml_next) {
            if (node->pml_map.pm_prog == MOUNT_PROGRAM && node->pml_map.pm_prot == IPPROTO_UDP)
                remote.add(node->pml_map.pm_vers);
        }
    }

    for (const unsigned long version : remote) {
        if (locallySupported(version) && version > *pVersion)
            *pVersion = static_cast<uint16_t>(version);
    }
    if (*pVersion != 0)
        return 0;
    errnoSet(NFS_ERRNO_NOTSUPP);
    return -1;
}

bool nfsMountSlotsGet(uint16_t version, NfsMountSlots *pSlots)
{
    switch (version) {
    case MOUNT_V1:
        *pSlots = {pFuncNfs2Mount, pFuncNfs2ExportRead, pFuncNfs2MntDump, pFuncNfs2UnmountAll,
                   pFuncNfs2Unmount};
        return true;
    case MOUNT_V3:
        *pSlots = {pFuncNfs3Mount, pFuncNfs3ExportRead, pFuncNfs3MntDump, pFuncNfs3UnmountAll,
                   pFuncNfs3Unmount};
        return true;
    default:
        errnoSet(NFS_ERRNO_NOTSUPP);
        return false;
    }
}

bool nfsSlotPresent(const void *slot)
{
    if (slot != nullptr)
        return true;
    errnoSet(NFS_ERR_DISPATCH_SLOT_EMPTY);
    return false;
}
