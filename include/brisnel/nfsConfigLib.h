/* The brisnel module's exported configuration: the auto-close word and the cache geometry
 * setters. The other tunables are module-private. */
#ifndef BRISNEL_NFSCONFIGLIB_H
#define BRISNEL_NFSCONFIGLIB_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* Longest path name handled; sizes every path buffer. */
#define NFS_MAX_PATH 256
#define NFS_HOST_NAME_LEN 64

/* Non-zero: closing a file also closes the calling task's RPC client. */
extern int nfsAutoClose;

/* Stored unchecked; they apply to devices mounted afterwards. */
void nfs2CacheParamsSet(int lines, int bytesPerLine, int options);
void nfs3CacheParamsSet(int lines, int bytesPerLine, int options);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
