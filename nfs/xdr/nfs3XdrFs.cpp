// XDR routines of the NFS version 3 file-system procedures: FSSTAT, FSINFO and PATHCONF.
#include <brisnel/nfs3Xdr.h>

/* struct FSSTAT3args { nfs_fh3 fsroot; }; */
bool_t xdr_FSSTAT3args(XDR *xdrs, FSSTAT3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->fsroot);
}

/* struct FSSTAT3resok {
 *     post_op_attr obj_attributes; size3 tbytes; size3 fbytes; size3 abytes; size3 tfiles;
 *     size3 ffiles; size3 afiles; uint32 invarsec;
 * }; */
bool_t xdr_FSSTAT3resok(XDR *xdrs, FSSTAT3resok *objp)
{
    return xdr_post_op_attr(xdrs, &objp->obj_attributes) && xdr_size3(xdrs, &objp->tbytes) &&
           xdr_size3(xdrs, &objp->fbytes) && xdr_size3(xdrs, &objp->abytes) &&
           xdr_size3(xdrs, &objp->tfiles) && xdr_size3(xdrs, &objp->ffiles) &&
           xdr_size3(xdrs, &objp->afiles) && xdr_uint32(xdrs, &objp->invarsec);
}

/* struct FSSTAT3resfail { post_op_attr obj_attributes; }; */
bool_t xdr_FSSTAT3resfail(XDR *xdrs, FSSTAT3resfail *objp)
{
    return xdr_post_op_attr(xdrs, &objp->obj_attributes);
}

/* union FSSTAT3res switch (nfsstat3 status) {
 * case NFS3_OK: FSSTAT3resok resok;
 * default:      FSSTAT3resfail resfail;
 * }; */
bool_t xdr_FSSTAT3res(XDR *xdrs, FSSTAT3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_FSSTAT3resok(xdrs, &objp->FSSTAT3res_u.resok)
                                    : xdr_FSSTAT3resfail(xdrs, &objp->FSSTAT3res_u.resfail));
}

/* struct FSINFO3args { nfs_fh3 fsroot; }; */
bool_t xdr_FSINFO3args(XDR *xdrs, FSINFO3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->fsroot);
}

/* struct FSINFO3resok {
 *     post_op_attr obj_attributes; uint32 rtmax; uint32 rtpref; uint32 rtmult; uint32 wtmax;
 *     uint32 wtpref; uint32 wtmult; uint32 dtpref; size3 maxfilesize; nfstime3 time_delta;
 *     uint32 properties;
 * }; */
bool_t xdr_FSINFO3resok(XDR *xdrs, FSINFO3resok *objp)
{
    return xdr_post_op_attr(xdrs, &objp->obj_attributes) && xdr_uint32(xdrs, &objp->rtmax) &&
           xdr_uint32(xdrs, &objp->rtpref) && xdr_uint32(xdrs, &objp->rtmult) &&
           xdr_uint32(xdrs, &objp->wtmax) && xdr_uint32(xdrs, &objp->wtpref) &&
           xdr_uint32(xdrs, &objp->wtmult) && xdr_uint32(xdrs, &objp->dtpref) &&
           xdr_size3(xdrs, &objp->maxfilesize) && xdr_nfstime3(xdrs, &objp->time_delta) &&
           xdr_uint32(xdrs, &objp->properties);
}

/* struct FSINFO3resfail { post_op_attr obj_attributes; }; */
bool_t xdr_FSINFO3resfail(XDR *xdrs, FSINFO3resfail *objp)
{
    return xdr_post_op_attr(xdrs, &objp->obj_attributes);
}

/* union FSINFO3res switch (nfsstat3 status) {
 * case NFS3_OK: FSINFO3resok resok;
 * default:      FSINFO3resfail resfail;
 * }; */
bool_t xdr_FSINFO3res(XDR *xdrs, FSINFO3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_FSINFO3resok(xdrs, &objp->FSINFO3res_u.resok)
                                    : xdr_FSINFO3resfail(xdrs, &objp->FSINFO3res_u.resfail));
}

/* struct PATHCONF3args { nfs_fh3 object; }; */
bool_t xdr_PATHCONF3args(XDR *xdrs, PATHCONF3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->object);
}

/* struct PATHCONF3resok {
 *     post_op_attr obj_attributes; uint32 linkmax; uint32 name_max; bool no_trunc;
 *     bool chown_restricted; bool case_insensitive; bool case_preserving;
 * }; */
bool_t xdr_PATHCONF3resok(XDR *xdrs, PATHCONF3resok *objp)
{
    return xdr_post_op_attr(xdrs, &objp->obj_attributes) && xdr_uint32(xdrs, &objp->linkmax) &&
           xdr_uint32(xdrs, &objp->name_max) && xdr_bool(xdrs, &objp->no_trunc) &&
           xdr_bool(xdrs, &objp->chown_restricted) && xdr_bool(xdrs, &objp->case_insensitive) &&
           xdr_bool(xdrs, &objp->case_preserving);
}

/* struct PATHCONF3resfail { post_op_attr obj_attributes; }; */
bool_t xdr_PATHCONF3resfail(XDR *xdrs, PATHCONF3resfail *objp)
{
    return xdr_post_op_attr(xdrs, &objp->obj_attributes);
}

/* union PATHCONF3res switch (nfsstat3 status) {
 * case NFS3_OK: PATHCONF3resok resok;
 * default:      PATHCONF3resfail resfail;
 * }; */
bool_t xdr_PATHCONF3res(XDR *xdrs, PATHCONF3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_PATHCONF3resok(xdrs, &objp->PATHCONF3res_u.resok)
                                    : xdr_PATHCONF3resfail(xdrs, &objp->PATHCONF3res_u.resfail));
}
