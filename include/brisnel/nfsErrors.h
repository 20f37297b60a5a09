/* Error numbers raised by the brisnel module. */
#ifndef BRISNEL_NFSERRORS_H
#define BRISNEL_NFSERRORS_H

/* An NFS status nn from a reply becomes NFS_ERRNO_BASE | nn (see nfsErrnoSet). */
#define NFS_ERRNO_BASE 0x300000
#define NFS_ERRNO_INVAL 0x300016   /* a missing or invalid argument (status 22) */
#define NFS_ERRNO_NOTSUPP 0x302714 /* an unusable version (status 10004) */

/* No credential could be made for a new client handle. */
#define S_nfsLib_NFS_AUTH_UNIX_FAILED 0x2e0001
/* The object to remove is neither a regular file, a directory nor a symbolic link. */
#define S_nfsLib_NFS_INAPPROPRIATE_FILE_TYPE 0x2e0002

#endif
