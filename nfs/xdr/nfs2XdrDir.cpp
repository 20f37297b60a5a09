// XDR routines of the NFS version 2 directory listing: READDIR's arguments, its entry list and
// its result. The list is walked iteratively (xdrSupport.h).
#include <brisnel/nfs2Xdr.h>

#include "xdrSupport.h"

namespace {

// The members of one entry before its nextentry link.
bool_t entryMembers(XDR *xdrs, entry *objp)
{
    return xdr_u_int(xdrs, &objp->fileid) && xdr_filename(xdrs, &objp->name) &&
           xdr_nfscookie(xdrs, objp->cookie);
}

bool_t entryChain(XDR *xdrs, entry **link)
{
    return xdrsupport::nodeChain<entry, &entry::nextentry>(xdrs, link, entryMembers);
}

} // namespace

/* struct readdirargs { fhandle dir; nfscookie cookie; unsigned count; }; */
bool_t xdr_readdirargs(XDR *xdrs, readdirargs *objp)
{
    return xdr_nfs_fh2(xdrs, objp->dir) && xdr_nfscookie(xdrs, objp->cookie) && xdr_u_int(xdrs, &objp->count);
}

/* struct entry { unsigned fileid; filename name; nfscookie cookie; entry *nextentry; }; */
bool_t xdr_entry(XDR *xdrs, entry *objp)
{
    return entryMembers(xdrs, objp) && entryChain(xdrs, &objp->nextentry);
}

/* struct { entry *entries; bool eof; } (the NFS_OK arm of readdirres) */
bool_t xdr_dirlist(XDR *xdrs, dirlist *objp)
{
    return entryChain(xdrs, &objp->entries) && xdr_bool(xdrs, &objp->eof);
}

/* union readdirres switch (stat status) {
 * case NFS_OK: struct { entry *entries; bool eof; } readdirok;
 * default:     void;
 * }; */
bool_t xdr_readdirres(XDR *xdrs, readdirres *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status != NFS_OK || xdr_dirlist(xdrs, &objp->readdirres_u.reply));
}
