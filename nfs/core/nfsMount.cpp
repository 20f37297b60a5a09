// Mounting one export, or every export of a host, through the version the host offers.
#include "core/nfsCallSettings.h"
#include "core/nfsMountOptions.h"
#include "core/nfsMountVersion.h"

#include "core/nfsConfig.h"
#include "rpc/nfsRemoteCall.h"

#include <brisnel/nfs4Drv.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/kernelErrno.h>

#include <rpc/clnt.h>

#include <algorithm>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>

#include <cstdio>

namespace {

// The decoded export list, released when the scope ends. The mounts made while it is held
// replace the task's client handle, so the release goes straight to the XDR layer.
class ExportList {
public:
    ExportList() = default;
    ExportList(const ExportList &) = delete;
    ExportList &operator=(const ExportList &) = delete;
    ~ExportList() { xdr_free(nfsXdrProc(xdr_exports), reinterpret_cast<char *>(&head)); }

    exports head = nullptr;
};

bool asksVersion4(int32_t version)
{
    return version == NFS_VERSION_4 || version == NFS_VERSION_40 || version == NFS_VERSION_41;
}

// Why no MOUNT version was found, as a reason to try version 4 on port 2049: no driver of
// version 2 or 3 is installed, or the portmapper did not answer (silent, refused, unreachable)
// or lists no MOUNT program (a server of version 4 alone).
bool leadsToVersion4(int error)
{
    return error == NFS_ERR_NOT_REGISTERED || error == K_ENXIO || nfsrpc::unanswered(error) ||
           error == (K_RPC_CLNT_ERRNO_BASE | RPC_PROGUNAVAIL) ||
           error == (K_RPC_CLNT_ERRNO_BASE | RPC_PROGNOTREGISTERED);
}

// The portmapper asked with a wait of its own (nfsPortmapWaitSec, a send each second), so that
// a firewall that drops its packets costs a few seconds and not the call's whole time-out.
nfsres::Result<NfsMountSlots> portmapSlots(const char *host)
{
    const auto pick = [](const NfsMountSlots &s) { return s.mount; };
    const int32_t wait = std::clamp(nfsWordGet(nfsPortmapWaitSec), int32_t{1}, int32_t{60});
    if (nfsCallTimeout().sec < wait) // the call's own time-out is shorter
        return nfsHostSlots(host, pick);
    const NfsMountOptions *current = nfsCallOptions();
    NfsMountOptions quick = current != nullptr ? *current : NfsMountOptions{};
    quick.given |= NFS_OPT_TIMEO | NFS_OPT_RETRANS;
    quick.timeo = 10; // tenths
    quick.retrans = static_cast<decltype(quick.retrans)>(wait - 1);
    const NfsCallScope scope(&quick);
    return nfsHostSlots(host, pick);
}

nfsres::Status mountVersion4(const char *host, const char *fileSystem, const char *devName)
{
    NFS_TRY(nfsSlotFilled(pFuncNfs4Mount));
    return nfsres::statusOf(
        nfsres::viaErrno([host, fileSystem, devName] { return pFuncNfs4Mount(host, fileSystem, devName); }));
}

nfsres::Status mountOne(const char *host, const char *fileSystem, const char *devName)
{
    if (host == nullptr || fileSystem == nullptr || devName == nullptr)
        return nfsres::Fail{NFS_ERRNO_INVAL};
    const int32_t asked = nfsCallVersion();
    if (asksVersion4(asked))
        return mountVersion4(host, fileSystem, devName);
    const nfsres::Result<NfsMountSlots> slots = portmapSlots(host);
    if (!slots.ok() && asked == 0 && leadsToVersion4(slots.error()) && pFuncNfs4Mount != nullptr) {
        // A server that answered version 4 has the last word; one that did not answer it
        // either is reported as the portmapper found it.
        const nfsres::Status mounted = mountVersion4(host, fileSystem, devName);
        const bool answered = (mounted.error() & ~0xFFFF) == NFS_ERRNO_BASE;
        return mounted.ok() || answered || slots.error() == K_ENXIO ? mounted : slots.fail();
    }
    if (!slots.ok())
        return slots.fail();
    return nfsres::statusOf(nfsres::viaErrno(
        [&slots, host, fileSystem, devName] { return slots.value().mount(host, fileSystem, devName); }));
}

// The options are read before anything is asked of the server, and name the mount's device for
// every call the mount makes (the portmapper's, MOUNT's, FSINFO's); the device keeps them.
nfsres::Status mountWithOptions(const char *host, const char *fileSystem, const char *devName,
                                const char *text)
{
    if (host == nullptr || fileSystem == nullptr || devName == nullptr)
        return nfsres::Fail{NFS_ERRNO_INVAL};
    const nfsres::Result<NfsMountOptions> options = nfsMountOptionsParse(text);
    if (!options.ok())
        return options.fail();
    const NfsCallScope scope(&options.value());
    return mountOne(host, fileSystem, devName);
}

nfsres::Status mountAll(const char *host, int quiet)
{
    if (host == nullptr)
        return nfsres::Fail{NFS_ERRNO_INVAL};
    const nfsres::Result<uint16_t> version = nfsRemoteVersion(host);
    if (!version.ok()) {
        std::printf("nfsMountAll can't find remote version details\n");
        return version.fail();
    }
    const nfsres::Result<NfsMountSlots> slots = nfsMountSlotsOf(version.value());
    for (const nfsres::Status filled : {nfsres::statusOf(slots), nfsSlotFilled(slots.value().exportRead),
                                        nfsSlotFilled(slots.value().mount)}) {
        if (!filled.ok())
            return filled.fail();
    }
    const NfsMountSlots &slot = slots.value();
    ExportList list;
    if (const nfsres::Result<int> read =
            nfsres::viaErrno([&slot, host, &list] { return slot.exportRead(host, &list.head); });
        !read.ok())
        return read.fail();
    nfsres::Status result;
    // Group lists are not consulted: every export is attempted, under its own path; the
    // command fails with the last failure's error number.
    for (const exportnode *node = list.head; node != nullptr; node = node->ex_next) {
        const nfsres::Result<int> mounted =
            nfsres::viaErrno([&slot, host, node] { return slot.mount(host, node->ex_dir, node->ex_dir); });
        if (!mounted.ok())
            result = mounted.fail();
        if (quiet == 0)
            std::printf(mounted.ok() ? "%s:%s\n" : "%s:%s - FAILED\n", host, node->ex_dir);
    }
    return result;
}

} // namespace

extern "C" {

int nfsMount(const char *host, const char *fileSystem, const char *devName)
{
    return nfsres::entry(mountOne(host, fileSystem, devName));
}

int nfsMountOpt(const char *host, const char *fileSystem, const char *devName, const char *options)
{
    return nfsres::entry(mountWithOptions(host, fileSystem, devName, options));
}

int nfsMountAll(const char *host, const char * /*unused*/, int quiet)
{
    return nfsres::entry(mountAll(host, quiet));
}

} // extern "C"
