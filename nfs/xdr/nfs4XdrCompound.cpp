// XDR routines of the NFS version 4 COMPOUND procedure (RFC 8881 section 16.2, RFC 7530
// section 15.2): the operation and result unions, the arrays of them, and the check of a reply
// against its request.
#include "nfs4XdrSupport.h"

#include <cstdlib>

using xdrsupport::enumValue;

namespace {

// A counted array of at most limit elements, decoded into a zero-filled allocation that the
// free pass releases after its elements, also when the decode stopped part way.
template <typename T, typename Element>
bool_t array(XDR *xdrs, u_int *len, T **val, u_int limit, Element element)
{
    if (xdrs->x_op == XDR_FREE) {
        for (u_int i = 0; *val != nullptr && i < *len; ++i) {
            element(&(*val)[i]);
        }
        std::free(*val);
        *val = nullptr;
        return TRUE;
    }
    if (!xdr_u_int(xdrs, len) || *len > limit)
        return FALSE;
    if (xdrs->x_op == XDR_ENCODE && *len > 0 && *val == nullptr)
        return FALSE;
    if (xdrs->x_op == XDR_DECODE && *len > 0) {
        *val = static_cast<T *>(std::calloc(*len, sizeof(T)));
        if (*val == nullptr)
            return FALSE;
    }
    for (u_int i = 0; i < *len; ++i) {
        if (!element(&(*val)[i]))
            return FALSE;
    }
    return TRUE;
}

bool_t sessionid(XDR *xdrs, char *id)
{
    return xdr_opaque(xdrs, id, NFS4_SESSIONID_SIZE);
}

/* struct SEQUENCE4args {
 *     sessionid4 sa_sessionid; sequenceid4 sa_sequenceid; slotid4 sa_slotid;
 *     slotid4 sa_highest_slotid; bool sa_cachethis;
 * }; */
bool_t sequenceArgs(XDR *xdrs, SEQUENCE4args *objp)
{
    return sessionid(xdrs, objp->sa_sessionid) && xdr_uint32_t(xdrs, &objp->sa_sequenceid) &&
           xdr_uint32_t(xdrs, &objp->sa_slotid) && xdr_uint32_t(xdrs, &objp->sa_highest_slotid) &&
           xdr_bool(xdrs, &objp->sa_cachethis);
}

/* struct BIND_CONN_TO_SESSION4args {
 *     sessionid4 bctsa_sessid; channel_dir_from_client4 bctsa_dir; bool bctsa_use_conn_in_rdma_mode;
 * }; */
bool_t bindConnArgs(XDR *xdrs, BIND_CONN_TO_SESSION4args *objp)
{
    return sessionid(xdrs, objp->bctsa_sessid) && enumValue(xdrs, &objp->bctsa_dir) &&
           xdr_bool(xdrs, &objp->bctsa_use_conn_in_rdma_mode);
}

// The arguments of the operations that carry one or two plain fields.
bool_t smallArgs(XDR *xdrs, nfs_argop4 *objp)
{
    auto &u = objp->nfs_argop4_u;
    switch (objp->argop) {
    case OP_ACCESS: return xdr_uint32_t(xdrs, &u.opaccess);
    case OP_OPEN_CONFIRM: /* { stateid4 open_stateid; seqid4 seqid; } */
        return xdr_stateid4(xdrs, &u.opopen_confirm.open_stateid) &&
               xdr_uint32_t(xdrs, &u.opopen_confirm.seqid);
    case OP_CLOSE: /* { seqid4 seqid; stateid4 open_stateid; } */
        return xdr_uint32_t(xdrs, &u.opclose.seqid) && xdr_stateid4(xdrs, &u.opclose.open_stateid);
    case OP_READ: /* { stateid4 stateid; offset4 offset; count4 count; } */
        return xdr_stateid4(xdrs, &u.opread.stateid) && xdr_uint64_t(xdrs, &u.opread.offset) &&
               xdr_uint32_t(xdrs, &u.opread.count);
    case OP_COMMIT: /* { offset4 offset; count4 count; } */
        return xdr_uint64_t(xdrs, &u.opcommit.offset) && xdr_uint32_t(xdrs, &u.opcommit.count);
    case OP_SETATTR: /* { stateid4 stateid; fattr4 obj_attributes; } */
        return xdr_stateid4(xdrs, &u.opsetattr.stateid) && xdr_fattr4(xdrs, &u.opsetattr.obj_attributes);
    case OP_RENAME: /* { component4 oldname; component4 newname; } */
        return xdr_component4(xdrs, &u.oprename.oldname) && xdr_component4(xdrs, &u.oprename.newname);
    case OP_DESTROY_SESSION: /* { sessionid4 dsa_sessionid; } */ return sessionid(xdrs, u.opdestroy_session);
    case OP_DESTROY_CLIENTID: /* { clientid4 dca_clientid; } */
    case OP_RENEW: /* { clientid4 clientid; } */ return xdr_uint64_t(xdrs, &u.opdestroy_clientid);
    case OP_RECLAIM_COMPLETE: /* { bool rca_one_fs; } */ return xdr_bool(xdrs, &u.opreclaim_complete);
    case OP_SECINFO_NO_NAME: /* typedef secinfo_style4 SECINFO_NO_NAME4args; */
        return enumValue(xdrs, &u.opsecinfo_no_name);
    case OP_SETCLIENTID_CONFIRM: /* { clientid4 clientid; verifier4 setclientid_confirm; } */
        return xdr_uint64_t(xdrs, &u.opsetclientid_confirm.clientid) &&
               xdr_opaque(xdrs, u.opsetclientid_confirm.setclientid_confirm, NFS4_VERIFIER_SIZE);
    default: return FALSE;
    }
}

/* struct SEQUENCE4resok {
 *     sessionid4 sr_sessionid; sequenceid4 sr_sequenceid; slotid4 sr_slotid;
 *     slotid4 sr_highest_slotid; slotid4 sr_target_highest_slotid; uint32_t sr_status_flags;
 * }; */
bool_t sequenceOk(XDR *xdrs, SEQUENCE4resok *objp)
{
    return sessionid(xdrs, objp->sr_sessionid) && xdr_uint32_t(xdrs, &objp->sr_sequenceid) &&
           xdr_uint32_t(xdrs, &objp->sr_slotid) && xdr_uint32_t(xdrs, &objp->sr_highest_slotid) &&
           xdr_uint32_t(xdrs, &objp->sr_target_highest_slotid) && xdr_uint32_t(xdrs, &objp->sr_status_flags);
}

/* struct BIND_CONN_TO_SESSION4resok {
 *     sessionid4 bctsr_sessid; channel_dir_from_server4 bctsr_dir; bool bctsr_use_conn_in_rdma_mode;
 * }; */
bool_t bindConnOk(XDR *xdrs, BIND_CONN_TO_SESSION4resok *objp)
{
    return sessionid(xdrs, objp->bctsr_sessid) && enumValue(xdrs, &objp->bctsr_dir) &&
           xdr_bool(xdrs, &objp->bctsr_use_conn_in_rdma_mode);
}

/* WRITE4resok { count4 count; stable_how4 committed; verifier4 writeverf; } */
bool_t writeOk(XDR *xdrs, WRITE4resok *objp)
{
    return xdr_uint32_t(xdrs, &objp->count) && enumValue(xdrs, &objp->committed) &&
           xdr_opaque(xdrs, objp->writeverf, NFS4_VERIFIER_SIZE);
}

// The members of an NFS4_OK result of the operations whose failures carry nothing.
bool_t okResult(XDR *xdrs, nfs_resop4 *objp)
{
    auto &u = objp->nfs_resop4_u;
    switch (objp->resop) {
    case OP_PUTROOTFH:
    case OP_PUTFH:
    case OP_SAVEFH:
    case OP_RESTOREFH:
    case OP_LOOKUP:
    case OP_LOOKUPP:
    case OP_RENEW:
    case OP_SETCLIENTID_CONFIRM:
    case OP_DESTROY_SESSION:
    case OP_DESTROY_CLIENTID:
    case OP_RECLAIM_COMPLETE:
    case OP_RELEASE_LOCKOWNER:
    case OP_ILLEGAL: return TRUE;
    case OP_SEQUENCE: return sequenceOk(xdrs, &u.opsequence);
    case OP_GETFH: /* GETFH4resok { nfs_fh4 object; } */ return xdr_nfs_fh4(xdrs, &u.opgetfh);
    case OP_GETATTR: /* GETATTR4resok { fattr4 obj_attributes; } */ return xdr_fattr4(xdrs, &u.opgetattr);
    case OP_ACCESS: /* ACCESS4resok { uint32_t supported; uint32_t access; } */
        return xdr_uint32_t(xdrs, &u.opaccess.supported) && xdr_uint32_t(xdrs, &u.opaccess.access);
    case OP_OPEN: return xdr_OPEN4resok(xdrs, &u.opopen);
    case OP_OPEN_CONFIRM: /* { stateid4 open_stateid; } */
    case OP_CLOSE:        /* stateid4 open_stateid */
    case OP_LOCKU: /* stateid4 lock_stateid */ return xdr_stateid4(xdrs, &u.opstateid);
    case OP_READ: return xdr_READ4resok(xdrs, &u.opread);
    case OP_WRITE: return writeOk(xdrs, &u.opwrite);
    case OP_COMMIT: /* COMMIT4resok { verifier4 writeverf; } */
        return xdr_opaque(xdrs, u.opcommit, NFS4_VERIFIER_SIZE);
    case OP_READDIR: return xdr_READDIR4resok(xdrs, &u.opreaddir);
    case OP_READLINK: /* READLINK4resok { linktext4 link; } */ return xdr_linktext4(xdrs, &u.opreadlink);
    case OP_REMOVE: /* REMOVE4resok { change_info4 cinfo; } */
    case OP_LINK: /* LINK4resok { change_info4 cinfo; } */ return xdr_change_info4(xdrs, &u.opcinfo);
    case OP_RENAME: /* RENAME4resok { change_info4 source_cinfo; change_info4 target_cinfo; } */
        return xdr_change_info4(xdrs, &u.oprename.source_cinfo) &&
               xdr_change_info4(xdrs, &u.oprename.target_cinfo);
    case OP_CREATE: /* CREATE4resok { change_info4 cinfo; bitmap4 attrset; } */
        return xdr_change_info4(xdrs, &u.opcreate.cinfo) && xdr_bitmap4(xdrs, &u.opcreate.attrset);
    case OP_EXCHANGE_ID: return xdr_EXCHANGE_ID4resok(xdrs, &u.opexchange_id);
    case OP_CREATE_SESSION: return xdr_CREATE_SESSION4resok(xdrs, &u.opcreate_session);
    case OP_BIND_CONN_TO_SESSION: return bindConnOk(xdrs, &u.opbind_conn_to_session);
    case OP_SECINFO_NO_NAME: return xdr_SECINFO4resok(xdrs, &u.opsecinfo_no_name);
    default: return FALSE;
    }
}

// The members of a result for its operation and status; statuses without members carry none.
bool_t resultArm(XDR *xdrs, nfs_resop4 *objp)
{
    auto &u = objp->nfs_resop4_u;
    const bool ok = objp->status == NFS4_OK;
    switch (objp->resop) {
    case OP_SETATTR: /* SETATTR4res { nfsstat4 status; bitmap4 attrsset; } */
        return xdr_bitmap4(xdrs, &u.opsetattr);
    case OP_LOCK:
        if (objp->status == NFS4ERR_DENIED)
            return xdr_LOCK4denied(xdrs, &u.opdenied);
        return !ok || xdr_stateid4(xdrs, &u.opstateid);
    case OP_LOCKT: return objp->status != NFS4ERR_DENIED || xdr_LOCK4denied(xdrs, &u.opdenied);
    case OP_SETCLIENTID:
        if (objp->status == NFS4ERR_CLID_INUSE)
            return xdr_netaddr4(xdrs, &u.opclient_using);
        return !ok || (xdr_uint64_t(xdrs, &u.opsetclientid.clientid) &&
                       xdr_opaque(xdrs, u.opsetclientid.setclientid_confirm, NFS4_VERIFIER_SIZE));
    default: return !ok || okResult(xdrs, objp);
    }
}

} // namespace

/* union nfs_argop4 switch (nfs_opnum4 argop) {
 * case OP_SEQUENCE: SEQUENCE4args opsequence;   case OP_PUTFH: PUTFH4args opputfh;
 * case OP_PUTROOTFH: void;   ...   (one arm per operation this client sends)
 * }; */
bool_t xdr_nfs_argop4(XDR *xdrs, nfs_argop4 *objp)
{
    if (!enumValue(xdrs, &objp->argop))
        return FALSE;
    auto &u = objp->nfs_argop4_u;
    switch (objp->argop) {
    case OP_PUTROOTFH:
    case OP_GETFH:
    case OP_SAVEFH:
    case OP_RESTOREFH:
    case OP_LOOKUPP:
    case OP_READLINK: return TRUE;
    case OP_SEQUENCE: return sequenceArgs(xdrs, &u.opsequence);
    case OP_PUTFH: /* PUTFH4args { nfs_fh4 object; } */ return xdr_nfs_fh4(xdrs, &u.opputfh);
    case OP_LOOKUP: /* LOOKUP4args { component4 objname; } */ return xdr_component4(xdrs, &u.oplookup);
    case OP_REMOVE: /* REMOVE4args { component4 target; } */ return xdr_component4(xdrs, &u.opremove);
    case OP_LINK: /* LINK4args { component4 newname; } */ return xdr_component4(xdrs, &u.oplink);
    case OP_GETATTR: /* GETATTR4args { bitmap4 attr_request; } */ return xdr_bitmap4(xdrs, &u.opgetattr);
    case OP_OPEN: return xdr_OPEN4args(xdrs, &u.opopen);
    case OP_WRITE: return xdr_WRITE4args(xdrs, &u.opwrite);
    case OP_READDIR: return xdr_READDIR4args(xdrs, &u.opreaddir);
    case OP_CREATE: return xdr_CREATE4args(xdrs, &u.opcreate);
    case OP_EXCHANGE_ID: return xdr_EXCHANGE_ID4args(xdrs, &u.opexchange_id);
    case OP_CREATE_SESSION: return xdr_CREATE_SESSION4args(xdrs, &u.opcreate_session);
    case OP_BIND_CONN_TO_SESSION: return bindConnArgs(xdrs, &u.opbind_conn_to_session);
    case OP_SETCLIENTID: return xdr_SETCLIENTID4args(xdrs, &u.opsetclientid);
    case OP_LOCK: return xdr_LOCK4args(xdrs, &u.oplock);
    case OP_LOCKT: return xdr_LOCKT4args(xdrs, &u.oplockt);
    case OP_LOCKU: return xdr_LOCKU4args(xdrs, &u.oplocku);
    case OP_RELEASE_LOCKOWNER: /* RELEASE_LOCKOWNER4args { lock_owner4 lock_owner; } */
        return xdr_state_owner4(xdrs, &u.oprelease_lockowner);
    default: return smallArgs(xdrs, objp);
    }
}

/* struct COMPOUND4args { utf8str_cs tag; uint32_t minorversion; nfs_argop4 argarray<>; };
 * At most NFS4_MAX_OPS operations. */
bool_t xdr_COMPOUND4args(XDR *xdrs, COMPOUND4args *objp)
{
    return xdr_opaque_limit4(xdrs, &objp->tag) && xdr_uint32_t(xdrs, &objp->minorversion) &&
           array(xdrs, &objp->argarray.argarray_len, &objp->argarray.argarray_val, NFS4_MAX_OPS,
                 [xdrs](nfs_argop4 *op) { return xdr_nfs_argop4(xdrs, op); });
}

namespace {

// One result; the data of a READ lands in the caller's buffer when one is given.
bool_t resop(XDR *xdrs, nfs_resop4 *objp, char *readBuffer, u_int readCapacity)
{
    if (!enumValue(xdrs, &objp->resop) || !xdr_nfsstat4(xdrs, &objp->status))
        return FALSE;
    if (xdrs->x_op == XDR_DECODE && objp->resop == OP_READ && readBuffer != nullptr) {
        READ4resok &read = objp->nfs_resop4_u.opread;
        read.callerBuffer = TRUE;
        read.data = Nfs4Bytes{readCapacity, readBuffer};
    }
    return resultArm(xdrs, objp);
}

} // namespace

/* union nfs_resop4 switch (nfs_opnum4 resop) {
 * case OP_SEQUENCE: SEQUENCE4res opsequence;   ...   case OP_ILLEGAL: ILLEGAL4res opillegal;
 * };
 * Every result is a union on its status (RFC 8881 section 18); an operation this client never
 * sends is refused, since its members' layout is not known. */
bool_t xdr_nfs_resop4(XDR *xdrs, nfs_resop4 *objp)
{
    return resop(xdrs, objp, nullptr, 0);
}

/* struct COMPOUND4res { nfsstat4 status; utf8str_cs tag; nfs_resop4 resarray<>; };
 * At most NFS4_MAX_OPS results; how many, and for which operations, nfs4CheckCompound says. */
bool_t xdr_COMPOUND4res(XDR *xdrs, COMPOUND4res *objp)
{
    return xdr_nfsstat4(xdrs, &objp->status) && xdr_opaque_limit4(xdrs, &objp->tag) &&
           array(xdrs, &objp->resarray.resarray_len, &objp->resarray.resarray_val, NFS4_MAX_OPS,
                 [xdrs, objp](nfs_resop4 *op) {
                     return resop(xdrs, op, objp->readBuffer, objp->readCapacity);
                 });
}

Nfs4CompoundCheck nfs4CheckCompound(const COMPOUND4args &args, const COMPOUND4res &res)
{
    const u_int sent = args.argarray.argarray_len;
    const u_int answered = res.resarray.resarray_len;
    if (answered > sent)
        return Nfs4CompoundCheck::TooManyResults;
    for (u_int i = 0; i < answered; ++i) {
        const nfs_resop4 &result = res.resarray.resarray_val[i];
        if (result.resop != args.argarray.argarray_val[i].argop)
            return Nfs4CompoundCheck::OpMismatch;
        if (i + 1 < answered && result.status != NFS4_OK)
            return Nfs4CompoundCheck::StatusMismatch;
    }
    const nfsstat4 last = answered > 0 ? res.resarray.resarray_val[answered - 1].status : res.status;
    if (last != res.status)
        return Nfs4CompoundCheck::StatusMismatch;
    if (answered == sent && res.status == NFS4_OK)
        return Nfs4CompoundCheck::Complete;
    return res.status != NFS4_OK ? Nfs4CompoundCheck::EndedEarly : Nfs4CompoundCheck::StatusMismatch;
}
