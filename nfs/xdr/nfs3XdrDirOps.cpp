// XDR routines of the NFS version 3 procedures that change or look up names in a directory:
// LOOKUP, CREATE, MKDIR, SYMLINK, MKNOD, REMOVE, RMDIR, RENAME and LINK.
#include <brisnel/nfs3Xdr.h>

#include "xdrSupport.h"

using xdrsupport::CallerBuffer;

/* struct LOOKUP3args { diropargs3 what; }; */
bool_t xdr_LOOKUP3args(XDR *xdrs, LOOKUP3args *objp)
{
    return xdr_diropargs3(xdrs, &objp->what);
}

/* struct LOOKUP3resok {
 *     nfs_fh3 object; post_op_attr obj_attributes; post_op_attr dir_attributes;
 * }; */
bool_t xdr_LOOKUP3resok(XDR *xdrs, LOOKUP3resok *objp)
{
    CallerBuffer keep(xdrs, &objp->object.data.data_val);
    return keep.result(xdr_nfs_fh3(xdrs, &objp->object) && xdr_post_op_attr(xdrs, &objp->obj_attributes) &&
                       xdr_post_op_attr(xdrs, &objp->dir_attributes));
}

/* struct LOOKUP3resfail { post_op_attr dir_attributes; }; */
bool_t xdr_LOOKUP3resfail(XDR *xdrs, LOOKUP3resfail *objp)
{
    return xdr_post_op_attr(xdrs, &objp->dir_attributes);
}

/* union LOOKUP3res switch (nfsstat3 status) {
 * case NFS3_OK: LOOKUP3resok resok;
 * default:      LOOKUP3resfail resfail;
 * }; */
bool_t xdr_LOOKUP3res(XDR *xdrs, LOOKUP3res *objp)
{
    CallerBuffer keep(xdrs, &objp->LOOKUP3res_u.resok.object.data.data_val);
    return keep.result(xdr_nfsstat(xdrs, &objp->status) &&
                       (objp->status == NFS3_OK ? xdr_LOOKUP3resok(xdrs, &objp->LOOKUP3res_u.resok)
                                                : xdr_LOOKUP3resfail(xdrs, &objp->LOOKUP3res_u.resfail)));
}

/* struct CREATE3args { diropargs3 where; createhow3 how; }; */
bool_t xdr_CREATE3args(XDR *xdrs, CREATE3args *objp)
{
    return xdr_diropargs3(xdrs, &objp->where) && xdr_createhow3(xdrs, &objp->how);
}

/* struct CREATE3resok { post_op_fh3 obj; post_op_attr obj_attributes; wcc_data dir_wcc; }; */
bool_t xdr_CREATE3resok(XDR *xdrs, CREATE3resok *objp)
{
    CallerBuffer keep(xdrs, &objp->obj.post_op_fh3_u.handle.data.data_val);
    return keep.result(xdr_post_op_fh3(xdrs, &objp->obj) && xdr_post_op_attr(xdrs, &objp->obj_attributes) &&
                       xdr_wcc_data(xdrs, &objp->dir_wcc));
}

/* struct CREATE3resfail { wcc_data dir_wcc; }; */
bool_t xdr_CREATE3resfail(XDR *xdrs, CREATE3resfail *objp)
{
    return xdr_wcc_data(xdrs, &objp->dir_wcc);
}

/* union CREATE3res switch (nfsstat3 status) {
 * case NFS3_OK: CREATE3resok resok;
 * default:      CREATE3resfail resfail;
 * }; */
bool_t xdr_CREATE3res(XDR *xdrs, CREATE3res *objp)
{
    CallerBuffer keep(xdrs, &objp->CREATE3res_u.resok.obj.post_op_fh3_u.handle.data.data_val);
    return keep.result(xdr_nfsstat(xdrs, &objp->status) &&
                       (objp->status == NFS3_OK ? xdr_CREATE3resok(xdrs, &objp->CREATE3res_u.resok)
                                                : xdr_CREATE3resfail(xdrs, &objp->CREATE3res_u.resfail)));
}

/* struct MKDIR3args { diropargs3 where; sattr3 attributes; }; */
bool_t xdr_MKDIR3args(XDR *xdrs, MKDIR3args *objp)
{
    return xdr_diropargs3(xdrs, &objp->where) && xdr_sattr3(xdrs, &objp->attributes);
}

/* struct MKDIR3resok { post_op_fh3 obj; post_op_attr obj_attributes; wcc_data dir_wcc; }; */
bool_t xdr_MKDIR3resok(XDR *xdrs, MKDIR3resok *objp)
{
    CallerBuffer keep(xdrs, &objp->obj.post_op_fh3_u.handle.data.data_val);
    return keep.result(xdr_post_op_fh3(xdrs, &objp->obj) && xdr_post_op_attr(xdrs, &objp->obj_attributes) &&
                       xdr_wcc_data(xdrs, &objp->dir_wcc));
}

/* struct MKDIR3resfail { wcc_data dir_wcc; }; */
bool_t xdr_MKDIR3resfail(XDR *xdrs, MKDIR3resfail *objp)
{
    return xdr_wcc_data(xdrs, &objp->dir_wcc);
}

/* union MKDIR3res switch (nfsstat3 status) {
 * case NFS3_OK: MKDIR3resok resok;
 * default:      MKDIR3resfail resfail;
 * }; */
bool_t xdr_MKDIR3res(XDR *xdrs, MKDIR3res *objp)
{
    CallerBuffer keep(xdrs, &objp->MKDIR3res_u.resok.obj.post_op_fh3_u.handle.data.data_val);
    return keep.result(xdr_nfsstat(xdrs, &objp->status) &&
                       (objp->status == NFS3_OK ? xdr_MKDIR3resok(xdrs, &objp->MKDIR3res_u.resok)
                                                : xdr_MKDIR3resfail(xdrs, &objp->MKDIR3res_u.resfail)));
}

/* struct SYMLINK3args { diropargs3 where; symlinkdata3 symlink; }; */
bool_t xdr_SYMLINK3args(XDR *xdrs, SYMLINK3args *objp)
{
    return xdr_diropargs3(xdrs, &objp->where) && xdr_symlinkdata3(xdrs, &objp->symlink);
}

/* struct SYMLINK3resok { post_op_fh3 obj; post_op_attr obj_attributes; wcc_data dir_wcc; }; */
bool_t xdr_SYMLINK3resok(XDR *xdrs, SYMLINK3resok *objp)
{
    CallerBuffer keep(xdrs, &objp->obj.post_op_fh3_u.handle.data.data_val);
    return keep.result(xdr_post_op_fh3(xdrs, &objp->obj) && xdr_post_op_attr(xdrs, &objp->obj_attributes) &&
                       xdr_wcc_data(xdrs, &objp->dir_wcc));
}

/* struct SYMLINK3resfail { wcc_data dir_wcc; }; */
bool_t xdr_SYMLINK3resfail(XDR *xdrs, SYMLINK3resfail *objp)
{
    return xdr_wcc_data(xdrs, &objp->dir_wcc);
}

/* union SYMLINK3res switch (nfsstat3 status) {
 * case NFS3_OK: SYMLINK3resok resok;
 * default:      SYMLINK3resfail resfail;
 * }; */
bool_t xdr_SYMLINK3res(XDR *xdrs, SYMLINK3res *objp)
{
    CallerBuffer keep(xdrs, &objp->SYMLINK3res_u.resok.obj.post_op_fh3_u.handle.data.data_val);
    return keep.result(xdr_nfsstat(xdrs, &objp->status) &&
                       (objp->status == NFS3_OK ? xdr_SYMLINK3resok(xdrs, &objp->SYMLINK3res_u.resok)
                                                : xdr_SYMLINK3resfail(xdrs, &objp->SYMLINK3res_u.resfail)));
}

/* struct MKNOD3args { diropargs3 where; mknoddata3 what; }; */
bool_t xdr_MKNOD3args(XDR *xdrs, MKNOD3args *objp)
{
    return xdr_diropargs3(xdrs, &objp->where) && xdr_mknoddata3(xdrs, &objp->what);
}

/* struct MKNOD3resok { post_op_fh3 obj; post_op_attr obj_attributes; wcc_data dir_wcc; }; */
bool_t xdr_MKNOD3resok(XDR *xdrs, MKNOD3resok *objp)
{
    CallerBuffer keep(xdrs, &objp->obj.post_op_fh3_u.handle.data.data_val);
    return keep.result(xdr_post_op_fh3(xdrs, &objp->obj) && xdr_post_op_attr(xdrs, &objp->obj_attributes) &&
                       xdr_wcc_data(xdrs, &objp->dir_wcc));
}

/* struct MKNOD3resfail { wcc_data dir_wcc; }; */
bool_t xdr_MKNOD3resfail(XDR *xdrs, MKNOD3resfail *objp)
{
    return xdr_wcc_data(xdrs, &objp->dir_wcc);
}

/* union MKNOD3res switch (nfsstat3 status) {
 * case NFS3_OK: MKNOD3resok resok;
 * default:      MKNOD3resfail resfail;
 * }; */
bool_t xdr_MKNOD3res(XDR *xdrs, MKNOD3res *objp)
{
    CallerBuffer keep(xdrs, &objp->MKNOD3res_u.resok.obj.post_op_fh3_u.handle.data.data_val);
    return keep.result(xdr_nfsstat(xdrs, &objp->status) &&
                       (objp->status == NFS3_OK ? xdr_MKNOD3resok(xdrs, &objp->MKNOD3res_u.resok)
                                                : xdr_MKNOD3resfail(xdrs, &objp->MKNOD3res_u.resfail)));
}

/* struct REMOVE3args { diropargs3 object; }; */
bool_t xdr_REMOVE3args(XDR *xdrs, REMOVE3args *objp)
{
    return xdr_diropargs3(xdrs, &objp->object);
}

/* struct REMOVE3resok { wcc_data dir_wcc; }; */
bool_t xdr_REMOVE3resok(XDR *xdrs, REMOVE3resok *objp)
{
    return xdr_wcc_data(xdrs, &objp->dir_wcc);
}

/* struct REMOVE3resfail { wcc_data dir_wcc; }; */
bool_t xdr_REMOVE3resfail(XDR *xdrs, REMOVE3resfail *objp)
{
    return xdr_wcc_data(xdrs, &objp->dir_wcc);
}

/* union REMOVE3res switch (nfsstat3 status) {
 * case NFS3_OK: REMOVE3resok resok;
 * default:      REMOVE3resfail resfail;
 * }; */
bool_t xdr_REMOVE3res(XDR *xdrs, REMOVE3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_REMOVE3resok(xdrs, &objp->REMOVE3res_u.resok)
                                    : xdr_REMOVE3resfail(xdrs, &objp->REMOVE3res_u.resfail));
}

/* struct RMDIR3args { diropargs3 object; }; */
bool_t xdr_RMDIR3args(XDR *xdrs, RMDIR3args *objp)
{
    return xdr_diropargs3(xdrs, &objp->object);
}

/* struct RMDIR3resok { wcc_data dir_wcc; }; */
bool_t xdr_RMDIR3resok(XDR *xdrs, RMDIR3resok *objp)
{
    return xdr_wcc_data(xdrs, &objp->dir_wcc);
}

/* struct RMDIR3resfail { wcc_data dir_wcc; }; */
bool_t xdr_RMDIR3resfail(XDR *xdrs, RMDIR3resfail *objp)
{
    return xdr_wcc_data(xdrs, &objp->dir_wcc);
}

/* union RMDIR3res switch (nfsstat3 status) {
 * case NFS3_OK: RMDIR3resok resok;
 * default:      RMDIR3resfail resfail;
 * }; */
bool_t xdr_RMDIR3res(XDR *xdrs, RMDIR3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_RMDIR3resok(xdrs, &objp->RMDIR3res_u.resok)
                                    : xdr_RMDIR3resfail(xdrs, &objp->RMDIR3res_u.resfail));
}

/* struct RENAME3args { diropargs3 from; diropargs3 to; }; */
bool_t xdr_RENAME3args(XDR *xdrs, RENAME3args *objp)
{
    return xdr_diropargs3(xdrs, &objp->from) && xdr_diropargs3(xdrs, &objp->to);
}

/* struct RENAME3resok { wcc_data fromdir_wcc; wcc_data todir_wcc; }; */
bool_t xdr_RENAME3resok(XDR *xdrs, RENAME3resok *objp)
{
    return xdr_wcc_data(xdrs, &objp->fromdir_wcc) && xdr_wcc_data(xdrs, &objp->todir_wcc);
}

/* struct RENAME3resfail { wcc_data fromdir_wcc; wcc_data todir_wcc; }; */
bool_t xdr_RENAME3resfail(XDR *xdrs, RENAME3resfail *objp)
{
    return xdr_wcc_data(xdrs, &objp->fromdir_wcc) && xdr_wcc_data(xdrs, &objp->todir_wcc);
}

/* union RENAME3res switch (nfsstat3 status) {
 * case NFS3_OK: RENAME3resok resok;
 * default:      RENAME3resfail resfail;
 * }; */
bool_t xdr_RENAME3res(XDR *xdrs, RENAME3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_RENAME3resok(xdrs, &objp->RENAME3res_u.resok)
                                    : xdr_RENAME3resfail(xdrs, &objp->RENAME3res_u.resfail));
}

/* struct LINK3args { nfs_fh3 file; diropargs3 link; }; */
bool_t xdr_LINK3args(XDR *xdrs, LINK3args *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->file) && xdr_diropargs3(xdrs, &objp->link);
}

/* struct LINK3resok { post_op_attr file_attributes; wcc_data linkdir_wcc; }; */
bool_t xdr_LINK3resok(XDR *xdrs, LINK3resok *objp)
{
    return xdr_post_op_attr(xdrs, &objp->file_attributes) && xdr_wcc_data(xdrs, &objp->linkdir_wcc);
}

/* struct LINK3resfail { post_op_attr file_attributes; wcc_data linkdir_wcc; }; */
bool_t xdr_LINK3resfail(XDR *xdrs, LINK3resfail *objp)
{
    return xdr_post_op_attr(xdrs, &objp->file_attributes) && xdr_wcc_data(xdrs, &objp->linkdir_wcc);
}

/* union LINK3res switch (nfsstat3 status) {
 * case NFS3_OK: LINK3resok resok;
 * default:      LINK3resfail resfail;
 * }; */
bool_t xdr_LINK3res(XDR *xdrs, LINK3res *objp)
{
    return xdr_nfsstat(xdrs, &objp->status) &&
           (objp->status == NFS3_OK ? xdr_LINK3resok(xdrs, &objp->LINK3res_u.resok)
                                    : xdr_LINK3resfail(xdrs, &objp->LINK3res_u.resfail));
}
