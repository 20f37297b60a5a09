// XDR routines of the NFS version 2 simple types: file type, handle, cookie, times, attributes
// and the variable data of READ and WRITE.
#include <brisnel/nfs2Xdr.h>

#include "xdrSupport.h"

/* enum ftype { NFNON = 0, NFREG = 1, NFDIR = 2, NFBLK = 3, NFCHR = 4, NFLNK = 5 }; */
bool_t xdr_ftype(XDR *xdrs, ftype *objp)
{
    return xdrsupport::enumValue(xdrs, objp);
}

/* typedef opaque fhandle[FHSIZE]; (the NFS handle, named nfs_fh2 here) */
bool_t xdr_nfs_fh2(XDR *xdrs, char *objp)
{
    return xdr_opaque(xdrs, objp, NFS_FHSIZE);
}

/* typedef opaque nfscookie[NFS_COOKIESIZE]; */
bool_t xdr_nfscookie(XDR *xdrs, char *objp)
{
    return xdr_opaque(xdrs, objp, NFS_COOKIESIZE);
}

/* struct timeval { unsigned int seconds; unsigned int useconds; }; */
bool_t xdr_nfstime(XDR *xdrs, nfstime *objp)
{
    return xdr_u_int(xdrs, &objp->seconds) && xdr_u_int(xdrs, &objp->useconds);
}

/* struct fattr {
 *     ftype type; unsigned int mode; unsigned int nlink; unsigned int uid; unsigned int gid;
 *     unsigned int size; unsigned int blocksize; unsigned int rdev; unsigned int blocks;
 *     unsigned int fsid; unsigned int fileid; timeval atime; timeval mtime; timeval ctime;
 * }; */
bool_t xdr_fattr(XDR *xdrs, fattr *objp)
{
    return xdr_ftype(xdrs, &objp->type) && xdr_u_int(xdrs, &objp->mode) && xdr_u_int(xdrs, &objp->nlink) &&
           xdr_u_int(xdrs, &objp->uid) && xdr_u_int(xdrs, &objp->gid) && xdr_u_int(xdrs, &objp->size) &&
           xdr_u_int(xdrs, &objp->blocksize) && xdr_u_int(xdrs, &objp->rdev) &&
           xdr_u_int(xdrs, &objp->blocks) && xdr_u_int(xdrs, &objp->fsid) && xdr_u_int(xdrs, &objp->fileid) &&
           xdr_nfstime(xdrs, &objp->atime) && xdr_nfstime(xdrs, &objp->mtime) &&
           xdr_nfstime(xdrs, &objp->ctime);
}

/* struct sattr {
 *     unsigned int mode; unsigned int uid; unsigned int gid; unsigned int size;
 *     timeval atime; timeval mtime;
 * }; */
bool_t xdr_sattr(XDR *xdrs, sattr *objp)
{
    return xdr_u_int(xdrs, &objp->mode) && xdr_u_int(xdrs, &objp->uid) && xdr_u_int(xdrs, &objp->gid) &&
           xdr_u_int(xdrs, &objp->size) && xdr_nfstime(xdrs, &objp->atime) && xdr_nfstime(xdrs, &objp->mtime);
}

/* typedef opaque nfsdata<NFS_MAXDATA>;
 * Decoded up to NFS_MAXDATA bytes; a caller's smaller buffer is protected by readokres, which
 * knows its capacity. */
bool_t xdr_data(XDR *xdrs, nfsdata *objp)
{
    return xdr_bytes(xdrs, &objp->data_val, &objp->data_len, xdrsupport::decodeLimit(xdrs, NFS_MAXDATA));
}
