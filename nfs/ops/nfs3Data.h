// Module-private: the NFS version 3 operations that move file data and read the attributes of
// files and file systems. Each makes its remote calls through nfsClientCall and takes no lock;
// the caller serialises the use of one open file.
#ifndef NFS_OPS_NFS3DATA_H
#define NFS_OPS_NFS3DATA_H

#include <brisnel/nfs3Lib.h>
#include <brisnel/nfs3Xdr.h>
#include <kernel/kernelStat.h>

#include <cstdint>

// The FSINFO reply members that follow obj_attributes, in the protocol's order.
struct Nfs3FsInfo {
    uint32 rtmax;
    uint32 rtpref;
    uint32 rtmult;
    uint32 wtmax;
    uint32 wtpref;
    uint32 wtmult;
    uint32 dtpref;
    size3 maxfilesize;
    nfstime3 time_delta;
    uint32 properties;
};

// The PATHCONF values; name_max comes first, unlike in the reply.
struct Nfs3PathconfInfo {
    uint32 name_max;
    uint32 linkmax;
    uint32 no_trunc; // the booleans as 0 or 1
    uint32 chown_restricted;
    uint32 case_insensitive;
    uint32 case_preserving;
};

// Reads count bytes at offset into buf in READs of at most nfs3MaxMsgLen bytes, refreshing
// *attr from the replies: the bytes placed in buf (0 at end of file), or -1.
int nfs3FileRead(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, char *buf,
                 fattr3 *attr);
// Writes count bytes from buf at offset in WRITEs of at most nfs3MaxMsgLen bytes, each asking
// for the stability level nfs3WriteStable held at the start; *attr follows the last reply.
// count, or -1 (also when a reply accepts no bytes, or commits below the level asked).
int nfs3FileWrite(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count,
                  const char *buf, fattr3 *attr);
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
// Folds a reply's weak cache consistency data into *attr.
void nfs3DecodeWcc(const wcc_data *wcc, fattr3 *attr);
// The kernel's status record from the file's attributes; st_dev is left alone.
void nfs3FileAttrGet(const fattr3 *attr, struct kstat *pStat);
// FSSTAT: the first seven fields of the kernel's file-system status record; 0 or -1.
int nfs3FsAttrGet(const char *host, nfs_fh3 *fh, struct kstatfs *pFsStat);
// FSINFO; 0 or -1, the record untouched on failure.
int nfs3FsInfoGet(const char *host, nfs_fh3 *fh, Nfs3FsInfo *pInfo);
// PATHCONF; 0 or -1, the record untouched on failure.
int nfs3PathconfGet(const char *host, nfs_fh3 *fh, Nfs3PathconfInfo *pInfo);

#endif
