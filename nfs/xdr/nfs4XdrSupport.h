// Module-private building blocks of the NFS version 4 XDR routines: bounded byte strings, both
// allocated and in fixed storage, and the bitmap's word count.
#ifndef NFS_XDR_NFS4XDRSUPPORT_H
#define NFS_XDR_NFS4XDRSUPPORT_H

#include "nfs4Xdr.h"
#include "xdrSupport.h"

namespace nfs4xdr {

// A variable-length opaque of at most limit bytes, both ways: a longer one from the network is
// refused before anything is allocated, a longer one from the caller is not sent.
inline bool_t bytes(XDR *xdrs, Nfs4Bytes *objp, u_int limit)
{
    return xdr_bytes(xdrs, &objp->val, &objp->len, limit);
}

// A variable-length opaque kept in fixed storage of capacity bytes: the length is checked
// against it before a byte is read or written.
inline bool_t counted(XDR *xdrs, u_int *len, char *storage, u_int capacity)
{
    if (xdrs->x_op == XDR_FREE)
        return TRUE;
    if (!xdr_u_int(xdrs, len) || *len > capacity)
        return FALSE;
    return xdr_opaque(xdrs, storage, *len);
}

// Words of the bitmap up to the last one that has a bit.
inline u_int bitmapWords(const bitmap4 &bitmap)
{
    u_int count = NFS4_BITMAP_WORDS;
    while (count > 0 && bitmap.words[count - 1] == 0) {
        --count;
    }
    return count;
}

// Bytes of a variable-length opaque of len bytes on the wire: length word, bytes, padding.
inline u_int opaqueSize(u_int len)
{
    return 4 + (len + 3) / 4 * 4;
}

} // namespace nfs4xdr

#endif
