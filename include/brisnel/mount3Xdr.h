/* In-memory forms of the MOUNT version 3 types and their XDR filter routines, plus the list
 * types that MOUNT versions 1 and 3 share (mount entries, exports and their groups).
 *
 * Lists are chains of nodes linked through their next member, null at the end; each node and
 * its strings are allocated while decoding and the whole chain is released by freeing the head.
 * Lists are walked iteratively, so a long list cannot exhaust the stack. A fhandle3 decodes into
 * the caller's buffer (at least FHSIZE3 bytes) when its pointer is already set. */
#ifndef BRISNEL_MOUNT3XDR_H
#define BRISNEL_MOUNT3XDR_H

#include <brisnel/nfs3Xdr.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define MOUNT_PROGRAM 100005
#define MOUNT_V3 3

#define MOUNTPROC3_NULL 0
#define MOUNTPROC3_MNT 1
#define MOUNTPROC3_DUMP 2
#define MOUNTPROC3_UMNT 3
#define MOUNTPROC3_UMNTALL 4
#define MOUNTPROC3_EXPORT 5

#define MNTPATHLEN 1024
#define MNTNAMLEN 255
#define FHSIZE3 64
/* Most security flavours a MNT reply may list; a longer list fails to decode. */
#define MNT_MAX_AUTH_FLAVORS 16

typedef struct fhandle3 {
    u_int fhandle3_len;
    char *fhandle3_val;
} fhandle3;

typedef NFS_XDR_ENUM(mountstat3){MNT3_OK = 0,
                                 MNT3ERR_PERM = 1,
                                 MNT3ERR_NOENT = 2,
                                 MNT3ERR_IO = 5,
                                 MNT3ERR_ACCES = 13,
                                 MNT3ERR_NOTDIR = 20,
                                 MNT3ERR_INVAL = 22,
                                 MNT3ERR_NAMETOOLONG = 63,
                                 MNT3ERR_NOTSUPP = 10004,
                                 MNT3ERR_SERVERFAULT = 10006} mountstat3;

typedef struct mountres3_ok {
    fhandle3 fhandle;
    struct {
        u_int auth_flavors_len;
        int *auth_flavors_val;
    } auth_flavors;
} mountres3_ok;

typedef struct mountres3 {
    mountstat3 fhs_status;
    union {
        mountres3_ok mountinfo;
    } mountres3_u;
} mountres3;

/* Shared by MOUNT versions 1 and 3. A dirpath holds at most MNTPATHLEN bytes and a name at most
 * MNTNAMLEN; both are char * in memory. */
typedef struct mountbody *mountlist;
typedef struct mountbody {
    char *ml_hostname;
    char *ml_directory;
    mountlist ml_next;
} mountbody;

typedef struct groupnode {
    char *gr_name;
    struct groupnode *gr_next;
} groupnode;

typedef struct exportnode *exports;
typedef struct exportnode {
    char *ex_dir;
    groupnode *ex_groups;
    exports ex_next;
} exportnode;

bool_t xdr_fhandle3(XDR *xdrs, fhandle3 *objp);
bool_t xdr_mountstat3(XDR *xdrs, mountstat3 *objp);
bool_t xdr_mountres3_ok(XDR *xdrs, mountres3_ok *objp);
bool_t xdr_mountres3(XDR *xdrs, mountres3 *objp);

bool_t xdr_dirpath(XDR *xdrs, char **objp);
bool_t xdr_name(XDR *xdrs, char **objp);
bool_t xdr_mountlist(XDR *xdrs, mountlist *objp);
bool_t xdr_mountbody(XDR *xdrs, mountbody *objp);
bool_t xdr_groups(XDR *xdrs, groupnode **objp);
bool_t xdr_groupnode(XDR *xdrs, groupnode *objp);
bool_t xdr_exports(XDR *xdrs, exports *objp);
bool_t xdr_exportnode(XDR *xdrs, exportnode *objp);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
