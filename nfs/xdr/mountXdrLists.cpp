// XDR routines of the MOUNT types that versions 1 and 3 share: the bounded path and name
// strings and the mount, export and group lists. Lists are walked iteratively (xdrSupport.h).
#include <brisnel/mount3Xdr.h>

#include "xdrSupport.h"

namespace {

// The members of one mountbody before its ml_next link.
bool_t mountbodyMembers(XDR *xdrs, mountbody *objp)
{
    return xdr_name(xdrs, &objp->ml_hostname) && xdr_dirpath(xdrs, &objp->ml_directory);
}

// The members of one groupnode before its gr_next link.
bool_t groupnodeMembers(XDR *xdrs, groupnode *objp)
{
    return xdr_name(xdrs, &objp->gr_name);
}

// The members of one exportnode before its ex_next link.
bool_t exportnodeMembers(XDR *xdrs, exportnode *objp)
{
    return xdr_dirpath(xdrs, &objp->ex_dir) && xdr_groups(xdrs, &objp->ex_groups);
}

} // namespace

/* typedef string dirpath<MNTPATHLEN>; */
bool_t xdr_dirpath(XDR *xdrs, char **objp)
{
    return xdr_string(xdrs, objp, MNTPATHLEN);
}

/* typedef string name<MNTNAMLEN>; */
bool_t xdr_name(XDR *xdrs, char **objp)
{
    return xdr_string(xdrs, objp, MNTNAMLEN);
}

/* typedef struct mountbody *mountlist; */
bool_t xdr_mountlist(XDR *xdrs, mountlist *objp)
{
    return xdrsupport::nodeChain<mountbody, &mountbody::ml_next>(xdrs, objp, mountbodyMembers);
}

/* struct mountbody { name ml_hostname; dirpath ml_directory; mountlist ml_next; }; */
bool_t xdr_mountbody(XDR *xdrs, mountbody *objp)
{
    return mountbodyMembers(xdrs, objp) && xdr_mountlist(xdrs, &objp->ml_next);
}

/* typedef struct groupnode *groups; */
bool_t xdr_groups(XDR *xdrs, groupnode **objp)
{
    return xdrsupport::nodeChain<groupnode, &groupnode::gr_next>(xdrs, objp, groupnodeMembers);
}

/* struct groupnode { name gr_name; groups gr_next; }; */
bool_t xdr_groupnode(XDR *xdrs, groupnode *objp)
{
    return groupnodeMembers(xdrs, objp) && xdr_groups(xdrs, &objp->gr_next);
}

/* typedef struct exportnode *exports; */
bool_t xdr_exports(XDR *xdrs, exports *objp)
{
    return xdrsupport::nodeChain<exportnode, &exportnode::ex_next>(xdrs, objp, exportnodeMembers);
}

/* struct exportnode { dirpath ex_dir; groups ex_groups; exports ex_next; }; */
bool_t xdr_exportnode(XDR *xdrs, exportnode *objp)
{
    return exportnodeMembers(xdrs, objp) && xdr_exports(xdrs, &objp->ex_next);
}
