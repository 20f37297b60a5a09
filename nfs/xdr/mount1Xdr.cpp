// XDR routines of the MOUNT version 1 types of its own: the handle and the MNT result.
#include <brisnel/mount1Xdr.h>

/* typedef opaque fhandle[FHSIZE]; */
bool_t xdr_fhandle(XDR *xdrs, char *objp)
{
    return xdr_opaque(xdrs, objp, FHSIZE);
}

/* union fhstatus switch (unsigned status) {
 * case 0:  fhandle directory;
 * default: void;
 * }; */
bool_t xdr_fhstatus(XDR *xdrs, fhstatus *objp)
{
    return xdr_u_int(xdrs, &objp->status) &&
           (objp->status != 0 || xdr_fhandle(xdrs, objp->fhstatus_u.directory));
}
