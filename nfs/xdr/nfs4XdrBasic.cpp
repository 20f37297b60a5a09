// XDR routines of the NFS version 4 scalars and small structures (RFC 8881 section 3.3, RFC
// 7530 section 2.2), shared by the arguments and the results.
#include "nfs4XdrSupport.h"

using nfs4xdr::bytes;
using nfs4xdr::counted;
using xdrsupport::enumValue;

/* enum nfsstat4 { NFS4_OK = 0, NFS4ERR_PERM = 1, ... }; */
bool_t xdr_nfsstat4(XDR *xdrs, nfsstat4 *objp)
{
    return enumValue(xdrs, objp);
}

/* typedef uint32_t bitmap4<>;
 * At most NFS4_BITMAP_MAX_WORDS words are accepted; the first NFS4_BITMAP_WORDS are kept and
 * beyond records whether a later word has a bit. */
bool_t xdr_bitmap4(XDR *xdrs, bitmap4 *objp)
{
    if (xdrs->x_op == XDR_FREE)
        return TRUE;
    u_int count = nfs4xdr::bitmapWords(*objp);
    if (xdrs->x_op == XDR_ENCODE && objp->beyond)
        return FALSE;
    if (!xdr_u_int(xdrs, &count) || count > NFS4_BITMAP_MAX_WORDS)
        return FALSE;
    objp->wireWords = count;
    if (xdrs->x_op == XDR_DECODE) {
        *objp = bitmap4{{}, FALSE, count};
    }
    for (u_int i = 0; i < count; ++i) {
        uint32_t spare = 0;
        uint32_t *word = i < NFS4_BITMAP_WORDS ? &objp->words[i] : &spare;
        if (!xdr_uint32_t(xdrs, word))
            return FALSE;
        if (spare != 0)
            objp->beyond = TRUE;
    }
    return TRUE;
}

/* struct stateid4 { uint32_t seqid; opaque other[NFS4_OTHER_SIZE]; }; */
bool_t xdr_stateid4(XDR *xdrs, stateid4 *objp)
{
    return xdr_uint32_t(xdrs, &objp->seqid) && xdr_opaque(xdrs, objp->other, NFS4_OTHER_SIZE);
}

/* typedef opaque nfs_fh4<NFS4_FHSIZE>; */
bool_t xdr_nfs_fh4(XDR *xdrs, nfs_fh4 *objp)
{
    return counted(xdrs, &objp->len, objp->val, NFS4_FHSIZE);
}

/* struct nfstime4 { int64_t seconds; uint32_t nseconds; }; */
bool_t xdr_nfstime4(XDR *xdrs, nfstime4 *objp)
{
    return xdr_int64_t(xdrs, &objp->seconds) && xdr_uint32_t(xdrs, &objp->nseconds);
}

/* union settime4 switch (time_how4 set_it) {
 * case SET_TO_CLIENT_TIME4: nfstime4 time;
 * default:                  void;
 * }; */
bool_t xdr_settime4(XDR *xdrs, settime4 *objp)
{
    if (!enumValue(xdrs, &objp->set_it))
        return FALSE;
    switch (objp->set_it) {
    case SET_TO_SERVER_TIME4: return TRUE;
    case SET_TO_CLIENT_TIME4: return xdr_nfstime4(xdrs, &objp->time);
    }
    return FALSE;
}

/* struct change_info4 { bool atomic; changeid4 before; changeid4 after; }; */
bool_t xdr_change_info4(XDR *xdrs, change_info4 *objp)
{
    return xdr_bool(xdrs, &objp->atomic) && xdr_uint64_t(xdrs, &objp->before) &&
           xdr_uint64_t(xdrs, &objp->after);
}

/* struct state_owner4 { clientid4 clientid; opaque owner<NFS4_OPAQUE_LIMIT>; };
 * typedef state_owner4 open_owner4;  typedef state_owner4 lock_owner4; */
bool_t xdr_state_owner4(XDR *xdrs, state_owner4 *objp)
{
    return xdr_uint64_t(xdrs, &objp->clientid) && bytes(xdrs, &objp->owner, NFS4_OPAQUE_LIMIT);
}

/* typedef utf8str_cs component4;  (names: at most NFS4_NAME_MAX bytes) */
bool_t xdr_component4(XDR *xdrs, Nfs4Bytes *objp)
{
    return bytes(xdrs, objp, NFS4_NAME_MAX);
}

/* typedef utf8str_cs linktext4;  (at most NFS4_LINK_MAX bytes) */
bool_t xdr_linktext4(XDR *xdrs, Nfs4Bytes *objp)
{
    return bytes(xdrs, objp, NFS4_LINK_MAX);
}

/* opaque <NFS4_OPAQUE_LIMIT>, and the tags and ids this client bounds the same way. */
bool_t xdr_opaque_limit4(XDR *xdrs, Nfs4Bytes *objp)
{
    return bytes(xdrs, objp, NFS4_OPAQUE_LIMIT);
}

/* struct netaddr4 { string na_r_netid<>; string na_r_addr<>; };
 * Both bounded by NFS4_OPAQUE_LIMIT here. */
bool_t xdr_netaddr4(XDR *xdrs, netaddr4 *objp)
{
    return xdr_opaque_limit4(xdrs, &objp->na_r_netid) && xdr_opaque_limit4(xdrs, &objp->na_r_addr);
}

/* struct nfs_impl_id4 { utf8str_cis nii_domain; utf8str_cs nii_name; nfstime4 nii_date; };
 * as the array nfs_impl_id4 <1> that EXCHANGE_ID carries both ways. */
bool_t xdr_nfs_impl_id4(XDR *xdrs, Nfs4ImplId *objp)
{
    if (!xdr_u_int(xdrs, &objp->len) || objp->len > 1)
        return FALSE;
    if (objp->len == 0)
        return TRUE;
    nfs_impl_id4 &id = objp->val[0];
    return xdr_opaque_limit4(xdrs, &id.nii_domain) && xdr_opaque_limit4(xdrs, &id.nii_name) &&
           xdr_nfstime4(xdrs, &id.nii_date);
}

/* struct state_protect_ops4 { bitmap4 spo_must_enforce; bitmap4 spo_must_allow; };
 * union state_protect4_a switch (state_protect_how4 spa_how) {
 * case SP4_NONE: void;  case SP4_MACH_CRED: state_protect_ops4 spa_mach_ops;
 * case SP4_SSV: ssv_sp_parms4 spa_ssv_parms; };
 * state_protect4_r has the same first two arms. SP4_SSV is refused: never asked for. */
bool_t xdr_state_protect4(XDR *xdrs, state_protect4 *objp)
{
    if (!enumValue(xdrs, &objp->how))
        return FALSE;
    switch (objp->how) {
    case SP4_NONE: return TRUE;
    case SP4_MACH_CRED:
        return xdr_bitmap4(xdrs, &objp->mach_ops.spo_must_enforce) &&
               xdr_bitmap4(xdrs, &objp->mach_ops.spo_must_allow);
    case SP4_SSV: break;
    }
    return FALSE;
}

/* struct channel_attrs4 {
 *     count4 ca_headerpadsize; count4 ca_maxrequestsize; count4 ca_maxresponsesize;
 *     count4 ca_maxresponsesize_cached; count4 ca_maxoperations; count4 ca_maxrequests;
 *     uint32_t ca_rdma_ird<1>;
 * }; */
bool_t xdr_channel_attrs4(XDR *xdrs, channel_attrs4 *objp)
{
    if (!xdr_uint32_t(xdrs, &objp->ca_headerpadsize) || !xdr_uint32_t(xdrs, &objp->ca_maxrequestsize) ||
        !xdr_uint32_t(xdrs, &objp->ca_maxresponsesize) ||
        !xdr_uint32_t(xdrs, &objp->ca_maxresponsesize_cached) ||
        !xdr_uint32_t(xdrs, &objp->ca_maxoperations) || !xdr_uint32_t(xdrs, &objp->ca_maxrequests)) {
        return FALSE;
    }
    if (!xdr_u_int(xdrs, &objp->ca_rdma_ird_len) || objp->ca_rdma_ird_len > 1)
        return FALSE;
    return objp->ca_rdma_ird_len == 0 || xdr_uint32_t(xdrs, &objp->ca_rdma_ird);
}

void nfs4BitmapSet(bitmap4 *bitmap, u_int bit)
{
    if (bit / 32 < NFS4_BITMAP_WORDS) {
        bitmap->words[bit / 32] |= 1U << (bit % 32);
    } else {
        bitmap->beyond = TRUE;
    }
}

bool nfs4BitmapHas(const bitmap4 &bitmap, u_int bit)
{
    return bit / 32 < NFS4_BITMAP_WORDS && (bitmap.words[bit / 32] & (1U << (bit % 32))) != 0;
}
