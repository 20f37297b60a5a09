// XDR routines of the NFS version 4 operation arguments that have more than a field or two
// (RFC 8881 section 18, RFC 7530 section 16, the XDR of RFC 5662 and 7531).
#include "nfs4XdrSupport.h"

using nfs4xdr::bytes;
using xdrsupport::enumValue;

/* union createhow4 switch (createmode4 mode) {
 * case UNCHECKED4: case GUARDED4: fattr4 createattrs;
 * case EXCLUSIVE4:                verifier4 createverf;
 * case EXCLUSIVE4_1:              creatverfattr ch_createboth;
 * };
 * struct creatverfattr { verifier4 cva_verf; fattr4 cva_attrs; }; */
bool_t xdr_createhow4(XDR *xdrs, createhow4 *objp)
{
    if (!enumValue(xdrs, &objp->mode))
        return FALSE;
    auto &arm = objp->createhow4_u;
    switch (objp->mode) {
    case UNCHECKED4:
    case GUARDED4: return xdr_fattr4(xdrs, &arm.createattrs);
    case EXCLUSIVE4: return xdr_opaque(xdrs, arm.createverf, NFS4_VERIFIER_SIZE);
    case EXCLUSIVE4_1:
        return xdr_opaque(xdrs, arm.ch_createboth.cva_verf, NFS4_VERIFIER_SIZE) &&
               xdr_fattr4(xdrs, &arm.ch_createboth.cva_attrs);
    }
    return FALSE;
}

/* union openflag4 switch (opentype4 opentype) {
 * case OPEN4_CREATE: createhow4 how;
 * default:           void;
 * }; */
bool_t xdr_openflag4(XDR *xdrs, openflag4 *objp)
{
    if (!enumValue(xdrs, &objp->opentype))
        return FALSE;
    return objp->opentype != OPEN4_CREATE || xdr_createhow4(xdrs, &objp->how);
}

/* union open_claim4 switch (open_claim_type4 claim) {
 * case CLAIM_NULL:     component4 file;
 * case CLAIM_PREVIOUS: open_delegation_type4 delegate_type;
 * case CLAIM_FH:       void;
 * ... (the delegation claims, which this client never makes, are refused)
 * }; */
bool_t xdr_open_claim4(XDR *xdrs, open_claim4 *objp)
{
    if (!enumValue(xdrs, &objp->claim))
        return FALSE;
    switch (objp->claim) {
    case CLAIM_NULL: return xdr_component4(xdrs, &objp->open_claim4_u.file);
    case CLAIM_PREVIOUS: return enumValue(xdrs, &objp->open_claim4_u.delegate_type);
    case CLAIM_FH: return TRUE;
    }
    return FALSE;
}

/* struct OPEN4args {
 *     seqid4 seqid; uint32_t share_access; uint32_t share_deny; open_owner4 owner;
 *     openflag4 openhow; open_claim4 claim;
 * }; */
bool_t xdr_OPEN4args(XDR *xdrs, OPEN4args *objp)
{
    return xdr_uint32_t(xdrs, &objp->seqid) && xdr_uint32_t(xdrs, &objp->share_access) &&
           xdr_uint32_t(xdrs, &objp->share_deny) && xdr_state_owner4(xdrs, &objp->owner) &&
           xdr_openflag4(xdrs, &objp->openhow) && xdr_open_claim4(xdrs, &objp->claim);
}

/* union createtype4 switch (nfs_ftype4 type) {
 * case NF4LNK:                     linktext4 linkdata;
 * case NF4BLK: case NF4CHR:        specdata4 devdata;
 * case NF4SOCK: case NF4FIFO: case NF4DIR: void;
 * default:                         void;
 * }; */
bool_t xdr_createtype4(XDR *xdrs, createtype4 *objp)
{
    if (!enumValue(xdrs, &objp->type))
        return FALSE;
    auto &arm = objp->createtype4_u;
    switch (objp->type) {
    case NF4LNK: return xdr_linktext4(xdrs, &arm.linkdata);
    case NF4BLK:
    case NF4CHR:
        return xdr_uint32_t(xdrs, &arm.devdata.specdata1) && xdr_uint32_t(xdrs, &arm.devdata.specdata2);
    default: return TRUE;
    }
}

/* struct CREATE4args { createtype4 objtype; component4 objname; fattr4 createattrs; }; */
bool_t xdr_CREATE4args(XDR *xdrs, CREATE4args *objp)
{
    return xdr_createtype4(xdrs, &objp->objtype) && xdr_component4(xdrs, &objp->objname) &&
           xdr_fattr4(xdrs, &objp->createattrs);
}

/* union locker4 switch (bool new_lock_owner) {
 * case TRUE:  open_to_lock_owner4 open_owner;
 * case FALSE: exist_lock_owner4 lock_owner;
 * };
 * struct open_to_lock_owner4 {
 *     seqid4 open_seqid; stateid4 open_stateid; seqid4 lock_seqid; lock_owner4 lock_owner;
 * };
 * struct exist_lock_owner4 { stateid4 lock_stateid; seqid4 lock_seqid; }; */
bool_t xdr_locker4(XDR *xdrs, locker4 *objp)
{
    if (!xdr_bool(xdrs, &objp->new_lock_owner))
        return FALSE;
    if (objp->new_lock_owner) {
        open_to_lock_owner4 &open = objp->locker4_u.open_owner;
        return xdr_uint32_t(xdrs, &open.open_seqid) && xdr_stateid4(xdrs, &open.open_stateid) &&
               xdr_uint32_t(xdrs, &open.lock_seqid) && xdr_state_owner4(xdrs, &open.lock_owner);
    }
    exist_lock_owner4 &exist = objp->locker4_u.lock_owner;
    return xdr_stateid4(xdrs, &exist.lock_stateid) && xdr_uint32_t(xdrs, &exist.lock_seqid);
}

/* struct LOCK4args {
 *     nfs_lock_type4 locktype; bool reclaim; offset4 offset; length4 length; locker4 locker;
 * }; */
bool_t xdr_LOCK4args(XDR *xdrs, LOCK4args *objp)
{
    return enumValue(xdrs, &objp->locktype) && xdr_bool(xdrs, &objp->reclaim) &&
           xdr_uint64_t(xdrs, &objp->offset) && xdr_uint64_t(xdrs, &objp->length) &&
           xdr_locker4(xdrs, &objp->locker);
}

/* struct LOCKT4args { nfs_lock_type4 locktype; offset4 offset; length4 length; lock_owner4 owner; }; */
bool_t xdr_LOCKT4args(XDR *xdrs, LOCKT4args *objp)
{
    return enumValue(xdrs, &objp->locktype) && xdr_uint64_t(xdrs, &objp->offset) &&
           xdr_uint64_t(xdrs, &objp->length) && xdr_state_owner4(xdrs, &objp->owner);
}

/* struct LOCKU4args {
 *     nfs_lock_type4 locktype; seqid4 seqid; stateid4 lock_stateid; offset4 offset; length4 length;
 * }; */
bool_t xdr_LOCKU4args(XDR *xdrs, LOCKU4args *objp)
{
    return enumValue(xdrs, &objp->locktype) && xdr_uint32_t(xdrs, &objp->seqid) &&
           xdr_stateid4(xdrs, &objp->lock_stateid) && xdr_uint64_t(xdrs, &objp->offset) &&
           xdr_uint64_t(xdrs, &objp->length);
}

/* struct READDIR4args {
 *     nfs_cookie4 cookie; verifier4 cookieverf; count4 dircount; count4 maxcount;
 *     bitmap4 attr_request;
 * }; */
bool_t xdr_READDIR4args(XDR *xdrs, READDIR4args *objp)
{
    return xdr_uint64_t(xdrs, &objp->cookie) && xdr_opaque(xdrs, objp->cookieverf, NFS4_VERIFIER_SIZE) &&
           xdr_uint32_t(xdrs, &objp->dircount) && xdr_uint32_t(xdrs, &objp->maxcount) &&
           xdr_bitmap4(xdrs, &objp->attr_request);
}

/* struct WRITE4args { stateid4 stateid; offset4 offset; stable_how4 stable; opaque data<>; };
 * At most NFS4_MAXDATA_DECODED bytes. */
bool_t xdr_WRITE4args(XDR *xdrs, WRITE4args *objp)
{
    return xdr_stateid4(xdrs, &objp->stateid) && xdr_uint64_t(xdrs, &objp->offset) &&
           enumValue(xdrs, &objp->stable) && bytes(xdrs, &objp->data, NFS4_MAXDATA_DECODED);
}

/* struct SETCLIENTID4args { nfs_client_id4 client; cb_client4 callback; uint32_t callback_ident; };
 * struct nfs_client_id4 { verifier4 verifier; opaque id<NFS4_OPAQUE_LIMIT>; };
 * struct cb_client4 { uint32_t cb_program; netaddr4 cb_location; }; */
bool_t xdr_SETCLIENTID4args(XDR *xdrs, SETCLIENTID4args *objp)
{
    return xdr_opaque(xdrs, objp->verifier, NFS4_VERIFIER_SIZE) && xdr_opaque_limit4(xdrs, &objp->id) &&
           xdr_uint32_t(xdrs, &objp->cb_program) && xdr_netaddr4(xdrs, &objp->cb_location) &&
           xdr_uint32_t(xdrs, &objp->callback_ident);
}

/* struct EXCHANGE_ID4args {
 *     client_owner4 eia_clientowner; uint32_t eia_flags; state_protect4_a eia_state_protect;
 *     nfs_impl_id4 eia_client_impl_id<1>;
 * };
 * struct client_owner4 { verifier4 co_verifier; opaque co_ownerid<NFS4_OPAQUE_LIMIT>; }; */
bool_t xdr_EXCHANGE_ID4args(XDR *xdrs, EXCHANGE_ID4args *objp)
{
    return xdr_opaque(xdrs, objp->co_verifier, NFS4_VERIFIER_SIZE) &&
           xdr_opaque_limit4(xdrs, &objp->co_ownerid) && xdr_uint32_t(xdrs, &objp->eia_flags) &&
           xdr_state_protect4(xdrs, &objp->eia_state_protect) &&
           xdr_nfs_impl_id4(xdrs, &objp->eia_client_impl_id);
}

/* struct CREATE_SESSION4args {
 *     clientid4 csa_clientid; sequenceid4 csa_sequence; uint32_t csa_flags;
 *     channel_attrs4 csa_fore_chan_attrs; channel_attrs4 csa_back_chan_attrs;
 *     uint32_t csa_cb_program; callback_sec_parms4 csa_sec_parms<>;
 * };
 * union callback_sec_parms4 switch (uint32_t cb_secflavor) { case AUTH_NONE: void; ... };
 * Only AUTH_NONE entries, at most one: this client runs no back channel. */
bool_t xdr_CREATE_SESSION4args(XDR *xdrs, CREATE_SESSION4args *objp)
{
    if (!xdr_uint64_t(xdrs, &objp->csa_clientid) || !xdr_uint32_t(xdrs, &objp->csa_sequence) ||
        !xdr_uint32_t(xdrs, &objp->csa_flags) || !xdr_channel_attrs4(xdrs, &objp->csa_fore_chan_attrs) ||
        !xdr_channel_attrs4(xdrs, &objp->csa_back_chan_attrs) || !xdr_uint32_t(xdrs, &objp->csa_cb_program)) {
        return FALSE;
    }
    if (!xdr_u_int(xdrs, &objp->csa_sec_parms_len) || objp->csa_sec_parms_len > 1)
        return FALSE;
    uint32_t flavor = AUTH_NONE;
    return objp->csa_sec_parms_len == 0 || (xdr_uint32_t(xdrs, &flavor) && flavor == AUTH_NONE);
}
