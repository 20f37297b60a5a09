// The MOUNT version 3 client: root handles of exports, unmount notices, export list and mount
// table, for the version 3 driver and the mount front end.
#include "ops/nfsMountOps.h"

#include "core/nfsArgs.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>

#include <cstring>

extern "C" {

int nfs3DirMount(const char *host, const char *dirPath, nfs_fh3 *fhOut)
{
    if (!nfsArgsGiven(host, dirPath, fhOut))
        return -1;
    if (fhOut->data.data_val == nullptr) {
        errnoSet(NFS_ERRNO_INVAL);
        return -1;
    }
    // Zeroed, so that the XDR layer allocates the handle and the flavour list.
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
    return mountops::dirUnmount(host, MOUNT_V3, dirPath);
}

int nfs3MntUnmountAll(const char *host)
{
    return mountops::unmountAll(host, MOUNT_V3);
}

int nfs3ExportRead(const char *host, exports *pExports)
{
    return mountops::exportRead(host, MOUNT_V3, pExports);
}

int nfs3MntDump(const char *host)
{
    return mountops::mntDump(host, MOUNT_V3);
}

int nfs3ExportShow(const char *host)
{
    return mountops::exportShow(host, MOUNT_V3);
}

} // extern "C"
