// XDR routines of the NFS version 3 attribute procedures: GETATTR, SETATTR and ACCESS.
#include <brisnel/nfs3Xdr.h>

/* struct GETATTR3args { nfs_fh3 object; }; */
bool_t xdr_GETATTR3args(XDR *xdrs, GETATTR3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->object);
}

/* struct GETATTR3resok { fattr3 obj_attributes; }; */
bool_t xdr_GETATTR3resok(XDR *xdrs, GETATTR3resok *objp)
{
    return xdr_fattr3(xdrs, &objp->obj_attributes);
}

/* union GETATTR3res switch (nfsstat3 status) {
 * case NFS3_OK: GETATTR3resok resok;
 * default:      void;
 * }; */
bool_t xdr_GETATTR3res(XDR *xdrs, GETATTR3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status != NFS3_OK || xdr_GETATTR3resok(xdrs, &objp->GETATTR3res_u.resok));
}

/* struct SETATTR3args { nfs_fh3 object; sattr3 new_attributes; sattrguard3 guard; }; */
bool_t xdr_SETATTR3args(XDR *xdrs, SETATTR3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->object) && xdr_sattr3(xdrs, &objp->new_attributes) &&
           xdr_sattrguard3(xdrs, &objp->guard);
}

/* struct SETATTR3resok { wcc_data obj_wcc; }; */
bool_t xdr_SETATTR3resok(XDR *xdrs, SETATTR3resok *objp)
{
    return xdr_wcc_data(xdrs, &objp->obj_wcc);
}

/* struct SETATTR3resfail { wcc_data obj_wcc; }; */
bool_t xdr_SETATTR3resfail(XDR *xdrs, SETATTR3resfail *objp)
{
    return xdr_wcc_data(xdrs, &objp->obj_wcc);
}

/* union SETATTR3res switch (nfsstat3 status) {
 * case NFS3_OK: SETATTR3resok resok;
 * default:      SETATTR3resfail resfail;
 * }; */
bool_t xdr_SETATTR3res(XDR *xdrs, SETATTR3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_SETATTR3resok(xdrs, &objp->SETATTR3res_u.resok)
                                    : xdr_SETATTR3resfail(xdrs, &objp->SETATTR3res_u.resfail));
}

/* struct ACCESS3args { nfs_fh3 object; uint32 access; }; */
bool_t xdr_ACCESS3args(XDR *xdrs, ACCESS3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->object) && xdr_uint32(xdrs, &objp->access);
}

/* struct ACCESS3resok { post_op_attr obj_attributes; uint32 access; }; */
bool_t xdr_ACCESS3resok(XDR *xdrs, ACCESS3resok *objp)
{
    return xdr_post_op_attr(xdrs, &objp->obj_attributes) && xdr_uint32(xdrs, &objp->access);
}

/* struct ACCESS3resfail { post_op_attr obj_attributes; }; */
bool_t xdr_ACCESS3resfail(XDR *xdrs, ACCESS3resfail *objp)
{
    return xdr_post_op_attr(xdrs, &objp->obj_attributes);
}

/* union ACCESS3res switch (nfsstat3 status) {
 * case NFS3_OK: ACCESS3resok resok;
 * default:      ACCESS3resfail resfail;
 * }; */
bool_t xdr_ACCESS3res(XDR *xdrs, ACCESS3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_ACCESS3resok(xdrs, &objp->ACCESS3res_u.resok)
                                    : xdr_ACCESS3resfail(xdrs, &objp->ACCESS3res_u.resfail));
}
