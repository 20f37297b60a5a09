// Module-private: the version 4 mount walk. There is no MOUNT service: the export's path is
// walked from the server's pseudo root (PUTROOTFH, then LOOKUP per component), and the security
// flavours come from SECINFO_NO_NAME where the server offers it (4.1).
#ifndef NFS_STATE_NFS4MOUNTWALK_H
#define NFS_STATE_NFS4MOUNTWALK_H

#include "core/nfsFileHandle.h"
#include "state/nfs4ClientState.h"

// The export's root: its handle and the attributes a mount needs of it.
struct Nfs4ExportRoot {
    NfsFh fh;
    nfs_ftype4 type = NF4DIR;
    uint64_t size = 0;
    NfsFsid fsid;
    uint64_t fileid = 0;
    uint32_t mode = 0;
};

// The root of the export at PATH ("/export/home"; "/" is the pseudo root itself), through the
// server's STATE. A missing component fails with NFS4ERR_NOENT's error number, a root that is no
// folder with NFS4ERR_NOTDIR's, an export that refuses AUTH_UNIX with NFS4ERR_WRONGSEC's, a
// path of more components than a compound carries or a component longer than NFS4_NAME_MAX with
// K_ENAMETOOLONG.
nfsres::Result<Nfs4ExportRoot> nfs4MountWalk(Nfs4ClientState &state, const char *path);

#endif
