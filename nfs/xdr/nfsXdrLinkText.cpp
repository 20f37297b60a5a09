// READLINK results with counted link texts.
#include "xdr/nfsXdrLinkText.h"

#include "xdr/xdrSupport.h"

namespace {

/* opaque text<NFS_MAXPATHLEN> (nfspath3 and path are strings of this bound) */
bool_t xdrLinkText(XDR *xdrs, NfsLinkText *objp)
{
    return xdr_bytes(xdrs, &objp->bytes, &objp->length, xdrsupport::decodeLimit(xdrs, NFS_MAXPATHLEN));
}

} // namespace

/* union READLINK3res switch (nfsstat3 status) {
 * case NFS3_OK: post_op_attr symlink_attributes; nfspath3 data;
 * default:      post_op_attr symlink_attributes;
 * }; */
bool_t xdrNfsLinkReply3(XDR *xdrs, NfsLinkReply3 *objp)
{
    if (!xdr_nfsstat(xdrs, &objp->status) || !xdr_post_op_attr(xdrs, &objp->attributes))
        return FALSE;
    return objp->status != NFS3_OK || xdrLinkText(xdrs, &objp->text);
}

/* union readlinkres switch (nfsstat status) { case NFS_OK: path data; default: void; }; */
bool_t xdrNfsLinkReply2(XDR *xdrs, NfsLinkReply2 *objp)
{
    if (!xdr_nfsstat(xdrs, &objp->status))
        return FALSE;
    return objp->status != NFS_OK || xdrLinkText(xdrs, &objp->text);
}
