// XDR routines of the MOUNT version 3 types: the handle and the MNT result.
#include <brisnel/mount3Xdr.h>

#include "xdrSupport.h"

/* typedef opaque fhandle3<FHSIZE3>;
 * With fhandle3_val set on decode, the bytes land in that buffer of FHSIZE3 bytes; the limit
 * refuses a longer handle before any byte is written. */
bool_t xdr_fhandle3(XDR *xdrs, fhandle3 *objp)
{
    xdrsupport::CallerBuffer keep(xdrs, &objp->fhandle3_val);
    return keep.result(xdr_bytes(xdrs, &objp->fhandle3_val, &objp->fhandle3_len, FHSIZE3));
}

/* enum mountstat3 { MNT3_OK = 0, MNT3ERR_PERM = 1, ... MNT3ERR_SERVERFAULT = 10006 }; */
bool_t xdr_mountstat3(XDR *xdrs, mountstat3 *objp)
{
    return xdrsupport::enumValue(xdrs, objp);
}

/* struct mountres3_ok { fhandle3 fhandle; int auth_flavors<>; };
 * A reply lists at most MNT_MAX_AUTH_FLAVORS flavours: a longer list is refused before the
 * array is allocated. */
bool_t xdr_mountres3_ok(XDR *xdrs, mountres3_ok *objp)
{
    xdrsupport::CallerBuffer keep(xdrs, &objp->fhandle.fhandle3_val);
    return keep.result(xdr_fhandle3(xdrs, &objp->fhandle) &&
                       xdr_array(xdrs, reinterpret_cast<char **>(&objp->auth_flavors.auth_flavors_val),
                                 &objp->auth_flavors.auth_flavors_len,
                                 xdrsupport::decodeLimit(xdrs, MNT_MAX_AUTH_FLAVORS), sizeof(int),
                                 reinterpret_cast<xdrproc_t>(xdr_int)));
}

/* union mountres3 switch (mountstat3 fhs_status) {
 * case MNT3_OK: mountres3_ok mountinfo;
 * default:      void;
 * }; */
bool_t xdr_mountres3(XDR *xdrs, mountres3 *objp)
{
    xdrsupport::CallerBuffer keep(xdrs, &objp->mountres3_u.mountinfo.fhandle.fhandle3_val);
    return keep.result(xdr_mountstat3(xdrs, &objp->fhs_status) &&
                       (objp->fhs_status != MNT3_OK || xdr_mountres3_ok(xdrs, &objp->mountres3_u.mountinfo)));
}
