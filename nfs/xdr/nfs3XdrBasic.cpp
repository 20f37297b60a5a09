// XDR routines of the NFS version 3 scalars and simple types, and of the status, file name and
// path that both NFS versions share.
#include <brisnel/nfs3Xdr.h>

#include "xdrSupport.h"

using xdrsupport::enumValue;

/* typedef unsigned hyper uint64; */
bool_t xdr_uint64(XDR *xdrs, uint64 *objp)
{
    return xdr_uint64_t(xdrs, objp);
}

/* typedef unsigned int uint32; */
bool_t xdr_uint32(XDR *xdrs, uint32 *objp)
{
    return xdr_uint32_t(xdrs, objp);
}

/* typedef hyper int64; */
bool_t xdr_int64(XDR *xdrs, int64 *objp)
{
    return xdr_int64_t(xdrs, objp);
}

/* typedef int int32; */
bool_t xdr_int32(XDR *xdrs, int32 *objp)
{
    return xdr_int32_t(xdrs, objp);
}

/* typedef uint64 fileid3; */
bool_t xdr_fileid3(XDR *xdrs, fileid3 *objp)
{
    return xdr_uint64(xdrs, objp);
}

/* typedef uint64 cookie3; */
bool_t xdr_cookie3(XDR *xdrs, cookie3 *objp)
{
    return xdr_uint64(xdrs, objp);
}

/* typedef uint32 uid3; */
bool_t xdr_uid3(XDR *xdrs, uid3 *objp)
{
    return xdr_uint32(xdrs, objp);
}

/* typedef uint32 gid3; */
bool_t xdr_gid3(XDR *xdrs, gid3 *objp)
{
    return xdr_uint32(xdrs, objp);
}

/* typedef uint64 size3; */
bool_t xdr_size3(XDR *xdrs, size3 *objp)
{
    return xdr_uint64(xdrs, objp);
}

/* typedef uint64 offset3; */
bool_t xdr_offset3(XDR *xdrs, offset3 *objp)
{
    return xdr_uint64(xdrs, objp);
}

/* typedef uint32 mode3; */
bool_t xdr_mode3(XDR *xdrs, mode3 *objp)
{
    return xdr_uint32(xdrs, objp);
}

/* typedef uint32 count3; */
bool_t xdr_count3(XDR *xdrs, count3 *objp)
{
    return xdr_uint32(xdrs, objp);
}

/* typedef opaque cookieverf3[NFS3_COOKIEVERFSIZE]; */
bool_t xdr_cookieverf3(XDR *xdrs, cookieverf3 objp)
{
    return xdr_opaque(xdrs, objp, NFS3_COOKIEVERFSIZE);
}

/* typedef opaque createverf3[NFS3_CREATEVERFSIZE]; */
bool_t xdr_createverf3(XDR *xdrs, createverf3 objp)
{
    return xdr_opaque(xdrs, objp, NFS3_CREATEVERFSIZE);
}

/* typedef opaque writeverf3[NFS3_WRITEVERFSIZE]; */
bool_t xdr_writeverf3(XDR *xdrs, writeverf3 objp)
{
    return xdr_opaque(xdrs, objp, NFS3_WRITEVERFSIZE);
}

/* enum ftype3 { NF3REG = 1, NF3DIR = 2, NF3BLK = 3, NF3CHR = 4,
 *               NF3LNK = 5, NF3SOCK = 6, NF3FIFO = 7 }; */
bool_t xdr_ftype3(XDR *xdrs, ftype3 *objp)
{
    return enumValue(xdrs, objp);
}

/* struct specdata3 { uint32 specdata1; uint32 specdata2; }; */
bool_t xdr_specdata3(XDR *xdrs, specdata3 *objp)
{
    return xdr_uint32(xdrs, &objp->specdata1) && xdr_uint32(xdrs, &objp->specdata2);
}

/* struct nfs_fh3 { opaque data<NFS3_FHSIZE>; };
 * With data_val set on decode, the bytes land in that buffer of NFS3_FHSIZE bytes; the limit
 * refuses a longer handle before any byte is written. */
bool_t xdr_nfs_fh3(XDR *xdrs, nfs_fh3 *objp)
{
    xdrsupport::CallerBuffer keep(xdrs, &objp->data.data_val);
    return keep.result(xdr_bytes(xdrs, &objp->data.data_val, &objp->data.data_len, NFS3_FHSIZE));
}

/* struct nfstime3 { uint32 seconds; uint32 nseconds; }; */
bool_t xdr_nfstime3(XDR *xdrs, nfstime3 *objp)
{
    return xdr_uint32(xdrs, &objp->seconds) && xdr_uint32(xdrs, &objp->nseconds);
}

/* enum stable_how { UNSTABLE = 0, DATA_SYNC = 1, FILE_SYNC = 2 }; */
bool_t xdr_stable_how(XDR *xdrs, stable_how *objp)
{
    return enumValue(xdrs, objp);
}

/* enum time_how { DONT_CHANGE = 0, SET_TO_SERVER_TIME = 1, SET_TO_CLIENT_TIME = 2 }; */
bool_t xdr_time_how(XDR *xdrs, time_how *objp)
{
    return enumValue(xdrs, objp);
}

/* enum createmode3 { UNCHECKED = 0, GUARDED = 1, EXCLUSIVE = 2 }; */
bool_t xdr_createmode3(XDR *xdrs, createmode3 *objp)
{
    return enumValue(xdrs, objp);
}

/* enum nfsstat3 { NFS3_OK = 0, NFS3ERR_PERM = 1, ... NFS3ERR_JUKEBOX = 10008 };
 * enum nfsstat { NFS_OK = 0, NFSERR_PERM = 1, ... NFSERR_WFLUSH = 99 }; */
bool_t xdr_nfsstat(XDR *xdrs, nfsstat *objp)
{
    return enumValue(xdrs, objp);
}

/* typedef string filename3<>;   typedef string filename<MAXNAMLEN>;
 * Both versions decode at most MAXNAMLEN bytes and encode what the caller gives. */
bool_t xdr_filename(XDR *xdrs, char **objp)
{
    return xdr_string(xdrs, objp, xdrsupport::decodeLimit(xdrs, NFS_MAXNAMLEN));
}

/* typedef string nfspath3<>;   typedef string path<MAXPATHLEN>;
 * Both versions decode at most MAXPATHLEN bytes and encode what the caller gives. */
bool_t xdr_nfspath(XDR *xdrs, char **objp)
{
    return xdr_string(xdrs, objp, xdrsupport::decodeLimit(xdrs, NFS_MAXPATHLEN));
}
