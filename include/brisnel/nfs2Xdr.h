/* In-memory forms of the NFS version 2 protocol types and their XDR filter routines. The status,
 * file name and path routines are shared with version 3 (nfs3Xdr.h): xdr_nfsstat, xdr_filename
 * and xdr_nfspath, whose decoders stop at NFS_MAXNAMLEN and NFS_MAXPATHLEN bytes. Data decodes
 * up to NFS_MAXDATA bytes.
 *
 * Handles (nfs_fh2) and cookies (nfscookie) are byte arrays held inline, with no length word
 * on the wire. Result unions are the status followed by <type>_u holding the NFS_OK arm.
 *
 * Buffers the caller supplies for decoding (the pointer is already set when decoding starts):
 * - readokres.data: data.data_len is taken as the capacity of data.data_val; a reply carrying
 *   more bytes than that fails to decode and nothing is written. Set it to the count asked.
 * - readlinkres data: the buffer is taken to hold NFS2_READLINK_BUFSIZE bytes; a longer link
 *   text (with its terminator) fails to decode.
 * A failed decode clears these pointers, so that the free pass releasing the partial reply
 * leaves the caller's buffers alone; clear them yourself before releasing a decoded reply. */
#ifndef BRISNEL_NFS2XDR_H
#define BRISNEL_NFS2XDR_H

#include <brisnel/nfs3Xdr.h>

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

#define NFS_V2 2

#define NFSPROC_NULL 0
#define NFSPROC_GETATTR 1
#define NFSPROC_SETATTR 2
#define NFSPROC_ROOT 3
#define NFSPROC_LOOKUP 4
#define NFSPROC_READLINK 5
#define NFSPROC_READ 6
#define NFSPROC_WRITECACHE 7
#define NFSPROC_WRITE 8
#define NFSPROC_CREATE 9
#define NFSPROC_REMOVE 10
#define NFSPROC_RENAME 11
#define NFSPROC_LINK 12
#define NFSPROC_SYMLINK 13
#define NFSPROC_MKDIR 14
#define NFSPROC_RMDIR 15
#define NFSPROC_READDIR 16
#define NFSPROC_STATFS 17

#define NFS_FHSIZE 32
#define NFS_COOKIESIZE 4
#define NFS_MAXDATA 8192
/* Size of the caller's buffer that a READLINK reply decodes into (the module's path size). */
#define NFS2_READLINK_BUFSIZE 256

typedef NFS_XDR_ENUM(ftype){NFNON = 0, NFREG = 1, NFDIR = 2, NFBLK = 3, NFCHR = 4, NFLNK = 5} ftype;

typedef char nfs_fh2[NFS_FHSIZE];
typedef char nfscookie[NFS_COOKIESIZE];

typedef struct nfstime {
    u_int seconds;
    u_int useconds;
} nfstime;

typedef struct fattr {
    ftype type;
    u_int mode;
    u_int nlink;
    u_int uid;
    u_int gid;
    u_int size;
    u_int blocksize;
    u_int rdev;
    u_int blocks;
    u_int fsid;
    u_int fileid;
    nfstime atime;
    nfstime mtime;
    nfstime ctime;
} fattr;

typedef struct sattr {
    u_int mode;
    u_int uid;
    u_int gid;
    u_int size;
    nfstime atime;
    nfstime mtime;
} sattr;

/* The variable data of READ and WRITE (RFC 1094's nfsdata, filtered by xdr_data). */
typedef struct nfsdata {
    u_int data_len;
    char *data_val;
} nfsdata;

typedef struct attrstat {
    nfsstat status;
    union {
        fattr attributes;
    } attrstat_u;
} attrstat;

typedef struct diropargs {
    nfs_fh2 dir;
    char *name;
} diropargs;

typedef struct diropokres {
    nfs_fh2 file;
    fattr attributes;
} diropokres;

typedef struct diropres {
    nfsstat status;
    union {
        diropokres diropres;
    } diropres_u;
} diropres;

typedef struct sattrargs {
    nfs_fh2 file;
    sattr attributes;
} sattrargs;

typedef struct readlinkres {
    nfsstat status;
    union {
        char *data;
    } readlinkres_u;
} readlinkres;

typedef struct readargs {
    nfs_fh2 file;
    u_int offset;
    u_int count;
    u_int totalcount;
} readargs;

typedef struct readokres {
    fattr attributes;
    nfsdata data;
} readokres;

typedef struct readres {
    nfsstat status;
    union {
        readokres reply;
    } readres_u;
} readres;

typedef struct writeargs {
    nfs_fh2 file;
    u_int beginoffset;
    u_int offset;
    u_int totalcount;
    nfsdata data;
} writeargs;

typedef struct createargs {
    diropargs where;
    sattr attributes;
} createargs;

typedef struct renameargs {
    diropargs from;
    diropargs to;
} renameargs;

typedef struct linkargs {
    nfs_fh2 from;
    diropargs to;
} linkargs;

typedef struct symlinkargs {
    diropargs from;
    char *to;
    sattr attributes;
} symlinkargs;

typedef struct readdirargs {
    nfs_fh2 dir;
    nfscookie cookie;
    u_int count;
} readdirargs;

typedef struct entry {
    u_int fileid;
    char *name;
    nfscookie cookie;
    struct entry *nextentry;
} entry;

typedef struct dirlist {
    entry *entries;
    bool_t eof;
} dirlist;

typedef struct readdirres {
    nfsstat status;
    union {
        dirlist reply;
    } readdirres_u;
} readdirres;

typedef struct statfsokres {
    u_int tsize;
    u_int bsize;
    u_int blocks;
    u_int bfree;
    u_int bavail;
} statfsokres;

typedef struct statfsres {
    nfsstat status;
    union {
        statfsokres reply;
    } statfsres_u;
} statfsres;

bool_t xdr_ftype(XDR *xdrs, ftype *objp);
bool_t xdr_nfs_fh2(XDR *xdrs, char *objp);
bool_t xdr_nfscookie(XDR *xdrs, char *objp);
bool_t xdr_nfstime(XDR *xdrs, nfstime *objp);
bool_t xdr_fattr(XDR *xdrs, fattr *objp);
bool_t xdr_sattr(XDR *xdrs, sattr *objp);
bool_t xdr_attrstat(XDR *xdrs, attrstat *objp);
bool_t xdr_diropargs(XDR *xdrs, diropargs *objp);
bool_t xdr_diropokres(XDR *xdrs, diropokres *objp);
bool_t xdr_diropres(XDR *xdrs, diropres *objp);
bool_t xdr_sattrargs(XDR *xdrs, sattrargs *objp);
bool_t xdr_readlinkres(XDR *xdrs, readlinkres *objp);
bool_t xdr_readargs(XDR *xdrs, readargs *objp);
bool_t xdr_data(XDR *xdrs, nfsdata *objp);
bool_t xdr_readokres(XDR *xdrs, readokres *objp);
bool_t xdr_readres(XDR *xdrs, readres *objp);
bool_t xdr_writeargs(XDR *xdrs, writeargs *objp);
bool_t xdr_createargs(XDR *xdrs, createargs *objp);
bool_t xdr_renameargs(XDR *xdrs, renameargs *objp);
bool_t xdr_linkargs(XDR *xdrs, linkargs *objp);
bool_t xdr_symlinkargs(XDR *xdrs, symlinkargs *objp);
bool_t xdr_readdirargs(XDR *xdrs, readdirargs *objp);
/* The directory list is decoded and freed iteratively, whatever its length. */
bool_t xdr_entry(XDR *xdrs, entry *objp);
bool_t xdr_dirlist(XDR *xdrs, dirlist *objp);
bool_t xdr_readdirres(XDR *xdrs, readdirres *objp);
bool_t xdr_statfsokres(XDR *xdrs, statfsokres *objp);
bool_t xdr_statfsres(XDR *xdrs, statfsres *objp);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
