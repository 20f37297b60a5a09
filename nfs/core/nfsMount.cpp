// Mounting one export, or every export of a host, through the version the host offers.
#include "core/nfsCallSettings.h"
#include "core/nfsMountOptions.h"
#include "core/nfsMountVersion.h"

#include <brisnel/nfsErrors.h>
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

nfsres::Status mountOne(const char *host, const char *fileSystem, const char *devName)
{
    if (host == nullptr || fileSystem == nullptr || devName == nullptr)
        return nfsres::Fail{NFS_ERRNO_INVAL};
    const nfsres::Result<NfsMountSlots> slots =
        nfsHostSlots(host, [](const NfsMountSlots &s) { return s.mount; });
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
    constexpr int32_t kVersion4 = 40;
    if ((options.value().given & NFS_OPT_VERS) != 0 && options.value().version >= kVersion4)
        return nfsres::Fail{NFS_ERR_VERSION_NOT_YET};
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
