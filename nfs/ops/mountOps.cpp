// The MOUNT client of both versions: version 1 for the version 2 driver, version 3 for the
// version 3 driver. Only MNT differs in its result (a 32-byte handle inline, or a handle of
// its own length with a flavour list); the other procedures are one routine each, over the
// version number.
#include "ops/nfsMountOps.h"

#include "ops/nfs2Protocol.h"
#include "ops/nfs3Protocol.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/mount1Xdr.h>
#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>

#include <cstdio>
#include <cstring>

namespace {

using nfsops::given;
using nfsres::Fail;
using nfsres::Status;

// The call's failure, or success.
template <typename Res> Status called(const nfsrpc::Reply<Res> &reply)
{
    return reply.ok() ? Status{} : Fail{reply.error()};
}

Status dirUnmount(const char *host, uint32_t version, const char *dirPath)
{
    if (const Status present = given(host, dirPath); !present.ok())
        return present;
    char *path = const_cast<char *>(dirPath); // only encoded
    return called(nfsrpc::Reply<void *>(nfsops::mountPeer(host, version), MOUNTPROC3_UMNT, xdr_dirpath, path,
                                        nfsops::noData));
}

Status unmountAll(const char *host, uint32_t version)
{
    if (const Status present = given(host); !present.ok())
        return present;
    return called(nfsrpc::Reply<void *>(nfsops::mountPeer(host, version), MOUNTPROC3_UMNTALL, nfsops::noData,
                                        static_cast<void *>(nullptr), nfsops::noData));
}

Status exportRead(const char *host, uint32_t version, exports *pExports)
{
    if (const Status present = given(host, pExports); !present.ok())
        return present;
    *pExports = nullptr;
    nfsrpc::Reply<exports> reply(nfsops::mountPeer(host, version), MOUNTPROC3_EXPORT, nfsops::noData,
                                 static_cast<void *>(nullptr), xdr_exports, pExports);
    if (!reply.ok())
        return Fail{reply.error()};
    reply.keep(); // the caller's list now
    return {};
}

Status mntDump(const char *host, uint32_t version)
{
    if (const Status present = given(host); !present.ok())
        return present;
    const nfsrpc::Reply<mountlist> reply(nfsops::mountPeer(host, version), MOUNTPROC3_DUMP, nfsops::noData,
                                         static_cast<void *>(nullptr), xdr_mountlist);
    if (!reply.ok())
        return Fail{reply.error()};
    mountops::printMountList(*reply);
    return {};
}

Status exportShow(const char *host, uint32_t version)
{
    if (const Status present = given(host); !present.ok())
        return present;
    const nfsrpc::Reply<exports> reply(nfsops::mountPeer(host, version), MOUNTPROC3_EXPORT, nfsops::noData,
                                       static_cast<void *>(nullptr), xdr_exports);
    if (!reply.ok())
        return Fail{reply.error()};
    mountops::printExports(*reply);
    return {};
}

// The MOUNT status values are plain error numbers (13: access denied).
} // namespace

Status Nfs3Protocol::dirMount(const char *host, const char *dirPath, nfs_fh3 *fhOut)
{
    if (const Status present = given(host, dirPath, fhOut); !present.ok())
        return present;
    if (fhOut->data.data_val == nullptr)
        return Fail{NFS_ERRNO_INVAL};
    char *path = const_cast<char *>(dirPath); // only encoded
    const nfsrpc::Reply<mountres3> reply(nfsops::mountPeer(host, MOUNT_V3), MOUNTPROC3_MNT, xdr_dirpath, path,
                                         xdr_mountres3);
    if (!reply.ok())
        return Fail{reply.error()};
    const mountres3 &res = *reply;
    if (res.fhs_status != MNT3_OK)
        return Fail{static_cast<int>(res.fhs_status)};
    // The auth_flavors are not looked at: every call carries the module's UNIX credential.
    const fhandle3 &handle = res.mountres3_u.mountinfo.fhandle;
    const u_int length = handle.fhandle3_len <= FHSIZE3 ? handle.fhandle3_len : FHSIZE3;
    if (length > 0)
        std::memcpy(fhOut->data.data_val, handle.fhandle3_val, length);
    fhOut->data.data_len = length;
    return {};
}

Status Nfs2Protocol::dirMount(const char *host, const char *dirPath, unsigned char *fhOut)
{
    if (const Status client = nfsops::clientReady(); !client.ok())
        return client;
    if (const Status present = given(host, dirPath, fhOut); !present.ok())
        return present;
    char *path = const_cast<char *>(dirPath); // only encoded
    const nfsrpc::Reply<fhstatus> reply(nfsops::mountPeer(host, MOUNT_V1), MOUNTPROC_MNT, xdr_dirpath, path,
                                        xdr_fhstatus);
    if (!reply.ok())
        return Fail{reply.error()};
    const fhstatus &res = *reply;
    if (res.status != 0)
        return Fail{static_cast<int>(res.status)};
    std::memcpy(fhOut, res.fhstatus_u.directory, FHSIZE);
    return {};
}

Status Nfs3Protocol::mntUnmountAll(const char *host)
{
    return unmountAll(host, MOUNT_V3);
}

Status Nfs2Protocol::mntUnmountAll(const char *host)
{
    return unmountAll(host, MOUNT_V1);
}

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
    return nfsres::entry(Nfs3Protocol::dirMount(host, dirPath, fhOut));
}
int nfs3DirUnmount(const char *host, const char *dirPath)
{
    return nfsres::entry(dirUnmount(host, MOUNT_V3, dirPath));
}
int nfs3MntUnmountAll(const char *host)
{
    return nfsres::entry(unmountAll(host, MOUNT_V3));
}
int nfs3ExportRead(const char *host, exports *pExports)
{
    return nfsres::entry(exportRead(host, MOUNT_V3, pExports));
}
int nfs3MntDump(const char *host)
{
    return nfsres::entry(mntDump(host, MOUNT_V3));
}
int nfs3ExportShow(const char *host)
{
    return nfsres::entry(exportShow(host, MOUNT_V3));
}

int nfs2DirMount(const char *host, const char *dirPath, unsigned char *fhOut)
{
    return nfsres::entry(Nfs2Protocol::dirMount(host, dirPath, fhOut));
}
int nfs2DirUnmount(const char *host, const char *dirPath)
{
    return nfsres::entry(dirUnmount(host, MOUNT_V1, dirPath));
}
int nfs2MntUnmountAll(const char *host)
{
    return nfsres::entry(unmountAll(host, MOUNT_V1));
}
int nfs2ExportRead(const char *host, exports *pExports)
{
    return nfsres::entry(exportRead(host, MOUNT_V1, pExports));
}
int nfs2MntDump(const char *host)
{
    const Status client = nfsops::clientReady();
    return nfsres::entry(client.ok() ? mntDump(host, MOUNT_V1) : client);
}
int nfs2ExportShow(const char *host)
{
    return nfsres::entry(exportShow(host, MOUNT_V1));
}

} // extern "C"
