/* In-memory forms of the MOUNT version 1 types of their own and their XDR filter routines. The
 * path, name, mount-list and export-list routines are shared with version 3 (mount3Xdr.h). */
#ifndef BRISNEL_MOUNT1XDR_H
#define BRISNEL_MOUNT1XDR_H

#include <brisnel/mount3Xdr.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define MOUNT_V1 1

#define MOUNTPROC_NULL 0
#define MOUNTPROC_MNT 1
#define MOUNTPROC_DUMP 2
#define MOUNTPROC_UMNT 3
#define MOUNTPROC_UMNTALL 4
#define MOUNTPROC_EXPORT 5

#define FHSIZE 32

/* The MOUNT version 1 handle: 32 bytes inline, the same bytes on the wire as nfs_fh2. */
typedef char fhandle[FHSIZE];

/* The MNT result: status 0 carries the handle, any other status nothing more. */
typedef struct fhstatus {
    u_int status;
    union {
        fhandle directory;
    } fhstatus_u;
} fhstatus;

bool_t xdr_fhandle(XDR *xdrs, char *objp);
bool_t xdr_fhstatus(XDR *xdrs, fhstatus *objp);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
