/* The NFS version 2 operations, the twins of those in nfs3Ops.h with the same results. What
 * differs: handles are 32 bytes held inline (every handle argument is their address), the
 * attributes (fattr) always come with the replies that carry them, and positions and sizes on
 * the wire are 32-bit. */
#ifndef BRISNEL_NFS2OPS_H
#define BRISNEL_NFS2OPS_H

#include <brisnel/nfs2Drv.h>
#include <brisnel/nfs2Xdr.h>
#include <kernel/kernelStat.h>

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* As nfs3LookUpByName: on 0, res holds the last component's handle and attributes and dirFh
 * the directory that holds it; a path without components leaves res as it was and copies
 * mountFh into dirFh. */
int nfs2LookUpByName(const char *host, char *path, const nfs_fh2 *mountFh, diropres *res, nfs_fh2 *dirFh,
                     int noFollowLast);
int nfs2LinkRead(const char *host, const nfs_fh2 *fh, char *buf);
int nfs2FileRemove(const char *host, const nfs_fh2 *mountFh, char *path);
int nfs2Rename(const char *host, const nfs_fh2 *mountFh, const char *oldPath, const nfs_fh2 *oldDirFh,
               const char *newPath);
/* As nfs3ThingCreate; on entry dirFh holds the parent found by the caller, on 0 res holds the
 * new object and dirFh its parent. */
int nfs2ThingCreate(const char *host, char *path, const nfs_fh2 *mountFh, diropres *res, nfs_fh2 *dirFh,
                    int mode);
/* The transfers. A range reaching past 4 GiB fails with 0x30001b (file too large) before
 * anything is sent: the protocol's positions are 32-bit. */
int nfs2FileRead(const char *host, nfs_fh2 *fh, uint64_t offset, unsigned count, char *buf, fattr *attr);
int nfs2FileWrite(const char *host, nfs_fh2 *fh, uint64_t offset, unsigned count, const char *buf,
                  fattr *attr);
void nfs2FileAttrGet(const fattr *attr, struct kstat *pStat);
/* STATFS: block counts in the server's block size; no file slots (0). */
int nfs2FsAttrGet(const char *host, nfs_fh2 *fh, struct kstatfs *pFsStat);
/* As nfs3DirReadOne; dd_cookie holds the 4-byte cookie of the entry last returned. */
int nfs2DirReadOne(Nfs2OpenFile *pFile, KDIR *pDir);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
