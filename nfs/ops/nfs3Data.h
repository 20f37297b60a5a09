// The NFS version 3 operations that move file data and read the attributes of files and file
// systems, declared in nfs3Ops.h; the caller serialises the use of one open file.
#ifndef NFS_OPS_NFS3DATA_H
#define NFS_OPS_NFS3DATA_H

#include <brisnel/nfs3Lib.h>
#include <brisnel/nfs3Ops.h>
#include <brisnel/nfs3Xdr.h>
#include <kernel/kernelStat.h>

#include <cstdint>

// What the WRITE replies of the calling task's last nfs3FileWrite said of the data's safety:
// whether the server took some of it into volatile storage only (UNSTABLE, to be committed),
// the write verifier of those replies, and whether two of them carried different verifiers.
struct Nfs3WriteVerdict {
    bool unstable;
    bool verfChanged;
    writeverf3 verf;
};
void nfs3WriteVerdictReset();
const Nfs3WriteVerdict &nfs3WriteVerdict();
// COMMIT of the whole file: 0 with the server's write verifier in verf, or -1. *attr follows
// the reply's weak cache consistency data.
int nfs3FileCommit(const char *host, nfs_fh3 *fh, writeverf3 verf, fattr3 *attr);

#endif
