// Module-private: READLINK results of both versions with the link text counted, so that a text
// that is empty or carries a NUL byte can be told from the one it would read as.
#ifndef NFS_XDR_NFSXDRLINKTEXT_H
#define NFS_XDR_NFSXDRLINKTEXT_H

#include <brisnel/nfs2Xdr.h>
#include <brisnel/nfs3Xdr.h>

#include <rpc/rpc.h>

// opaque text<NFS_MAXPATHLEN>, as a path is on the wire.
struct NfsLinkText {
    u_int length;
    char *bytes;
};

// READLINK3res with the text of resok counted.
struct NfsLinkReply3 {
    nfsstat3 status;
    post_op_attr attributes;
    NfsLinkText text;
};

// readlinkres with the text of the NFS_OK arm counted.
struct NfsLinkReply2 {
    nfsstat status;
    NfsLinkText text;
};

bool_t xdrNfsLinkReply3(XDR *xdrs, NfsLinkReply3 *objp);
bool_t xdrNfsLinkReply2(XDR *xdrs, NfsLinkReply2 *objp);

#endif
