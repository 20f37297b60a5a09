/* The NFS version 3 operations: path lookup with symbolic-link rewriting, the namespace
 * changes, data transfer, attributes of files and file systems, and directory reading one
 * entry per call. Each makes its remote calls through nfsClientCall and takes no lock.
 *
 * Results follow the kernel's convention: 0 on success, -1 with the error number set, and -2
 * when a symbolic link was met and the caller's path buffer (NFS_MAX_PATH bytes) has been
 * rewritten for the I/O system to resolve again. A rewritten path always begins with a
 * separator, so that the device name followed by it is again a path under the device. */
#ifndef BRISNEL_NFS3OPS_H
#define BRISNEL_NFS3OPS_H

#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/kernelStat.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The FSINFO reply members that follow obj_attributes, in the protocol's order. */
typedef struct Nfs3FsInfo {
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
} Nfs3FsInfo;

/* The PATHCONF values; name_max comes first, unlike in the reply. */
typedef struct Nfs3PathconfInfo {
    uint32 name_max;
    uint32 linkmax;
    uint32 no_trunc; /* the booleans as 0 or 1 */
    uint32 chown_restricted;
    uint32 case_insensitive;
    uint32 case_preserving;
} Nfs3PathconfInfo;

/* Looks path up from mountFh one LOOKUP per component. On 0, res describes the last component
 * (its handle in the 64-byte buffer the caller set in res's object handle) and dirFh (its own
 * 64-byte buffer) holds the directory containing it; a path without components leaves res as
 * prepared and copies mountFh into dirFh. On -1, dirFh holds the deepest directory reached.
 * noFollowLast non-zero takes a link in the last component as the object itself. */
int nfs3LookUpByName(const char *host, char *path, const nfs_fh3 *mountFh, LOOKUP3res *res, nfs_fh3 *dirFh,
                     int noFollowLast);
/* Reads the text of the symbolic link fh into buf (NFS_MAX_PATH bytes, terminated); 0 or -1. */
int nfs3LinkRead(const char *host, const nfs_fh3 *fh, char *buf);
/* Removes the file, link (not its target) or empty directory path names; 0, -1 or -2. */
int nfs3FileRemove(const char *host, const nfs_fh3 *mountFh, char *path);
/* Renames the last component of oldPath in the directory oldDirFh to newPath (relative to the
 * mount; without a directory part it stays in oldDirFh). Links in newPath's directory part
 * are followed here; 0 or -1. */
int nfs3Rename(const char *host, const nfs_fh3 *mountFh, const char *oldPath, const nfs_fh3 *oldDirFh,
               const char *newPath);
/* Creates the last component of path: a directory when mode has 0x4000, else a regular file
 * (mode 0 gives 0640). On entry dirFh holds the parent found by the caller's failed lookup;
 * its buffer receives the handles decoded here, and on 0 res's obj points into it. res is a
 * CREATE3res (a MKDIR3res has the same form). 0, -1 or -2. */
int nfs3ThingCreate(const char *host, char *path, const nfs_fh3 *mountFh, CREATE3res *res, nfs_fh3 *dirFh,
                    int mode);
/* The next entry of the open directory pFile into pDir's entry name; 0 with dd_eof set to 1 at
 * the end; -1 on failure. A dd_cookie of 0 starts at the beginning. Entry names longer than
 * the entry's 255 characters are cut to 255. */
int nfs3DirReadOne(NfsOpenFile *pFile, KDIR *pDir);

/* Reads count bytes at offset into buf in READs of at most nfs3MaxMsgLen bytes, refreshing
 * *attr from the replies: the bytes placed in buf (0 at end of file), or -1. */
int nfs3FileRead(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, char *buf, fattr3 *attr);
/* Writes count bytes from buf at offset in WRITEs of at most nfs3MaxMsgLen bytes, each asking
 * for the stability level nfs3StableWriteGet gave at the start; *attr follows the last reply.
 * count, or -1 (also when a reply accepts no bytes, or commits below the level asked). */
int nfs3FileWrite(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, const char *buf,
                  fattr3 *attr);
/* Folds a reply's weak cache consistency data into *attr. */
void nfs3DecodeWcc(const wcc_data *wcc, fattr3 *attr);
/* The kernel's status record from the file's attributes; st_dev is left alone. */
void nfs3FileAttrGet(const fattr3 *attr, struct kstat *pStat);
/* FSSTAT: the first seven fields of the kernel's file-system status record; 0 or -1. */
int nfs3FsAttrGet(const char *host, nfs_fh3 *fh, struct kstatfs *pFsStat);
/* FSINFO; 0 or -1, the record untouched on failure. */
int nfs3FsInfoGet(const char *host, nfs_fh3 *fh, Nfs3FsInfo *pInfo);
/* PATHCONF; 0 or -1, the record untouched on failure. */
int nfs3PathconfGet(const char *host, nfs_fh3 *fh, Nfs3PathconfInfo *pInfo);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
