// XDR routines of the NFS version 3 directory listings: the entry lists and the READDIR and
// READDIRPLUS procedures. Lists are walked iteratively (xdrSupport.h).
#include <brisnel/nfs3Xdr.h>

#include "xdrSupport.h"

namespace {

// The members of one entry3 before its nextentry link.
bool_t entry3Members(XDR *xdrs, entry3 *objp)
{
    return xdr_fileid3(xdrs, &objp->fileid) && xdr_filename(xdrs, &objp->name) &&
           xdr_cookie3(xdrs, &objp->cookie);
}

bool_t entry3Chain(XDR *xdrs, entry3 **link)
{
    return xdrsupport::nodeChain<entry3, &entry3::nextentry>(xdrs, link, entry3Members);
}

// The members of one entryplus3 before its nextentry link.
bool_t entryplus3Members(XDR *xdrs, entryplus3 *objp)
{
    return xdr_fileid3(xdrs, &objp->fileid) && xdr_filename(xdrs, &objp->name) &&
           xdr_cookie3(xdrs, &objp->cookie) && xdr_post_op_attr(xdrs, &objp->name_attributes) &&
           xdr_post_op_fh3(xdrs, &objp->name_handle);
}

bool_t entryplus3Chain(XDR *xdrs, entryplus3 **link)
{
    return xdrsupport::nodeChain<entryplus3, &entryplus3::nextentry>(xdrs, link, entryplus3Members);
}

} // namespace

/* struct entry3 { fileid3 fileid; filename3 name; cookie3 cookie; entry3 *nextentry; }; */
bool_t xdr_entry3(XDR *xdrs, entry3 *objp)
{
    return entry3Members(xdrs, objp) && entry3Chain(xdrs, &objp->nextentry);
}

/* struct dirlist3 { entry3 *entries; bool eof; }; */
bool_t xdr_dirlist3(XDR *xdrs, dirlist3 *objp)
{
    return entry3Chain(xdrs, &objp->entries) && xdr_bool(xdrs, &objp->eof);
}

/* struct entryplus3 {
 *     fileid3 fileid; filename3 name; cookie3 cookie; post_op_attr name_attributes;
 *     post_op_fh3 name_handle; entryplus3 *nextentry;
 * }; */
bool_t xdr_entryplus3(XDR *xdrs, entryplus3 *objp)
{
    return entryplus3Members(xdrs, objp) && entryplus3Chain(xdrs, &objp->nextentry);
}

/* struct dirlistplus3 { entryplus3 *entries; bool eof; }; */
bool_t xdr_dirlistplus3(XDR *xdrs, dirlistplus3 *objp)
{
    return entryplus3Chain(xdrs, &objp->entries) && xdr_bool(xdrs, &objp->eof);
}

/* struct READDIR3args { nfs_fh3 dir; cookie3 cookie; cookieverf3 cookieverf; count3 count; }; */
bool_t xdr_READDIR3args(XDR *xdrs, READDIR3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->dir) && xdr_cookie3(xdrs, &objp->cookie) &&
           xdr_cookieverf3(xdrs, objp->cookieverf) && xdr_count3(xdrs, &objp->count);
}

/* struct READDIR3resok {
 *     post_op_attr dir_attributes; cookieverf3 cookieverf; dirlist3 reply;
 * }; */
bool_t xdr_READDIR3resok(XDR *xdrs, READDIR3resok *objp)
{
    return xdr_post_op_attr(xdrs, &objp->dir_attributes) && xdr_cookieverf3(xdrs, objp->cookieverf) &&
           xdr_dirlist3(xdrs, &objp->reply);
}

/* struct READDIR3resfail { post_op_attr dir_attributes; }; */
bool_t xdr_READDIR3resfail(XDR *xdrs, READDIR3resfail *objp)
{
    return xdr_post_op_attr(xdrs, &objp->dir_attributes);
}

/* union READDIR3res switch (nfsstat3 status) {
 * case NFS3_OK: READDIR3resok resok;
 * default:      READDIR3resfail resfail;
 * }; */
bool_t xdr_READDIR3res(XDR *xdrs, READDIR3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_READDIR3resok(xdrs, &objp->READDIR3res_u.resok)
                                    : xdr_READDIR3resfail(xdrs, &objp->READDIR3res_u.resfail));
}

/* struct READDIRPLUS3args {
 *     nfs_fh3 dir; cookie3 cookie; cookieverf3 cookieverf; count3 dircount; count3 maxcount;
 * }; */
bool_t xdr_READDIRPLUS3args(XDR *xdrs, READDIRPLUS3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->dir) && xdr_cookie3(xdrs, &objp->cookie) &&
           xdr_cookieverf3(xdrs, objp->cookieverf) && xdr_count3(xdrs, &objp->dircount) &&
           xdr_count3(xdrs, &objp->maxcount);
}

/* struct READDIRPLUS3resok {
 *     post_op_attr dir_attributes; cookieverf3 cookieverf; dirlistplus3 reply;
 * }; */
bool_t xdr_READDIRPLUS3resok(XDR *xdrs, READDIRPLUS3resok *objp)
{
    return xdr_post_op_attr(xdrs, &objp->dir_attributes) && xdr_cookieverf3(xdrs, objp->cookieverf) &&
           xdr_dirlistplus3(xdrs, &objp->reply);
}

/* struct READDIRPLUS3resfail { post_op_attr dir_attributes; }; */
bool_t xdr_READDIRPLUS3resfail(XDR *xdrs, READDIRPLUS3resfail *objp)
{
    return xdr_post_op_attr(xdrs, &objp->dir_attributes);
}

/* union READDIRPLUS3res switch (nfsstat3 status) {
 * case NFS3_OK: READDIRPLUS3resok resok;
 * default:      READDIRPLUS3resfail resfail;
 * }; */
bool_t xdr_READDIRPLUS3res(XDR *xdrs, READDIRPLUS3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_READDIRPLUS3resok(xdrs, &objp->READDIRPLUS3res_u.resok)
                                    : xdr_READDIRPLUS3resfail(xdrs, &objp->READDIRPLUS3res_u.resfail));
}
