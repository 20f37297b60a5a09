// XDR routines of the NFS version 3 procedures that move file data: READLINK, READ, WRITE and
// COMMIT.
#include <brisnel/nfs3Xdr.h>

#include "xdrSupport.h"

using xdrsupport::CallerBuffer;

/* struct READLINK3args { nfs_fh3 symlink; }; */
bool_t xdr_READLINK3args(XDR *xdrs, READLINK3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->symlink);
}

/* struct READLINK3resok { post_op_attr symlink_attributes; nfspath3 data; };
 * A caller-supplied data buffer holds NFS3_READLINK_BUFSIZE bytes, so on decode into it the
 * text is limited to one byte less (room for the terminator); else to NFS_MAXPATHLEN. */
bool_t xdr_READLINK3resok(XDR *xdrs, READLINK3resok *objp)
{
    CallerBuffer keep(xdrs, &objp->data);
    if (!xdr_post_op_attr(xdrs, &objp->symlink_attributes))
        return keep.result(false);
    if (xdrs->x_op == XDR_DECODE && objp->data != nullptr) {
        return keep.result(xdr_string(xdrs, &objp->data, NFS3_READLINK_BUFSIZE - 1));
    }
    return xdr_nfspath(xdrs, &objp->data);
}

/* struct READLINK3resfail { post_op_attr symlink_attributes; }; */
bool_t xdr_READLINK3resfail(XDR *xdrs, READLINK3resfail *objp)
{
    return xdr_post_op_attr(xdrs, &objp->symlink_attributes);
}

/* union READLINK3res switch (nfsstat3 status) {
 * case NFS3_OK: READLINK3resok resok;
 * default:      READLINK3resfail resfail;
 * }; */
bool_t xdr_READLINK3res(XDR *xdrs, READLINK3res *objp)
{
    CallerBuffer keep(xdrs, &objp->READLINK3res_u.resok.data);
    return keep.result(xdr_nfsstat(xdrs, &objp->status) &&
                       (objp->status == NFS3_OK ? xdr_READLINK3resok(xdrs, &objp->READLINK3res_u.resok)
                                                : xdr_READLINK3resfail(xdrs, &objp->READLINK3res_u.resfail)));
}

/* struct READ3args { nfs_fh3 file; offset3 offset; count3 count; }; */
bool_t xdr_READ3args(XDR *xdrs, READ3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->file) && xdr_offset3(xdrs, &objp->offset) &&
           xdr_count3(xdrs, &objp->count);
}

/* struct READ3resok { post_op_attr file_attributes; count3 count; bool eof; opaque data<>; };
 * Decoding into a caller's buffer (data_val set): data_len is that buffer's capacity and a
 * longer reply is refused before any byte is copied. A count that differs from the length of
 * the data is refused too, so the count can be trusted as the number of bytes delivered.
 * Without a caller's buffer no reply can carry more than the receive buffer holds. */
bool_t xdr_READ3resok(XDR *xdrs, READ3resok *objp)
{
    CallerBuffer keep(xdrs, &objp->data.data_val);
    if (!xdr_post_op_attr(xdrs, &objp->file_attributes) || !xdr_count3(xdrs, &objp->count) ||
        !xdr_bool(xdrs, &objp->eof)) {
        return keep.result(false);
    }
    const bool decoding = xdrs->x_op == XDR_DECODE;
    const bool intoCallerBuffer = decoding && objp->data.data_val != nullptr;
    const u_int limit =
        intoCallerBuffer ? objp->data.data_len : xdrsupport::decodeLimit(xdrs, NFS3_MAXDATA_DECODED);
    if (!xdr_bytes(xdrs, &objp->data.data_val, &objp->data.data_len, limit))
        return keep.result(false);
    return keep.result(!decoding || objp->count == objp->data.data_len);
}

/* struct READ3resfail { post_op_attr file_attributes; }; */
bool_t xdr_READ3resfail(XDR *xdrs, READ3resfail *objp)
{
    return xdr_post_op_attr(xdrs, &objp->file_attributes);
}

/* union READ3res switch (nfsstat3 status) {
 * case NFS3_OK: READ3resok resok;
 * default:      READ3resfail resfail;
 * }; */
bool_t xdr_READ3res(XDR *xdrs, READ3res *objp)
{
    CallerBuffer keep(xdrs, &objp->READ3res_u.resok.data.data_val);
    return keep.result(xdr_nfsstat(xdrs, &objp->status) &&
                       (objp->status == NFS3_OK ? xdr_READ3resok(xdrs, &objp->READ3res_u.resok)
                                                : xdr_READ3resfail(xdrs, &objp->READ3res_u.resfail)));
}

/* struct WRITE3args {
 *     nfs_fh3 file; offset3 offset; count3 count; stable_how stable; opaque data<>;
 * }; */
bool_t xdr_WRITE3args(XDR *xdrs, WRITE3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->file) && xdr_offset3(xdrs, &objp->offset) &&
           xdr_count3(xdrs, &objp->count) && xdr_stable_how(xdrs, &objp->stable) &&
           xdr_bytes(xdrs, &objp->data.data_val, &objp->data.data_len,
                     xdrsupport::decodeLimit(xdrs, NFS3_MAXDATA_DECODED));
}

/* struct WRITE3resok {
 *     wcc_data file_wcc; count3 count; stable_how committed; writeverf3 verf;
 * }; */
bool_t xdr_WRITE3resok(XDR *xdrs, WRITE3resok *objp)
{
    return xdr_wcc_data(xdrs, &objp->file_wcc) && xdr_count3(xdrs, &objp->count) &&
           xdr_stable_how(xdrs, &objp->committed) && xdr_writeverf3(xdrs, objp->verf);
}

/* struct WRITE3resfail { wcc_data file_wcc; }; */
bool_t xdr_WRITE3resfail(XDR *xdrs, WRITE3resfail *objp)
{
    return xdr_wcc_data(xdrs, &objp->file_wcc);
}

/* union WRITE3res switch (nfsstat3 status) {
 * case NFS3_OK: WRITE3resok resok;
 * default:      WRITE3resfail resfail;
 * }; */
bool_t xdr_WRITE3res(XDR *xdrs, WRITE3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_WRITE3resok(xdrs, &objp->WRITE3res_u.resok)
                                    : xdr_WRITE3resfail(xdrs, &objp->WRITE3res_u.resfail));
}

/* struct COMMIT3args { nfs_fh3 file; offset3 offset; count3 count; }; */
bool_t xdr_COMMIT3args(XDR *xdrs, COMMIT3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->file) && xdr_offset3(xdrs, &objp->offset) &&
           xdr_count3(xdrs, &objp->count);
}

/* struct COMMIT3resok { wcc_data file_wcc; writeverf3 verf; }; */
bool_t xdr_COMMIT3resok(XDR *xdrs, COMMIT3resok *objp)
{
    return xdr_wcc_data(xdrs, &objp->file_wcc) && xdr_writeverf3(xdrs, objp->verf);
}

/* struct COMMIT3resfail { wcc_data file_wcc; }; */
bool_t xdr_COMMIT3resfail(XDR *xdrs, COMMIT3resfail *objp)
{
    return xdr_wcc_data(xdrs, &objp->file_wcc);
}

/* union COMMIT3res switch (nfsstat3 status) {
 * case NFS3_OK: COMMIT3resok resok;
 * default:      COMMIT3resfail resfail;
 * }; */
bool_t xdr_COMMIT3res(XDR *xdrs, COMMIT3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_COMMIT3resok(xdrs, &objp->COMMIT3res_u.resok)
                                    : xdr_COMMIT3resfail(xdrs, &objp->COMMIT3res_u.resfail));
}
