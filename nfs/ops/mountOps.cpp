// The MOUNT client of both versions: version 1 for the version 2 driver, version 3 for the
// version 3 driver. Only MNT differs in its result (a 32-byte handle inline, or a handle of
// its own length with a flavour list); the other procedures are one routine each, over the
// version number.
#include "ops/nfsMountOps.h"

#include "core/nfsArgs.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/mount1Xdr.h>
#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

#include <cstdio>
#include <cstring>

namespace {

int dirUnmount(const char *host, uint32_t version, const char *dirPath)
{
    if (!nfsArgsGiven(host, dirPath))
        return -1;
    char *path = const_cast<char *>(dirPath); // only encoded
    const nfsrpc::Reply<void *> reply(nfsops::mountPeer(host, version), MOUNTPROC3_UMNT, xdr_dirpath, path,
                                      nfsops::noData);
    return nfsops::failed(reply) ? -1 : 0;
}

int unmountAll(const char *host, uint32_t version)
{
    if (!nfsArgsGiven(host))
        return -1;
    const nfsrpc::Reply<void *> reply(nfsops::mountPeer(host, version), MOUNTPROC3_UMNTALL, nfsops::noData,
                                      static_cast<void *>(nullptr), nfsops::noData);
    return nfsops::failed(reply) ? -1 : 0;
}

int exportRead(const char *host, uint32_t version, exports *pExports)
{
    if (!nfsArgsGiven(host, pExports))
        return -1;
    *pExports = nullptr;
    nfsrpc::Reply<exports> reply(nfsops::mountPeer(host, version), MOUNTPROC3_EXPORT, nfsops::noData,
                                 static_cast<void *>(nullptr), xdr_exports, pExports);
    if (nfsops::failed(reply))
        return -1;
    reply.keep(); // the caller's list now
    return 0;
}

int mntDump(const char *host, uint32_t version)
{
    if (!nfsArgsGiven(host))
        return -1;
    const nfsrpc::Reply<mountlist> reply(nfsops::mountPeer(host, version), MOUNTPROC3_DUMP, nfsops::noData,
                                         static_cast<void *>(nullptr), xdr_mountlist);
    if (nfsops::failed(reply))
        return -1;
    mountops::printMountList(*reply);
    return 0;
}

int exportShow(const char *host, uint32_t version)
{
    if (!nfsArgsGiven(host))
        return -1;
    const nfsrpc::Reply<exports> reply(nfsops::mountPeer(host, version), MOUNTPROC3_EXPORT, nfsops::noData,
                                       static_cast<void *>(nullptr), xdr_exports);
    if (nfsops::failed(reply))
        return -1;
    mountops::printExports(*reply);
    return 0;
}

} // namespace

namespace mountops {

void printExports(const exportnode *list)
{
    for (const exportnode *node = list; node != nullptr; node = node->ex_next) {
        std::printf("%-25s ", node->ex_dir);
        for (const groupnode *group = node->ex_groups; group != nullptr; group = group->gr_next)
            std::printf("%s ", group->gr_name);
        std::printf("\n");
    }
}

void printMountList(const mountbody *list)
{
    for (const mountbody *node = list; node != nullptr; node = node->ml_next)
        std::printf("%s:%s\n", node->ml_hostname, node->ml_directory);
}

} // namespace mountops

extern "C" {

int nfs3DirMount(const char *host, const char *dirPath, nfs_fh3 *fhOut)
{
    if (!nfsArgsGiven(host, dirPath, fhOut))
        return -1;
    if (fhOut->data.data_val == nullptr) {
        errnoSet(NFS_ERRNO_INVAL);
        return -1;
    }
    char *path = const_cast<char *>(dirPath); // only encoded
    const nfsrpc::Reply<mountres3> reply(nfsops::mountPeer(host, MOUNT_V3), MOUNTPROC3_MNT, xdr_dirpath, path,
                                         xdr_mountres3);
    if (nfsops::failed(reply))
        return -1;
    const mountres3 &res = *reply;
    if (res.fhs_status != MNT3_OK) {
        // The MOUNT status values are plain error numbers (13: access denied).
        netErrnoSet(static_cast<int>(res.fhs_status));
        return -1;
    }
    // The auth_flavors are not looked at: every call carries the module's UNIX credential.
    const fhandle3 &handle = res.mountres3_u.mountinfo.fhandle;
    const u_int length = handle.fhandle3_len <= FHSIZE3 ? handle.fhandle3_len : FHSIZE3;
    if (length > 0)
        std::memcpy(fhOut->data.data_val, handle.fhandle3_val, length);
    fhOut->data.data_len = length;
    return 0;
}

int nfs3DirUnmount(const char *host, const char *dirPath)
{
    return dirUnmount(host, MOUNT_V3, dirPath);
}
int nfs3MntUnmountAll(const char *host)
{
    return unmountAll(host, MOUNT_V3);
}
int nfs3ExportRead(const char *host, exports *pExports)
{
    return exportRead(host, MOUNT_V3, pExports);
}
int nfs3MntDump(const char *host)
{
    return mntDump(host, MOUNT_V3);
}
int nfs3ExportShow(const char *host)
{
    return exportShow(host, MOUNT_V3);
}

int nfs2DirMount(const char *host, const char *dirPath, unsigned char *fhOut)
{
    if (nfsInit() != 0)
        return -1;
    if (!nfsArgsGiven(host, dirPath, fhOut))
        return -1;
    char *path = const_cast<char *>(dirPath); // only encoded
    const nfsrpc::Reply<fhstatus> reply(nfsops::mountPeer(host, MOUNT_V1), MOUNTPROC_MNT, xdr_dirpath, path,
                                        xdr_fhstatus);
    if (nfsops::failed(reply))
        return -1;
    const fhstatus &res = *reply;
    if (res.status != 0) {
        netErrnoSet(static_cast<int>(res.status));
        return -1;
    }
    std::memcpy(fhOut, res.fhstatus_u.directory, FHSIZE);
    return 0;
}

int nfs2DirUnmount(const char *host, const char *dirPath)
{
    return dirUnmount(host, MOUNT_V1, dirPath);
}
int nfs2MntUnmountAll(const char *host)
{
    return unmountAll(host, MOUNT_V1);
}
int nfs2ExportRead(const char *host, exports *pExports)
{
    return exportRead(host, MOUNT_V1, pExports);
}
int nfs2MntDump(const char *host)
{
    return nfsInit() != 0 ? -1 : mntDump(host, MOUNT_V1);
}

int nfs2ExportShow(const char *host)
{
    return exportShow(host, MOUNT_V1);
}

} // extern "C"
