// Mounting one export, or every export of a host, through the version the host offers.
#include "core/nfsMountVersion.h"

#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

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

} // namespace

extern "C" {

int nfsMount(const char *host, const char *fileSystem, const char *devName)
{
    if (host == nullptr || fileSystem == nullptr || devName == nullptr) {
        errnoSet(NFS_ERRNO_INVAL);
        return -1;
    }
    uint16_t version = 0;
    NfsMountSlots slots{};
    if (nfsRemoteVersionGet(host, &version) != 0 || !nfsMountSlotsGet(version, &slots) ||
        !nfsSlotPresent(slots.mount))
        return -1;
    return slots.mount(host, fileSystem, devName);
}

int nfsMountAll(const char *host, const char * /*unused*/, int quiet)
{
    if (host == nullptr) {
        errnoSet(NFS_ERRNO_INVAL);
        return -1;
    }
    uint16_t version = 0;
    if (nfsRemoteVersionGet(host, &version) != 0) {
        std::printf("nfsMountAll can't find remote version details\n");
        return -1;
    }
    NfsMountSlots slots{};
    if (!nfsMountSlotsGet(version, &slots) || !nfsSlotPresent(slots.exportRead) ||
        !nfsSlotPresent(slots.mount))
        return -1;
    ExportList list;
    if (slots.exportRead(host, &list.head) != 0)
        return -1;
    int result = 0;
    // Group lists are not consulted: every export is attempted, under its own path.
    for (const exportnode *node = list.head; node != nullptr; node = node->ex_next) {
        const bool mounted = slots.mount(host, node->ex_dir, node->ex_dir) != -1;
        if (!mounted)
            result = -1;
        if (quiet == 0)
            std::printf(mounted ? "%s:%s\n" : "%s:%s - FAILED\n", host, node->ex_dir);
    }
    return result;
}

} // extern "C"
