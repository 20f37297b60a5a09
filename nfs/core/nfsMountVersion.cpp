// Which MOUNT version to speak to a host: the highest that both its portmapper lists and an
// installed driver supports, from the versions listed over UDP, or over TCP where none is
// listed over UDP (or nfsTransport says TCP always). Asked afresh by every command.
#include "core/nfsCallSettings.h"
#include "core/nfsMountVersion.h"

#include "core/nfsConfig.h"
#include "rpc/nfsRemoteCall.h"

#include <brisnel/mount1Xdr.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/kernelErrno.h>

#include <rpc/pmap_prot.h>

#include <algorithm>
#include <array>
#include <cstddef>

namespace {

constexpr std::size_t kMaxCollected = 4;
constexpr unsigned long kNfsProgram = 100003;

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

// The versions this side can use, by installed driver, and by the mount's vers= where given.
bool locallySupported(unsigned long version)
{
    const int32_t asked = nfsCallVersion();
    return ((version == MOUNT_V1 && nfs2DrvNum >= 0 && (asked == 0 || asked == 2)) ||
            (version == MOUNT_V3 && nfs3DrvNum >= 0 && (asked == 0 || asked == 3)));
}

// The transports a program is registered over, for each of its versions seen.
struct Offered {
    VersionCollection udp;
    VersionCollection tcp;
    void add(const pmap &map)
    {
        if (map.pm_prot == IPPROTO_UDP)
            udp.add(map.pm_vers);
        else if (map.pm_prot == IPPROTO_TCP)
            tcp.add(map.pm_vers);
    }
    bool empty() const { return udp.begin() == udp.end() && tcp.begin() == tcp.end(); }
};

bool contains(const VersionCollection &versions, unsigned long version)
{
    return std::find(versions.begin(), versions.end(), version) != versions.end();
}

// The NFS version a MOUNT version serves.
unsigned long nfsVersionOf(unsigned long mountVersion)
{
    return mountVersion == MOUNT_V1 ? 2 : 3;
}

// The versions to choose from, or the error number that says why there are none worth trying:
// nothing of MOUNT registered at all, or only over TCP while the word says UDP only (no MOUNT
// version usable over UDP: the unusable-version number, as with the word at its default
// before TCP was known).
nfsres::Result<const VersionCollection *> usableVersions(const Offered &mount)
{
    const int32_t word = nfsCallTransport();
    const bool anyUdp = mount.udp.begin() != mount.udp.end();
    if (mount.empty())
        return nfsres::Fail{NFS_ERR_NOT_REGISTERED};
    if (word == NFS_TRANSPORT_TCP && mount.tcp.begin() != mount.tcp.end())
        return &mount.tcp;
    if (!anyUdp && word == NFS_TRANSPORT_UDP)
        return nfsres::Fail{NFS_ERRNO_NOTSUPP};
    return anyUdp ? &mount.udp : &mount.tcp;
}

// PMAPPROC_DUMP has no arguments.
bool_t noArguments(XDR * /*xdrs*/, void ** /*nothing*/)
{
    return TRUE;
}

} // namespace

nfsres::Result<uint16_t> nfsRemoteVersion(const char *host)
{
    if (nfs2DrvNum < 0 && nfs3DrvNum < 0)
        return nfsres::Fail{K_ENXIO};
    if (const nfsres::Result<int> ready = nfsres::viaErrno(nfsInit); !ready.ok())
        return ready.fail();
    Offered mount;
    Offered nfs;
    {
        const nfsrpc::Reply<pmaplist *> list({host, PMAPPROG, PMAPVERS}, PMAPPROC_DUMP, noArguments,
                                             static_cast<void *>(nullptr), xdr_pmaplist);
        if (!list.ok())
            return nfsres::Fail{list.error()};
        for (const pmaplist *node = *list; node != nullptr; node = node->pml_next) {
            if (node->pml_map.pm_prog == MOUNT_PROGRAM)
                mount.add(node->pml_map);
            else if (node->pml_map.pm_prog == kNfsProgram)
                nfs.add(node->pml_map);
        }
    }

    // A server whose NFS is listed as version 4 alone has no MOUNT worth asking.
    const auto only4 = [](const VersionCollection &v) {
        return contains(v, 4) && !contains(v, 2) && !contains(v, 3);
    };
    if ((only4(nfs.udp) || nfs.udp.begin() == nfs.udp.end()) &&
        (only4(nfs.tcp) || nfs.tcp.begin() == nfs.tcp.end()) && !nfs.empty())
        return nfsres::Fail{NFS_ERR_NOT_REGISTERED};
    const nfsres::Result<const VersionCollection *> remote = usableVersions(mount);
    if (!remote.ok())
        return remote.fail();
    uint16_t chosen = 0;
    for (const unsigned long version : *remote.value()) {
        if (locallySupported(version) && version > chosen)
            chosen = static_cast<uint16_t>(version);
    }
    if (chosen == 0)
        return nfsres::Fail{NFS_ERRNO_NOTSUPP};
    // A server whose NFS of that version is listed over TCP alone (a current Linux server's
    // default) cannot be used when the word says UDP only: say so before mounting.
    const unsigned long served = nfsVersionOf(chosen);
    if (nfsCallTransport() == NFS_TRANSPORT_UDP && !contains(nfs.udp, served) && contains(nfs.tcp, served))
        return nfsres::Fail{NFS_ERR_ONLY_OVER_TCP};
    return chosen;
}

int nfsRemoteVersionGet(const char *host, uint16_t *pVersion)
{
    const nfsres::Result<uint16_t> version = nfsRemoteVersion(host);
    *pVersion = version.ok() ? version.value() : 0;
    return nfsres::entry(nfsres::statusOf(version));
}

nfsres::Result<NfsMountSlots> nfsMountSlotsOf(uint16_t version)
{
    switch (version) {
    case MOUNT_V1:
        return NfsMountSlots{pFuncNfs2Mount, pFuncNfs2ExportRead, pFuncNfs2MntDump, pFuncNfs2UnmountAll,
                             pFuncNfs2Unmount};
    case MOUNT_V3:
        return NfsMountSlots{pFuncNfs3Mount, pFuncNfs3ExportRead, pFuncNfs3MntDump, pFuncNfs3UnmountAll,
                             pFuncNfs3Unmount};
    default: return nfsres::Fail{NFS_ERRNO_NOTSUPP};
    }
}

nfsres::Status nfsSlotFilled(const void *slot)
{
    return nfsres::statusOf(slot != nullptr, NFS_ERR_DISPATCH_SLOT_EMPTY);
}

bool nfsSlotPresent(const void *slot)
{
    return nfsres::entry(nfsSlotFilled(slot)) == 0;
}
