// The MOUNT version 1 client, for the version 2 driver: the twins of the version 3 operations.
#include "ops/nfsMountOps.h"

#include "core/nfsArgs.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/mount1Xdr.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

#include <cstring>

extern "C" {

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
    return mountops::dirUnmount(host, MOUNT_V1, dirPath);
}

int nfs2MntUnmountAll(const char *host)
{
    return mountops::unmountAll(host, MOUNT_V1);
}

int nfs2ExportRead(const char *host, exports *pExports)
{
    return mountops::exportRead(host, MOUNT_V1, pExports);
}

int nfs2MntDump(const char *host)
{
    if (nfsInit() != 0)
        return -1;
    return mountops::mntDump(host, MOUNT_V1);
}

int nfs2ExportShow(const char *host)
{
    return mountops::exportShow(host, MOUNT_V1);
}

} // extern "C"
