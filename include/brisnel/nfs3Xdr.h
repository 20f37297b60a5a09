/* In-memory forms of the NFS version 3 protocol types and their XDR filter routines, plus the
 * routines both NFS versions share (status, file name, path).
 *
 * Records follow the RFC's names and member order. Unions are a discriminant followed by
 * <type>_u holding the arms; variable opaque data is { u_int <m>_len; char *<m>_val; }.
 * 32-bit members are 32 bits in memory and 64-bit members are uint64_t / int64_t.
 *
 * Buffers the caller supplies for decoding (the pointer is already set when decoding starts):
 * - nfs_fh3 / post_op_fh3 handles: the bytes land in the caller's buffer, which must hold
 *   NFS3_FHSIZE (64) bytes; a longer handle fails to decode.
 * - READ3resok.data: data.data_len is taken as the capacity of data.data_val; a reply carrying
 *   more bytes than that fails to decode and nothing is written. Set it to the count asked.
 *   Without a buffer, data beyond NFS3_MAXDATA_DECODED bytes fails before it is allocated.
 * - READLINK3resok.data: the buffer is taken to hold NFS3_READLINK_BUFSIZE bytes; a longer
 *   link text (with its terminator) fails to decode.
 * A failed decode clears these pointers, so that the free pass releasing the partial reply
 * leaves the caller's buffers alone. After a successful decode, clear them before releasing
 * the reply with XDR_FREE: the free pass releases every non-null pointer it meets. Result
 * records are zeroed, or prepared as above, by the caller before decoding. */
#ifndef BRISNEL_NFS3XDR_H
#define BRISNEL_NFS3XDR_H

#include <stdint.h>
#include <rpc/rpc.h>

/* Enums are exactly 32 bits, and every 32-bit value a peer sends is a valid value of them. */
#ifdef __cplusplus
#define NFS_XDR_ENUM(tag) enum tag : int32_t
#else
#define NFS_XDR_ENUM(tag) enum tag
#endif

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define NFS_PROGRAM 100003
#define NFS_V3 3

#define NFSPROC3_NULL 0
#define NFSPROC3_GETATTR 1
#define NFSPROC3_SETATTR 2
#define NFSPROC3_LOOKUP 3
#define NFSPROC3_ACCESS 4
#define NFSPROC3_READLINK 5
#define NFSPROC3_READ 6
#define NFSPROC3_WRITE 7
#define NFSPROC3_CREATE 8
#define NFSPROC3_MKDIR 9
#define NFSPROC3_SYMLINK 10
#define NFSPROC3_MKNOD 11
#define NFSPROC3_REMOVE 12
#define NFSPROC3_RMDIR 13
#define NFSPROC3_RENAME 14
#define NFSPROC3_LINK 15
#define NFSPROC3_READDIR 16
#define NFSPROC3_READDIRPLUS 17
#define NFSPROC3_FSSTAT 18
#define NFSPROC3_FSINFO 19
#define NFSPROC3_PATHCONF 20
#define NFSPROC3_COMMIT 21

#define NFS3_FHSIZE 64
#define NFS3_COOKIEVERFSIZE 8
#define NFS3_CREATEVERFSIZE 8
#define NFS3_WRITEVERFSIZE 8
/* Size of the caller's buffer that a READLINK reply decodes into (the module's path size). */
#define NFS3_READLINK_BUFSIZE 256
/* Longest name and path a decoder accepts, in both versions (RFC 1094's limits). */
#define NFS_MAXNAMLEN 255
#define NFS_MAXPATHLEN 1024
/* Longest data a decoder accepts without a caller's buffer: a reply comes in one datagram of
 * the RPC library's receive buffer, UDPMSGSIZE bytes. */
#define NFS3_MAXDATA_DECODED UDPMSGSIZE

#define ACCESS3_READ 0x0001
#define ACCESS3_LOOKUP 0x0002
#define ACCESS3_MODIFY 0x0004
#define ACCESS3_EXTEND 0x0008
#define ACCESS3_DELETE 0x0010
#define ACCESS3_EXECUTE 0x0020

#define FSF3_LINK 0x0001
#define FSF3_SYMLINK 0x0002
#define FSF3_HOMOGENEOUS 0x0008
#define FSF3_CANSETTIME 0x0010

typedef uint64_t uint64;
typedef int64_t int64;
typedef uint32_t uint32;
typedef int32_t int32;
typedef char *filename3;
typedef char *nfspath3;
typedef uint64 fileid3;
typedef uint64 cookie3;
typedef char cookieverf3[NFS3_COOKIEVERFSIZE];
typedef char createverf3[NFS3_CREATEVERFSIZE];
typedef char writeverf3[NFS3_WRITEVERFSIZE];
typedef uint32 uid3;
typedef uint32 gid3;
typedef uint64 size3;
typedef uint64 offset3;
typedef uint32 mode3;
typedef uint32 count3;

/* The status heading every result of both versions; the version 2 names share the values. */
typedef NFS_XDR_ENUM(nfsstat){NFS_OK = 0,
                              NFS3_OK = 0,
                              NFSERR_PERM = 1,
                              NFS3ERR_PERM = 1,
                              NFSERR_NOENT = 2,
                              NFS3ERR_NOENT = 2,
                              NFSERR_IO = 5,
                              NFS3ERR_IO = 5,
                              NFSERR_NXIO = 6,
                              NFS3ERR_NXIO = 6,
                              NFSERR_ACCES = 13,
                              NFS3ERR_ACCES = 13,
                              NFSERR_EXIST = 17,
                              NFS3ERR_EXIST = 17,
                              NFS3ERR_XDEV = 18,
                              NFSERR_NODEV = 19,
                              NFS3ERR_NODEV = 19,
                              NFSERR_NOTDIR = 20,
                              NFS3ERR_NOTDIR = 20,
                              NFSERR_ISDIR = 21,
                              NFS3ERR_ISDIR = 21,
                              NFS3ERR_INVAL = 22,
                              NFSERR_FBIG = 27,
                              NFS3ERR_FBIG = 27,
                              NFSERR_NOSPC = 28,
                              NFS3ERR_NOSPC = 28,
                              NFSERR_ROFS = 30,
                              NFS3ERR_ROFS = 30,
                              NFS3ERR_MLINK = 31,
                              NFSERR_NAMETOOLONG = 63,
                              NFS3ERR_NAMETOOLONG = 63,
                              NFSERR_NOTEMPTY = 66,
                              NFS3ERR_NOTEMPTY = 66,
                              NFSERR_DQUOT = 69,
                              NFS3ERR_DQUOT = 69,
                              NFSERR_STALE = 70,
                              NFS3ERR_STALE = 70,
                              NFS3ERR_REMOTE = 71,
                              NFSERR_WFLUSH = 99,
                              NFS3ERR_BADHANDLE = 10001,
                              NFS3ERR_NOT_SYNC = 10002,
                              NFS3ERR_BAD_COOKIE = 10003,
                              NFS3ERR_NOTSUPP = 10004,
                              NFS3ERR_TOOSMALL = 10005,
                              NFS3ERR_SERVERFAULT = 10006,
                              NFS3ERR_BADTYPE = 10007,
                              NFS3ERR_JUKEBOX = 10008} nfsstat;
typedef nfsstat nfsstat3;

typedef NFS_XDR_ENUM(ftype3){NF3REG = 1, NF3DIR = 2,  NF3BLK = 3, NF3CHR = 4,
                             NF3LNK = 5, NF3SOCK = 6, NF3FIFO = 7} ftype3;

typedef NFS_XDR_ENUM(stable_how){UNSTABLE = 0, DATA_SYNC = 1, FILE_SYNC = 2} stable_how;

typedef NFS_XDR_ENUM(time_how){DONT_CHANGE = 0, SET_TO_SERVER_TIME = 1, SET_TO_CLIENT_TIME = 2} time_how;

typedef NFS_XDR_ENUM(createmode3){UNCHECKED = 0, GUARDED = 1, EXCLUSIVE = 2} createmode3;

typedef struct specdata3 {
    uint32 specdata1;
    uint32 specdata2;
} specdata3;

typedef struct nfs_fh3 {
    struct {
        u_int data_len;
        char *data_val;
    } data;
} nfs_fh3;

typedef struct nfstime3 {
    uint32 seconds;
    uint32 nseconds;
} nfstime3;

typedef struct fattr3 {
    ftype3 type;
    mode3 mode;
    uint32 nlink;
    uid3 uid;
    gid3 gid;
    size3 size;
    size3 used;
    specdata3 rdev;
    uint64 fsid;
    fileid3 fileid;
    nfstime3 atime;
    nfstime3 mtime;
    nfstime3 ctime;
} fattr3;

typedef struct post_op_attr {
    bool_t attributes_follow;
    union {
        fattr3 attributes;
    } post_op_attr_u;
} post_op_attr;

typedef struct wcc_attr {
    size3 size;
    nfstime3 mtime;
    nfstime3 ctime;
} wcc_attr;

typedef struct pre_op_attr {
    bool_t attributes_follow;
    union {
        wcc_attr attributes;
    } pre_op_attr_u;
} pre_op_attr;

typedef struct wcc_data {
    pre_op_attr before;
    post_op_attr after;
} wcc_data;

typedef struct post_op_fh3 {
    bool_t handle_follows;
    union {
        nfs_fh3 handle;
    } post_op_fh3_u;
} post_op_fh3;

typedef struct set_mode3 {
    bool_t set_it;
    union {
        mode3 mode;
    } set_mode3_u;
} set_mode3;

typedef struct set_uid3 {
    bool_t set_it;
    union {
        uid3 uid;
    } set_uid3_u;
} set_uid3;

typedef struct set_gid3 {
    bool_t set_it;
    union {
        gid3 gid;
    } set_gid3_u;
} set_gid3;

typedef struct set_size3 {
    bool_t set_it;
    union {
        size3 size;
    } set_size3_u;
} set_size3;

typedef struct set_atime {
    time_how set_it;
    union {
        nfstime3 atime;
    } set_atime_u;
} set_atime;

typedef struct set_mtime {
    time_how set_it;
    union {
        nfstime3 mtime;
    } set_mtime_u;
} set_mtime;

typedef struct sattr3 {
    set_mode3 mode;
    set_uid3 uid;
    set_gid3 gid;
    set_size3 size;
    set_atime atime;
    set_mtime mtime;
} sattr3;

typedef struct diropargs3 {
    nfs_fh3 dir;
    filename3 name;
} diropargs3;

typedef struct sattrguard3 {
    bool_t check;
    union {
        nfstime3 obj_ctime;
    } sattrguard3_u;
} sattrguard3;

typedef struct createhow3 {
    createmode3 mode;
    union {
        sattr3 obj_attributes;
        createverf3 verf;
    } createhow3_u;
} createhow3;

typedef struct symlinkdata3 {
    sattr3 symlink_attributes;
    nfspath3 symlink_data;
} symlinkdata3;

typedef struct devicedata3 {
    sattr3 dev_attributes;
    specdata3 spec;
} devicedata3;

typedef struct mknoddata3 {
    ftype3 type;
    union {
        devicedata3 device;
        sattr3 pipe_attributes;
    } mknoddata3_u;
} mknoddata3;

/* GETATTR */
typedef struct GETATTR3args {
    nfs_fh3 object;
} GETATTR3args;
typedef struct GETATTR3resok {
    fattr3 obj_attributes;
} GETATTR3resok;
typedef struct GETATTR3res {
    nfsstat3 status;
    union {
        GETATTR3resok resok;
    } GETATTR3res_u;
} GETATTR3res;

/* SETATTR */
typedef struct SETATTR3args {
    nfs_fh3 object;
    sattr3 new_attributes;
    sattrguard3 guard;
} SETATTR3args;
typedef struct SETATTR3resok {
    wcc_data obj_wcc;
} SETATTR3resok;
typedef struct SETATTR3resfail {
    wcc_data obj_wcc;
} SETATTR3resfail;
typedef struct SETATTR3res {
    nfsstat3 status;
    union {
        SETATTR3resok resok;
        SETATTR3resfail resfail;
    } SETATTR3res_u;
} SETATTR3res;

/* LOOKUP */
typedef struct LOOKUP3args {
    diropargs3 what;
} LOOKUP3args;
typedef struct LOOKUP3resok {
    nfs_fh3 object;
    post_op_attr obj_attributes;
    post_op_attr dir_attributes;
} LOOKUP3resok;
typedef struct LOOKUP3resfail {
    post_op_attr dir_attributes;
} LOOKUP3resfail;
typedef struct LOOKUP3res {
    nfsstat3 status;
    union {
        LOOKUP3resok resok;
        LOOKUP3resfail resfail;
    } LOOKUP3res_u;
} LOOKUP3res;

/* ACCESS */
typedef struct ACCESS3args {
    nfs_fh3 object;
    uint32 access;
} ACCESS3args;
typedef struct ACCESS3resok {
    post_op_attr obj_attributes;
    uint32 access;
} ACCESS3resok;
typedef struct ACCESS3resfail {
    post_op_attr obj_attributes;
} ACCESS3resfail;
typedef struct ACCESS3res {
    nfsstat3 status;
    union {
        ACCESS3resok resok;
        ACCESS3resfail resfail;
    } ACCESS3res_u;
} ACCESS3res;

/* READLINK */
typedef struct READLINK3args {
    nfs_fh3 symlink;
} READLINK3args;
typedef struct READLINK3resok {
    post_op_attr symlink_attributes;
    nfspath3 data;
} READLINK3resok;
typedef struct READLINK3resfail {
    post_op_attr symlink_attributes;
} READLINK3resfail;
typedef struct READLINK3res {
    nfsstat3 status;
    union {
        READLINK3resok resok;
        READLINK3resfail resfail;
    } READLINK3res_u;
} READLINK3res;

/* READ */
typedef struct READ3args {
    nfs_fh3 file;
    offset3 offset;
    count3 count;
} READ3args;
typedef struct READ3resok {
    post_op_attr file_attributes;
    count3 count;
    bool_t eof;
    struct {
        u_int data_len;
        char *data_val;
    } data;
} READ3resok;
typedef struct READ3resfail {
    post_op_attr file_attributes;
} READ3resfail;
typedef struct READ3res {
    nfsstat3 status;
    union {
        READ3resok resok;
        READ3resfail resfail;
    } READ3res_u;
} READ3res;

/* WRITE */
typedef struct WRITE3args {
    nfs_fh3 file;
    offset3 offset;
    count3 count;
    stable_how stable;
    struct {
        u_int data_len;
        char *data_val;
    } data;
} WRITE3args;
typedef struct WRITE3resok {
    wcc_data file_wcc;
    count3 count;
    stable_how committed;
    writeverf3 verf;
} WRITE3resok;
typedef struct WRITE3resfail {
    wcc_data file_wcc;
} WRITE3resfail;
typedef struct WRITE3res {
    nfsstat3 status;
    union {
        WRITE3resok resok;
        WRITE3resfail resfail;
    } WRITE3res_u;
} WRITE3res;

/* CREATE */
typedef struct CREATE3args {
    diropargs3 where;
    createhow3 how;
} CREATE3args;
typedef struct CREATE3resok {
    post_op_fh3 obj;
    post_op_attr obj_attributes;
    wcc_data dir_wcc;
} CREATE3resok;
typedef struct CREATE3resfail {
    wcc_data dir_wcc;
} CREATE3resfail;
typedef struct CREATE3res {
    nfsstat3 status;
    union {
        CREATE3resok resok;
        CREATE3resfail resfail;
    } CREATE3res_u;
} CREATE3res;

/* MKDIR */
typedef struct MKDIR3args {
    diropargs3 where;
    sattr3 attributes;
} MKDIR3args;
typedef struct MKDIR3resok {
    post_op_fh3 obj;
    post_op_attr obj_attributes;
    wcc_data dir_wcc;
} MKDIR3resok;
typedef struct MKDIR3resfail {
    wcc_data dir_wcc;
} MKDIR3resfail;
typedef struct MKDIR3res {
    nfsstat3 status;
    union {
        MKDIR3resok resok;
        MKDIR3resfail resfail;
    } MKDIR3res_u;
} MKDIR3res;

/* SYMLINK */
typedef struct SYMLINK3args {
    diropargs3 where;
    symlinkdata3 symlink;
} SYMLINK3args;
typedef struct SYMLINK3resok {
    post_op_fh3 obj;
    post_op_attr obj_attributes;
    wcc_data dir_wcc;
} SYMLINK3resok;
typedef struct SYMLINK3resfail {
    wcc_data dir_wcc;
} SYMLINK3resfail;
typedef struct SYMLINK3res {
    nfsstat3 status;
    union {
        SYMLINK3resok resok;
        SYMLINK3resfail resfail;
    } SYMLINK3res_u;
} SYMLINK3res;

/* MKNOD */
typedef struct MKNOD3args {
    diropargs3 where;
    mknoddata3 what;
} MKNOD3args;
typedef struct MKNOD3resok {
    post_op_fh3 obj;
    post_op_attr obj_attributes;
    wcc_data dir_wcc;
} MKNOD3resok;
typedef struct MKNOD3resfail {
    wcc_data dir_wcc;
} MKNOD3resfail;
typedef struct MKNOD3res {
    nfsstat3 status;
    union {
        MKNOD3resok resok;
        MKNOD3resfail resfail;
    } MKNOD3res_u;
} MKNOD3res;

/* REMOVE */
typedef struct REMOVE3args {
    diropargs3 object;
} REMOVE3args;
typedef struct REMOVE3resok {
    wcc_data dir_wcc;
} REMOVE3resok;
typedef struct REMOVE3resfail {
    wcc_data dir_wcc;
} REMOVE3resfail;
typedef struct REMOVE3res {
    nfsstat3 status;
    union {
        REMOVE3resok resok;
        REMOVE3resfail resfail;
    } REMOVE3res_u;
} REMOVE3res;

/* RMDIR */
typedef struct RMDIR3args {
    diropargs3 object;
} RMDIR3args;
typedef struct RMDIR3resok {
    wcc_data dir_wcc;
} RMDIR3resok;
typedef struct RMDIR3resfail {
    wcc_data dir_wcc;
} RMDIR3resfail;
typedef struct RMDIR3res {
    nfsstat3 status;
    union {
        RMDIR3resok resok;
        RMDIR3resfail resfail;
    } RMDIR3res_u;
} RMDIR3res;

/* RENAME */
typedef struct RENAME3args {
    diropargs3 from;
    diropargs3 to;
} RENAME3args;
typedef struct RENAME3resok {
    wcc_data fromdir_wcc;
    wcc_data todir_wcc;
} RENAME3resok;
typedef struct RENAME3resfail {
    wcc_data fromdir_wcc;
    wcc_data todir_wcc;
} RENAME3resfail;
typedef struct RENAME3res {
    nfsstat3 status;
    union {
        RENAME3resok resok;
        RENAME3resfail resfail;
    } RENAME3res_u;
} RENAME3res;

/* LINK */
typedef struct LINK3args {
    nfs_fh3 file;
    diropargs3 link;
} LINK3args;
typedef struct LINK3resok {
    post_op_attr file_attributes;
    wcc_data linkdir_wcc;
} LINK3resok;
typedef struct LINK3resfail {
    post_op_attr file_attributes;
    wcc_data linkdir_wcc;
} LINK3resfail;
typedef struct LINK3res {
    nfsstat3 status;
    union {
        LINK3resok resok;
        LINK3resfail resfail;
    } LINK3res_u;
} LINK3res;

/* READDIR */
typedef struct READDIR3args {
    nfs_fh3 dir;
    cookie3 cookie;
    cookieverf3 cookieverf;
    count3 count;
} READDIR3args;
typedef struct entry3 {
    fileid3 fileid;
    filename3 name;
    cookie3 cookie;
    struct entry3 *nextentry;
} entry3;
typedef struct dirlist3 {
    entry3 *entries;
    bool_t eof;
} dirlist3;
typedef struct READDIR3resok {
    post_op_attr dir_attributes;
    cookieverf3 cookieverf;
    dirlist3 reply;
} READDIR3resok;
typedef struct READDIR3resfail {
    post_op_attr dir_attributes;
} READDIR3resfail;
typedef struct READDIR3res {
    nfsstat3 status;
    union {
        READDIR3resok resok;
        READDIR3resfail resfail;
    } READDIR3res_u;
} READDIR3res;

/* READDIRPLUS */
typedef struct READDIRPLUS3args {
    nfs_fh3 dir;
    cookie3 cookie;
    cookieverf3 cookieverf;
    count3 dircount;
    count3 maxcount;
} READDIRPLUS3args;
typedef struct entryplus3 {
    fileid3 fileid;
    filename3 name;
    cookie3 cookie;
    post_op_attr name_attributes;
    post_op_fh3 name_handle;
    struct entryplus3 *nextentry;
} entryplus3;
typedef struct dirlistplus3 {
    entryplus3 *entries;
    bool_t eof;
} dirlistplus3;
typedef struct READDIRPLUS3resok {
    post_op_attr dir_attributes;
    cookieverf3 cookieverf;
    dirlistplus3 reply;
} READDIRPLUS3resok;
typedef struct READDIRPLUS3resfail {
    post_op_attr dir_attributes;
} READDIRPLUS3resfail;
typedef struct READDIRPLUS3res {
    nfsstat3 status;
    union {
        READDIRPLUS3resok resok;
        READDIRPLUS3resfail resfail;
    } READDIRPLUS3res_u;
} READDIRPLUS3res;

/* FSSTAT */
typedef struct FSSTAT3args {
    nfs_fh3 fsroot;
} FSSTAT3args;
typedef struct FSSTAT3resok {
    post_op_attr obj_attributes;
    size3 tbytes;
    size3 fbytes;
    size3 abytes;
    size3 tfiles;
    size3 ffiles;
    size3 afiles;
    uint32 invarsec;
} FSSTAT3resok;
typedef struct FSSTAT3resfail {
    post_op_attr obj_attributes;
} FSSTAT3resfail;
typedef struct FSSTAT3res {
    nfsstat3 status;
    union {
        FSSTAT3resok resok;
        FSSTAT3resfail resfail;
    } FSSTAT3res_u;
} FSSTAT3res;

/* FSINFO */
typedef struct FSINFO3args {
    nfs_fh3 fsroot;
} FSINFO3args;
typedef struct FSINFO3resok {
    post_op_attr obj_attributes;
    uint32 rtmax;
    uint32 rtpref;
    uint32 rtmult;
    uint32 wtmax;
    uint32 wtpref;
    uint32 wtmult;
    uint32 dtpref;
    size3 maxfilesize;
    nfstime3 time_delta;
    uint32 properties;
} FSINFO3resok;
typedef struct FSINFO3resfail {
    post_op_attr obj_attributes;
} FSINFO3resfail;
typedef struct FSINFO3res {
    nfsstat3 status;
    union {
        FSINFO3resok resok;
        FSINFO3resfail resfail;
    } FSINFO3res_u;
} FSINFO3res;

/* PATHCONF */
typedef struct PATHCONF3args {
    nfs_fh3 object;
} PATHCONF3args;
typedef struct PATHCONF3resok {
    post_op_attr obj_attributes;
    uint32 linkmax;
    uint32 name_max;
    bool_t no_trunc;
    bool_t chown_restricted;
    bool_t case_insensitive;
    bool_t case_preserving;
} PATHCONF3resok;
typedef struct PATHCONF3resfail {
    post_op_attr obj_attributes;
} PATHCONF3resfail;
typedef struct PATHCONF3res {
    nfsstat3 status;
    union {
        PATHCONF3resok resok;
        PATHCONF3resfail resfail;
    } PATHCONF3res_u;
} PATHCONF3res;

/* COMMIT */
typedef struct COMMIT3args {
    nfs_fh3 file;
    offset3 offset;
    count3 count;
} COMMIT3args;
typedef struct COMMIT3resok {
    wcc_data file_wcc;
    writeverf3 verf;
} COMMIT3resok;
typedef struct COMMIT3resfail {
    wcc_data file_wcc;
} COMMIT3resfail;
typedef struct COMMIT3res {
    nfsstat3 status;
    union {
        COMMIT3resok resok;
        COMMIT3resfail resfail;
    } COMMIT3res_u;
} COMMIT3res;

/* Scalars and simple types. */
bool_t xdr_uint64(XDR *xdrs, uint64 *objp);
bool_t xdr_uint32(XDR *xdrs, uint32 *objp);
bool_t xdr_int64(XDR *xdrs, int64 *objp);
bool_t xdr_int32(XDR *xdrs, int32 *objp);
bool_t xdr_fileid3(XDR *xdrs, fileid3 *objp);
bool_t xdr_cookie3(XDR *xdrs, cookie3 *objp);
bool_t xdr_uid3(XDR *xdrs, uid3 *objp);
bool_t xdr_gid3(XDR *xdrs, gid3 *objp);
bool_t xdr_size3(XDR *xdrs, size3 *objp);
bool_t xdr_offset3(XDR *xdrs, offset3 *objp);
bool_t xdr_mode3(XDR *xdrs, mode3 *objp);
bool_t xdr_count3(XDR *xdrs, count3 *objp);
bool_t xdr_cookieverf3(XDR *xdrs, cookieverf3 objp);
bool_t xdr_createverf3(XDR *xdrs, createverf3 objp);
bool_t xdr_writeverf3(XDR *xdrs, writeverf3 objp);
bool_t xdr_ftype3(XDR *xdrs, ftype3 *objp);
bool_t xdr_specdata3(XDR *xdrs, specdata3 *objp);
bool_t xdr_nfs_fh3(XDR *xdrs, nfs_fh3 *objp);
bool_t xdr_nfstime3(XDR *xdrs, nfstime3 *objp);
bool_t xdr_stable_how(XDR *xdrs, stable_how *objp);
bool_t xdr_time_how(XDR *xdrs, time_how *objp);
bool_t xdr_createmode3(XDR *xdrs, createmode3 *objp);

/* Shared with version 2. Names and paths are refused on decode beyond NFS_MAXNAMLEN and
 * NFS_MAXPATHLEN bytes, before anything is allocated; encoding passes them unbounded. */
bool_t xdr_nfsstat(XDR *xdrs, nfsstat *objp);
bool_t xdr_filename(XDR *xdrs, char **objp);
bool_t xdr_nfspath(XDR *xdrs, char **objp);

/* Attributes and their parts. */
bool_t xdr_fattr3(XDR *xdrs, fattr3 *objp);
bool_t xdr_post_op_attr(XDR *xdrs, post_op_attr *objp);
bool_t xdr_wcc_attr(XDR *xdrs, wcc_attr *objp);
bool_t xdr_pre_op_attr(XDR *xdrs, pre_op_attr *objp);
bool_t xdr_wcc_data(XDR *xdrs, wcc_data *objp);
bool_t xdr_post_op_fh3(XDR *xdrs, post_op_fh3 *objp);
bool_t xdr_set_mode3(XDR *xdrs, set_mode3 *objp);
bool_t xdr_set_uid3(XDR *xdrs, set_uid3 *objp);
bool_t xdr_set_gid3(XDR *xdrs, set_gid3 *objp);
bool_t xdr_set_size3(XDR *xdrs, set_size3 *objp);
bool_t xdr_set_atime(XDR *xdrs, set_atime *objp);
bool_t xdr_set_mtime(XDR *xdrs, set_mtime *objp);
bool_t xdr_sattr3(XDR *xdrs, sattr3 *objp);
bool_t xdr_sattrguard3(XDR *xdrs, sattrguard3 *objp);
bool_t xdr_diropargs3(XDR *xdrs, diropargs3 *objp);
bool_t xdr_createhow3(XDR *xdrs, createhow3 *objp);
bool_t xdr_symlinkdata3(XDR *xdrs, symlinkdata3 *objp);
bool_t xdr_devicedata3(XDR *xdrs, devicedata3 *objp);
bool_t xdr_mknoddata3(XDR *xdrs, mknoddata3 *objp);

/* Procedure arguments and results. */
bool_t xdr_GETATTR3args(XDR *xdrs, GETATTR3args *objp);
bool_t xdr_GETATTR3resok(XDR *xdrs, GETATTR3resok *objp);
bool_t xdr_GETATTR3res(XDR *xdrs, GETATTR3res *objp);
bool_t xdr_SETATTR3args(XDR *xdrs, SETATTR3args *objp);
bool_t xdr_SETATTR3resok(XDR *xdrs, SETATTR3resok *objp);
bool_t xdr_SETATTR3resfail(XDR *xdrs, SETATTR3resfail *objp);
bool_t xdr_SETATTR3res(XDR *xdrs, SETATTR3res *objp);
bool_t xdr_LOOKUP3args(XDR *xdrs, LOOKUP3args *objp);
bool_t xdr_LOOKUP3resok(XDR *xdrs, LOOKUP3resok *objp);
bool_t xdr_LOOKUP3resfail(XDR *xdrs, LOOKUP3resfail *objp);
bool_t xdr_LOOKUP3res(XDR *xdrs, LOOKUP3res *objp);
bool_t xdr_ACCESS3args(XDR *xdrs, ACCESS3args *objp);
bool_t xdr_ACCESS3resok(XDR *xdrs, ACCESS3resok *objp);
bool_t xdr_ACCESS3resfail(XDR *xdrs, ACCESS3resfail *objp);
bool_t xdr_ACCESS3res(XDR *xdrs, ACCESS3res *objp);
bool_t xdr_READLINK3args(XDR *xdrs, READLINK3args *objp);
bool_t xdr_READLINK3resok(XDR *xdrs, READLINK3resok *objp);
bool_t xdr_READLINK3resfail(XDR *xdrs, READLINK3resfail *objp);
bool_t xdr_READLINK3res(XDR *xdrs, READLINK3res *objp);
bool_t xdr_READ3args(XDR *xdrs, READ3args *objp);
bool_t xdr_READ3resok(XDR *xdrs, READ3resok *objp);
bool_t xdr_READ3resfail(XDR *xdrs, READ3resfail *objp);
bool_t xdr_READ3res(XDR *xdrs, READ3res *objp);
bool_t xdr_WRITE3args(XDR *xdrs, WRITE3args *objp);
bool_t xdr_WRITE3resok(XDR *xdrs, WRITE3resok *objp);
bool_t xdr_WRITE3resfail(XDR *xdrs, WRITE3resfail *objp);
bool_t xdr_WRITE3res(XDR *xdrs, WRITE3res *objp);
bool_t xdr_CREATE3args(XDR *xdrs, CREATE3args *objp);
bool_t xdr_CREATE3resok(XDR *xdrs, CREATE3resok *objp);
bool_t xdr_CREATE3resfail(XDR *xdrs, CREATE3resfail *objp);
bool_t xdr_CREATE3res(XDR *xdrs, CREATE3res *objp);
bool_t xdr_MKDIR3args(XDR *xdrs, MKDIR3args *objp);
bool_t xdr_MKDIR3resok(XDR *xdrs, MKDIR3resok *objp);
bool_t xdr_MKDIR3resfail(XDR *xdrs, MKDIR3resfail *objp);
bool_t xdr_MKDIR3res(XDR *xdrs, MKDIR3res *objp);
bool_t xdr_SYMLINK3args(XDR *xdrs, SYMLINK3args *objp);
bool_t xdr_SYMLINK3resok(XDR *xdrs, SYMLINK3resok *objp);
bool_t xdr_SYMLINK3resfail(XDR *xdrs, SYMLINK3resfail *objp);
bool_t xdr_SYMLINK3res(XDR *xdrs, SYMLINK3res *objp);
bool_t xdr_MKNOD3args(XDR *xdrs, MKNOD3args *objp);
bool_t xdr_MKNOD3resok(XDR *xdrs, MKNOD3resok *objp);
bool_t xdr_MKNOD3resfail(XDR *xdrs, MKNOD3resfail *objp);
bool_t xdr_MKNOD3res(XDR *xdrs, MKNOD3res *objp);
bool_t xdr_REMOVE3args(XDR *xdrs, REMOVE3args *objp);
bool_t xdr_REMOVE3resok(XDR *xdrs, REMOVE3resok *objp);
bool_t xdr_REMOVE3resfail(XDR *xdrs, REMOVE3resfail *objp);
bool_t xdr_REMOVE3res(XDR *xdrs, REMOVE3res *objp);
bool_t xdr_RMDIR3args(XDR *xdrs, RMDIR3args *objp);
bool_t xdr_RMDIR3resok(XDR *xdrs, RMDIR3resok *objp);
bool_t xdr_RMDIR3resfail(XDR *xdrs, RMDIR3resfail *objp);
bool_t xdr_RMDIR3res(XDR *xdrs, RMDIR3res *objp);
bool_t xdr_RENAME3args(XDR *xdrs, RENAME3args *objp);
bool_t xdr_RENAME3resok(XDR *xdrs, RENAME3resok *objp);
bool_t xdr_RENAME3resfail(XDR *xdrs, RENAME3resfail *objp);
bool_t xdr_RENAME3res(XDR *xdrs, RENAME3res *objp);
bool_t xdr_LINK3args(XDR *xdrs, LINK3args *objp);
bool_t xdr_LINK3resok(XDR *xdrs, LINK3resok *objp);
bool_t xdr_LINK3resfail(XDR *xdrs, LINK3resfail *objp);
bool_t xdr_LINK3res(XDR *xdrs, LINK3res *objp);
bool_t xdr_READDIR3args(XDR *xdrs, READDIR3args *objp);
bool_t xdr_READDIR3resok(XDR *xdrs, READDIR3resok *objp);
bool_t xdr_READDIR3resfail(XDR *xdrs, READDIR3resfail *objp);
bool_t xdr_READDIR3res(XDR *xdrs, READDIR3res *objp);
bool_t xdr_READDIRPLUS3args(XDR *xdrs, READDIRPLUS3args *objp);
bool_t xdr_READDIRPLUS3resok(XDR *xdrs, READDIRPLUS3resok *objp);
bool_t xdr_READDIRPLUS3resfail(XDR *xdrs, READDIRPLUS3resfail *objp);
bool_t xdr_READDIRPLUS3res(XDR *xdrs, READDIRPLUS3res *objp);
bool_t xdr_FSSTAT3args(XDR *xdrs, FSSTAT3args *objp);
bool_t xdr_FSSTAT3resok(XDR *xdrs, FSSTAT3resok *objp);
bool_t xdr_FSSTAT3resfail(XDR *xdrs, FSSTAT3resfail *objp);
bool_t xdr_FSSTAT3res(XDR *xdrs, FSSTAT3res *objp);
bool_t xdr_FSINFO3args(XDR *xdrs, FSINFO3args *objp);
bool_t xdr_FSINFO3resok(XDR *xdrs, FSINFO3resok *objp);
bool_t xdr_FSINFO3resfail(XDR *xdrs, FSINFO3resfail *objp);
bool_t xdr_FSINFO3res(XDR *xdrs, FSINFO3res *objp);
bool_t xdr_PATHCONF3args(XDR *xdrs, PATHCONF3args *objp);
bool_t xdr_PATHCONF3resok(XDR *xdrs, PATHCONF3resok *objp);
bool_t xdr_PATHCONF3resfail(XDR *xdrs, PATHCONF3resfail *objp);
bool_t xdr_PATHCONF3res(XDR *xdrs, PATHCONF3res *objp);
bool_t xdr_COMMIT3args(XDR *xdrs, COMMIT3args *objp);
bool_t xdr_COMMIT3resok(XDR *xdrs, COMMIT3resok *objp);
bool_t xdr_COMMIT3resfail(XDR *xdrs, COMMIT3resfail *objp);
bool_t xdr_COMMIT3res(XDR *xdrs, COMMIT3res *objp);

/* Directory lists: decoded and freed iteratively, whatever their length. */
bool_t xdr_entry3(XDR *xdrs, entry3 *objp);
bool_t xdr_dirlist3(XDR *xdrs, dirlist3 *objp);
bool_t xdr_entryplus3(XDR *xdrs, entryplus3 *objp);
bool_t xdr_dirlistplus3(XDR *xdrs, dirlistplus3 *objp);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
