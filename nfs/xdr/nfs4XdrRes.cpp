// XDR routines of the NFS version 4 operation results that have more than a field or two
// (RFC 8881 section 18, RFC 7530 section 16, the XDR of RFC 5662 and 7531).
#include "nfs4XdrSupport.h"

#include <cstdlib>

using nfs4xdr::bytes;
using nfs4xdr::counted;
using xdrsupport::enumValue;

namespace {

/* struct nfsace4 { acetype4 type; aceflag4 flag; acemask4 access_mask; utf8str_mixed who; }; */
bool_t xdrNfsace4(XDR *xdrs, nfsace4 *objp)
{
    return xdr_uint32_t(xdrs, &objp->type) && xdr_uint32_t(xdrs, &objp->flag) &&
           xdr_uint32_t(xdrs, &objp->access_mask) && xdr_opaque_limit4(xdrs, &objp->who);
}

/* union nfs_space_limit4 switch (limit_by4 limitby) {
 * case NFS_LIMIT_SIZE:   uint64_t filesize;
 * case NFS_LIMIT_BLOCKS: nfs_modified_limit4 mod_blocks;
 * };
 * struct nfs_modified_limit4 { uint32_t num_blocks; uint32_t bytes_per_block; }; */
bool_t xdrSpaceLimit(XDR *xdrs, open_delegation4 *objp)
{
    if (!enumValue(xdrs, &objp->limitby))
        return FALSE;
    switch (objp->limitby) {
    case NFS_LIMIT_SIZE: return xdr_uint64_t(xdrs, &objp->filesize);
    case NFS_LIMIT_BLOCKS:
        return xdr_uint32_t(xdrs, &objp->num_blocks) && xdr_uint32_t(xdrs, &objp->bytes_per_block);
    }
    return FALSE;
}

/* union open_none_delegation4 switch (why_no_delegation4 ond_why) {
 * case WND4_CONTENTION: bool ond_server_will_push_deleg;
 * case WND4_RESOURCE:   bool ond_server_will_signal_avail;
 * default:              void;
 * }; */
bool_t xdrNoneDelegation(XDR *xdrs, open_delegation4 *objp)
{
    if (!enumValue(xdrs, &objp->ond_why))
        return FALSE;
    const bool withFlag = objp->ond_why == WND4_CONTENTION || objp->ond_why == WND4_RESOURCE;
    return !withFlag || xdr_bool(xdrs, &objp->ond_server_will);
}

// The members of one entry4 before its nextentry link.
bool_t entry4Members(XDR *xdrs, entry4 *objp)
{
    return xdr_uint64_t(xdrs, &objp->cookie) && xdr_component4(xdrs, &objp->name) &&
           xdr_fattr4(xdrs, &objp->attrs);
}

// The entry list, walked iteratively as xdrsupport::nodeChain does, with at most
// NFS4_READDIR_MAX_ENTRIES entries: each decoded entry holds a whole attribute record, so the
// count bounds the memory one reply can claim.
bool_t entry4Chain(XDR *xdrs, entry4 **link)
{
    if (xdrs->x_op == XDR_FREE) {
        xdrsupport::freeChain<entry4, &entry4::nextentry>(xdrs, link, entry4Members);
        return TRUE;
    }
    for (u_int count = 0;; ++count) {
        bool_t more = *link != nullptr ? TRUE : FALSE;
        if (!xdr_bool(xdrs, &more))
            return FALSE;
        if (!more) {
            *link = nullptr;
            return TRUE;
        }
        if (count == NFS4_READDIR_MAX_ENTRIES)
            return FALSE;
        if (*link == nullptr) {
            *link = static_cast<entry4 *>(std::calloc(1, sizeof(entry4)));
            if (*link == nullptr)
                return FALSE;
        }
        if (!entry4Members(xdrs, *link))
            return FALSE;
        link = &(*link)->nextentry;
    }
}

} // namespace

/* union open_delegation4 switch (open_delegation_type4 delegation_type) {
 * case OPEN_DELEGATE_NONE:     void;
 * case OPEN_DELEGATE_READ:     open_read_delegation4 read;
 * case OPEN_DELEGATE_WRITE:    open_write_delegation4 write;
 * case OPEN_DELEGATE_NONE_EXT: open_none_delegation4 od_whynone;   (version 4.1)
 * };
 * struct open_read_delegation4 { stateid4 stateid; bool recall; nfsace4 permissions; };
 * struct open_write_delegation4 {
 *     stateid4 stateid; bool recall; nfs_space_limit4 space_limit; nfsace4 permissions;
 * }; */
bool_t xdr_open_delegation4(XDR *xdrs, open_delegation4 *objp)
{
    if (!enumValue(xdrs, &objp->delegation_type))
        return FALSE;
    switch (objp->delegation_type) {
    case OPEN_DELEGATE_NONE: return TRUE;
    case OPEN_DELEGATE_READ:
        return xdr_stateid4(xdrs, &objp->stateid) && xdr_bool(xdrs, &objp->recall) &&
               xdrNfsace4(xdrs, &objp->permissions);
    case OPEN_DELEGATE_WRITE:
        return xdr_stateid4(xdrs, &objp->stateid) && xdr_bool(xdrs, &objp->recall) &&
               xdrSpaceLimit(xdrs, objp) && xdrNfsace4(xdrs, &objp->permissions);
    case OPEN_DELEGATE_NONE_EXT: return xdrNoneDelegation(xdrs, objp);
    }
    return FALSE;
}

/* struct OPEN4resok {
 *     stateid4 stateid; change_info4 cinfo; uint32_t rflags; bitmap4 attrset;
 *     open_delegation4 delegation;
 * }; */
bool_t xdr_OPEN4resok(XDR *xdrs, OPEN4resok *objp)
{
    return xdr_stateid4(xdrs, &objp->stateid) && xdr_change_info4(xdrs, &objp->cinfo) &&
           xdr_uint32_t(xdrs, &objp->rflags) && xdr_bitmap4(xdrs, &objp->attrset) &&
           xdr_open_delegation4(xdrs, &objp->delegation);
}

/* struct READ4resok { bool eof; opaque data<>; };
 * Into the caller's buffer (callerBuffer set): at most data.len bytes, the buffer's size; else
 * at most NFS4_MAXDATA_DECODED bytes, allocated. The free pass leaves a caller's buffer. */
bool_t xdr_READ4resok(XDR *xdrs, READ4resok *objp)
{
    if (xdrs->x_op == XDR_FREE && objp->callerBuffer) {
        objp->data.val = nullptr;
        return TRUE;
    }
    if (!xdr_bool(xdrs, &objp->eof))
        return FALSE;
    if (xdrs->x_op == XDR_DECODE && objp->callerBuffer)
        return counted(xdrs, &objp->data.len, objp->data.val, objp->data.len);
    return bytes(xdrs, &objp->data, NFS4_MAXDATA_DECODED);
}

/* struct dirlist4 { entry4 *entries; bool eof; };
 * struct READDIR4resok { verifier4 cookieverf; dirlist4 reply; };
 * struct entry4 { nfs_cookie4 cookie; component4 name; fattr4 attrs; entry4 *nextentry; };
 * At most NFS4_READDIR_MAX_ENTRIES entries. */
bool_t xdr_READDIR4resok(XDR *xdrs, READDIR4resok *objp)
{
    return xdr_opaque(xdrs, objp->cookieverf, NFS4_VERIFIER_SIZE) && entry4Chain(xdrs, &objp->entries) &&
           xdr_bool(xdrs, &objp->eof);
}

/* struct LOCK4denied {
 *     offset4 offset; length4 length; nfs_lock_type4 locktype; lock_owner4 owner;
 * }; */
bool_t xdr_LOCK4denied(XDR *xdrs, LOCK4denied *objp)
{
    return xdr_uint64_t(xdrs, &objp->offset) && xdr_uint64_t(xdrs, &objp->length) &&
           enumValue(xdrs, &objp->locktype) && xdr_state_owner4(xdrs, &objp->owner);
}

/* struct EXCHANGE_ID4resok {
 *     clientid4 eir_clientid; sequenceid4 eir_sequenceid; uint32_t eir_flags;
 *     state_protect4_r eir_state_protect; server_owner4 eir_server_owner;
 *     opaque eir_server_scope<NFS4_OPAQUE_LIMIT>; nfs_impl_id4 eir_server_impl_id<1>;
 * };
 * struct server_owner4 { uint64_t so_minor_id; opaque so_major_id<NFS4_OPAQUE_LIMIT>; }; */
bool_t xdr_EXCHANGE_ID4resok(XDR *xdrs, EXCHANGE_ID4resok *objp)
{
    return xdr_uint64_t(xdrs, &objp->eir_clientid) && xdr_uint32_t(xdrs, &objp->eir_sequenceid) &&
           xdr_uint32_t(xdrs, &objp->eir_flags) && xdr_state_protect4(xdrs, &objp->eir_state_protect) &&
           xdr_uint64_t(xdrs, &objp->so_minor_id) && xdr_opaque_limit4(xdrs, &objp->so_major_id) &&
           xdr_opaque_limit4(xdrs, &objp->eir_server_scope) &&
           xdr_nfs_impl_id4(xdrs, &objp->eir_server_impl_id);
}

/* struct CREATE_SESSION4resok {
 *     sessionid4 csr_sessionid; sequenceid4 csr_sequence; uint32_t csr_flags;
 *     channel_attrs4 csr_fore_chan_attrs; channel_attrs4 csr_back_chan_attrs;
 * }; */
bool_t xdr_CREATE_SESSION4resok(XDR *xdrs, CREATE_SESSION4resok *objp)
{
    return xdr_opaque(xdrs, objp->csr_sessionid, NFS4_SESSIONID_SIZE) &&
           xdr_uint32_t(xdrs, &objp->csr_sequence) && xdr_uint32_t(xdrs, &objp->csr_flags) &&
           xdr_channel_attrs4(xdrs, &objp->csr_fore_chan_attrs) &&
           xdr_channel_attrs4(xdrs, &objp->csr_back_chan_attrs);
}

/* typedef secinfo4 SECINFO4resok<>;   (at most NFS4_SECINFO_MAX entries)
 * union secinfo4 switch (uint32_t flavor) {
 * case RPCSEC_GSS: rpcsec_gss_info flavor_info;
 * default:         void;
 * };
 * struct rpcsec_gss_info { sec_oid4 oid; qop4 qop; rpc_gss_svc_t service; };
 * typedef opaque sec_oid4<>;   (at most NFS4_OID_MAX bytes) */
bool_t xdr_SECINFO4resok(XDR *xdrs, SECINFO4resok *objp)
{
    constexpr uint32_t rpcsecGss = 6;
    if (xdrs->x_op == XDR_FREE)
        return TRUE;
    if (!xdr_u_int(xdrs, &objp->len) || objp->len > NFS4_SECINFO_MAX)
        return FALSE;
    for (u_int i = 0; i < objp->len; ++i) {
        secinfo4 &entry = objp->val[i];
        if (!xdr_uint32_t(xdrs, &entry.flavor))
            return FALSE;
        if (entry.flavor != rpcsecGss)
            continue;
        auto &gss = entry.flavor_info;
        if (!counted(xdrs, &gss.oid_len, gss.oid, NFS4_OID_MAX) || !xdr_uint32_t(xdrs, &gss.qop) ||
            !enumValue(xdrs, &gss.service)) {
            return FALSE;
        }
    }
    return TRUE;
}
