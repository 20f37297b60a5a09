// XDR routines of the NFS version 3 attributes, the settable attributes and the small records
// built from them (directory operation arguments, create modes, device data).
#include <brisnel/nfs3Xdr.h>

#include "xdrSupport.h"

/* struct fattr3 {
 *     ftype3 type; mode3 mode; uint32 nlink; uid3 uid; gid3 gid; size3 size; size3 used;
 *     specdata3 rdev; uint64 fsid; fileid3 fileid; nfstime3 atime; nfstime3 mtime;
 *     nfstime3 ctime;
 * }; */
bool_t xdr_fattr3(XDR *xdrs, fattr3 *objp)
{
    return xdr_ftype3(xdrs, &objp->type) && xdr_mode3(xdrs, &objp->mode) && xdr_uint32(xdrs, &objp->nlink) &&
           xdr_uid3(xdrs, &objp->uid) && xdr_gid3(xdrs, &objp->gid) && xdr_size3(xdrs, &objp->size) &&
           xdr_size3(xdrs, &objp->used) && xdr_specdata3(xdrs, &objp->rdev) &&
           xdr_uint64(xdrs, &objp->fsid) && xdr_fileid3(xdrs, &objp->fileid) &&
           xdr_nfstime3(xdrs, &objp->atime) && xdr_nfstime3(xdrs, &objp->mtime) &&
           xdr_nfstime3(xdrs, &objp->ctime);
}

/* union post_op_attr switch (bool attributes_follow) {
 * case TRUE:  fattr3 attributes;
 * case FALSE: void;
 * }; */
bool_t xdr_post_op_attr(XDR *xdrs, post_op_attr *objp)
{
    return xdr_bool(xdrs, &objp->attributes_follow) &&
           (!objp->attributes_follow || xdr_fattr3(xdrs, &objp->post_op_attr_u.attributes));
}

/* struct wcc_attr { size3 size; nfstime3 mtime; nfstime3 ctime; }; */
bool_t xdr_wcc_attr(XDR *xdrs, wcc_attr *objp)
{
    return xdr_size3(xdrs, &objp->size) && xdr_nfstime3(xdrs, &objp->mtime) &&
           xdr_nfstime3(xdrs, &objp->ctime);
}

/* union pre_op_attr switch (bool attributes_follow) {
 * case TRUE:  wcc_attr attributes;
 * case FALSE: void;
 * }; */
bool_t xdr_pre_op_attr(XDR *xdrs, pre_op_attr *objp)
{
    return xdr_bool(xdrs, &objp->attributes_follow) &&
           (!objp->attributes_follow || xdr_wcc_attr(xdrs, &objp->pre_op_attr_u.attributes));
}

/* struct wcc_data { pre_op_attr before; post_op_attr after; }; */
bool_t xdr_wcc_data(XDR *xdrs, wcc_data *objp)
{
    return xdr_pre_op_attr(xdrs, &objp->before) && xdr_post_op_attr(xdrs, &objp->after);
}

/* union post_op_fh3 switch (bool handle_follows) {
 * case TRUE:  nfs_fh3 handle;
 * case FALSE: void;
 * }; */
bool_t xdr_post_op_fh3(XDR *xdrs, post_op_fh3 *objp)
{
    xdrsupport::CallerBuffer keep(xdrs, &objp->post_op_fh3_u.handle.data.data_val);
    return keep.result(xdr_bool(xdrs, &objp->handle_follows) &&
                       (!objp->handle_follows || xdr_nfs_fh3(xdrs, &objp->post_op_fh3_u.handle)));
}

/* union set_mode3 switch (bool set_it) {
 * case TRUE: mode3 mode;
 * default:   void;
 * }; */
bool_t xdr_set_mode3(XDR *xdrs, set_mode3 *objp)
{
    return xdr_bool(xdrs, &objp->set_it) && (!objp->set_it || xdr_mode3(xdrs, &objp->set_mode3_u.mode));
}

/* union set_uid3 switch (bool set_it) {
 * case TRUE: uid3 uid;
 * default:   void;
 * }; */
bool_t xdr_set_uid3(XDR *xdrs, set_uid3 *objp)
{
    return xdr_bool(xdrs, &objp->set_it) && (!objp->set_it || xdr_uid3(xdrs, &objp->set_uid3_u.uid));
}

/* union set_gid3 switch (bool set_it) {
 * case TRUE: gid3 gid;
 * default:   void;
 * }; */
bool_t xdr_set_gid3(XDR *xdrs, set_gid3 *objp)
{
    return xdr_bool(xdrs, &objp->set_it) && (!objp->set_it || xdr_gid3(xdrs, &objp->set_gid3_u.gid));
}

/* union set_size3 switch (bool set_it) {
 * case TRUE: size3 size;
 * default:   void;
 * }; */
bool_t xdr_set_size3(XDR *xdrs, set_size3 *objp)
{
    return xdr_bool(xdrs, &objp->set_it) && (!objp->set_it || xdr_size3(xdrs, &objp->set_size3_u.size));
}

/* union set_atime switch (time_how set_it) {
 * case SET_TO_CLIENT_TIME: nfstime3 atime;
 * default:                 void;
 * }; */
bool_t xdr_set_atime(XDR *xdrs, set_atime *objp)
{
    return xdr_time_how(xdrs, &objp->set_it) &&
           (objp->set_it != SET_TO_CLIENT_TIME || xdr_nfstime3(xdrs, &objp->set_atime_u.atime));
}

/* union set_mtime switch (time_how set_it) {
 * case SET_TO_CLIENT_TIME: nfstime3 mtime;
 * default:                 void;
 * }; */
bool_t xdr_set_mtime(XDR *xdrs, set_mtime *objp)
{
    return xdr_time_how(xdrs, &objp->set_it) &&
           (objp->set_it != SET_TO_CLIENT_TIME || xdr_nfstime3(xdrs, &objp->set_mtime_u.mtime));
}

/* struct sattr3 {
 *     set_mode3 mode; set_uid3 uid; set_gid3 gid; set_size3 size;
 *     set_atime atime; set_mtime mtime;
 * }; */
bool_t xdr_sattr3(XDR *xdrs, sattr3 *objp)
{
    return xdr_set_mode3(xdrs, &objp->mode) && xdr_set_uid3(xdrs, &objp->uid) &&
           xdr_set_gid3(xdrs, &objp->gid) && xdr_set_size3(xdrs, &objp->size) &&
           xdr_set_atime(xdrs, &objp->atime) && xdr_set_mtime(xdrs, &objp->mtime);
}

/* union sattrguard3 switch (bool check) {
 * case TRUE:  nfstime3 obj_ctime;
 * case FALSE: void;
 * }; */
bool_t xdr_sattrguard3(XDR *xdrs, sattrguard3 *objp)
{
    return xdr_bool(xdrs, &objp->check) &&
           (!objp->check || xdr_nfstime3(xdrs, &objp->sattrguard3_u.obj_ctime));
}

/* struct diropargs3 { nfs_fh3 dir; filename3 name; }; */
bool_t xdr_diropargs3(XDR *xdrs, diropargs3 *objp)
{
    return xdr_nfs_fh3(xdrs, &objp->dir) && xdr_filename(xdrs, &objp->name);
}

/* union createhow3 switch (createmode3 mode) {
 * case UNCHECKED:
 * case GUARDED:   sattr3 obj_attributes;
 * case EXCLUSIVE: createverf3 verf;
 * }; */
bool_t xdr_createhow3(XDR *xdrs, createhow3 *objp)
{
    if (!xdr_createmode3(xdrs, &objp->mode))
        return FALSE;
    switch (objp->mode) {
    case UNCHECKED:
    case GUARDED: return xdr_sattr3(xdrs, &objp->createhow3_u.obj_attributes);
    case EXCLUSIVE: return xdr_createverf3(xdrs, objp->createhow3_u.verf);
    }
    return FALSE;
}

/* struct symlinkdata3 { sattr3 symlink_attributes; nfspath3 symlink_data; }; */
bool_t xdr_symlinkdata3(XDR *xdrs, symlinkdata3 *objp)
{
    return xdr_sattr3(xdrs, &objp->symlink_attributes) && xdr_nfspath(xdrs, &objp->symlink_data);
}

/* struct devicedata3 { sattr3 dev_attributes; specdata3 spec; }; */
bool_t xdr_devicedata3(XDR *xdrs, devicedata3 *objp)
{
    return xdr_sattr3(xdrs, &objp->dev_attributes) && xdr_specdata3(xdrs, &objp->spec);
}

/* union mknoddata3 switch (ftype3 type) {
 * case NF3CHR:
 * case NF3BLK:  devicedata3 device;
 * case NF3SOCK:
 * case NF3FIFO: sattr3 pipe_attributes;
 * default:      void;
 * }; */
bool_t xdr_mknoddata3(XDR *xdrs, mknoddata3 *objp)
{
    if (!xdr_ftype3(xdrs, &objp->type))
        return FALSE;
    switch (objp->type) {
    case NF3CHR:
    case NF3BLK: return xdr_devicedata3(xdrs, &objp->mknoddata3_u.device);
    case NF3SOCK:
    case NF3FIFO: return xdr_sattr3(xdrs, &objp->mknoddata3_u.pipe_attributes);
    default: return TRUE;
    }
}
