// XDR routines of the NFS version 2 procedure arguments and results, apart from READDIR.
#include <brisnel/nfs2Xdr.h>

#include "xdrSupport.h"

#include <algorithm>

using xdrsupport::CallerBuffer;

/* union attrstat switch (stat status) {
 * case NFS_OK: fattr attributes;
 * default:     void;
 * }; */
bool_t xdr_attrstat(XDR *xdrs, attrstat *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status != NFS_OK || xdr_fattr(xdrs, &objp->attrstat_u.attributes));
}

/* struct diropargs { fhandle dir; filename name; }; */
bool_t xdr_diropargs(XDR *xdrs, diropargs *objp)
{
    return xdr_nfs_fh2(xdrs, objp->dir) && xdr_filename(xdrs, &objp->name);
}

/* struct { fhandle file; fattr attributes; } diropres; (the NFS_OK arm of diropres) */
bool_t xdr_diropokres(XDR *xdrs, diropokres *objp)
{
    return xdr_nfs_fh2(xdrs, objp->file) && xdr_fattr(xdrs, &objp->attributes);
}

/* union diropres switch (stat status) {
 * case NFS_OK: struct { fhandle file; fattr attributes; } diropres;
 * default:     void;
 * }; */
bool_t xdr_diropres(XDR *xdrs, diropres *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status != NFS_OK || xdr_diropokres(xdrs, &objp->diropres_u.diropres));
}

/* struct sattrargs { fhandle file; sattr attributes; }; */
bool_t xdr_sattrargs(XDR *xdrs, sattrargs *objp)
{
    return xdr_nfs_fh2(xdrs, objp->file) && xdr_sattr(xdrs, &objp->attributes);
}

/* union readlinkres switch (stat status) {
 * case NFS_OK: path data;
 * default:     void;
 * };
 * A caller-supplied data buffer holds NFS2_READLINK_BUFSIZE bytes, so on decode into it the
 * text is limited to one byte less (room for the terminator); else to NFS_MAXPATHLEN. */
bool_t xdr_readlinkres(XDR *xdrs, readlinkres *objp)
{
    CallerBuffer keep(xdrs, &objp->readlinkres_u.data);
    if (!xdr_nfsstat(xdrs, &objp->status))
        return keep.result(false);
    if (objp->status != NFS_OK) {
        return TRUE;
    }
    if (xdrs->x_op == XDR_DECODE && objp->readlinkres_u.data != nullptr) {
        return keep.result(xdr_string(xdrs, &objp->readlinkres_u.data, NFS2_READLINK_BUFSIZE - 1));
    }
    return xdr_nfspath(xdrs, &objp->readlinkres_u.data);
}

/* struct readargs {
 *     fhandle file; unsigned offset; unsigned count; unsigned totalcount;
 * }; */
bool_t xdr_readargs(XDR *xdrs, readargs *objp)
{
    return xdr_nfs_fh2(xdrs, objp->file) && xdr_u_int(xdrs, &objp->offset) && xdr_u_int(xdrs, &objp->count) &&
           xdr_u_int(xdrs, &objp->totalcount);
}

/* fattr attributes; nfsdata data; (the NFS_OK arm of readres)
 * Decoding into a caller's buffer (data_val set): data_len is that buffer's capacity and a
 * longer reply is refused before any byte is copied. */
bool_t xdr_readokres(XDR *xdrs, readokres *objp)
{
    CallerBuffer keep(xdrs, &objp->data.data_val);
    if (!xdr_fattr(xdrs, &objp->attributes))
        return keep.result(false);
    if (xdrs->x_op == XDR_DECODE && objp->data.data_val != nullptr) {
        return keep.result(xdr_bytes(xdrs, &objp->data.data_val, &objp->data.data_len,
                                     std::min<u_int>(objp->data.data_len, NFS_MAXDATA)));
    }
    return xdr_data(xdrs, &objp->data);
}

/* union readres switch (stat status) {
 * case NFS_OK: fattr attributes; nfsdata data;
 * default:     void;
 * }; */
bool_t xdr_readres(XDR *xdrs, readres *objp)
{
    CallerBuffer keep(xdrs, &objp->readres_u.reply.data.data_val);
    return keep.result(xdr_nfsstat(xdrs, &objp->status) &&
                       (objp->status != NFS_OK || xdr_readokres(xdrs, &objp->readres_u.reply)));
}

/* struct writeargs {
 *     fhandle file; unsigned beginoffset; unsigned offset; unsigned totalcount; nfsdata data;
 * }; */
bool_t xdr_writeargs(XDR *xdrs, writeargs *objp)
{
    return xdr_nfs_fh2(xdrs, objp->file) && xdr_u_int(xdrs, &objp->beginoffset) &&
           xdr_u_int(xdrs, &objp->offset) && xdr_u_int(xdrs, &objp->totalcount) &&
           xdr_data(xdrs, &objp->data);
}

/* struct createargs { diropargs where; sattr attributes; }; */
bool_t xdr_createargs(XDR *xdrs, createargs *objp)
{
    return xdr_diropargs(xdrs, &objp->where) && xdr_sattr(xdrs, &objp->attributes);
}

/* struct renameargs { diropargs from; diropargs to; }; */
bool_t xdr_renameargs(XDR *xdrs, renameargs *objp)
{
    return xdr_diropargs(xdrs, &objp->from) && xdr_diropargs(xdrs, &objp->to);
}

/* struct linkargs { fhandle from; diropargs to; }; */
bool_t xdr_linkargs(XDR *xdrs, linkargs *objp)
{
    return xdr_nfs_fh2(xdrs, objp->from) && xdr_diropargs(xdrs, &objp->to);
}

/* struct symlinkargs { diropargs from; path to; sattr attributes; }; */
bool_t xdr_symlinkargs(XDR *xdrs, symlinkargs *objp)
{
    return xdr_diropargs(xdrs, &objp->from) && xdr_nfspath(xdrs, &objp->to) &&
           xdr_sattr(xdrs, &objp->attributes);
}

/* struct { unsigned tsize; unsigned bsize; unsigned blocks; unsigned bfree; unsigned bavail; }
 * (the NFS_OK arm of statfsres) */
bool_t xdr_statfsokres(XDR *xdrs, statfsokres *objp)
{
    return xdr_u_int(xdrs, &objp->tsize) && xdr_u_int(xdrs, &objp->bsize) && xdr_u_int(xdrs, &objp->blocks) &&
           xdr_u_int(xdrs, &objp->bfree) && xdr_u_int(xdrs, &objp->bavail);
}

/* union statfsres switch (stat status) {
 * case NFS_OK: struct { unsigned tsize; ... unsigned bavail; } info;
 * default:     void;
 * }; */
bool_t xdr_statfsres(XDR *xdrs, statfsres *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status != NFS_OK || xdr_statfsokres(xdrs, &objp->statfsres_u.reply));
}
