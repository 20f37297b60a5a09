// XDR routines of the lock manager's calls (nlmXdr.h).
#include "lock/nlmXdr.h"

#include "xdr/xdrSupport.h"

#include <limits>

namespace {

/* typedef opaque netobj<MAXNETOBJ_SZ>; */
bool_t object(XDR *xdrs, NlmObject *objp)
{
    return xdr_bytes(xdrs, &objp->n_bytes, &objp->n_len, xdrsupport::decodeLimit(xdrs, NLM_NETOBJ_MAX));
}

// An offset or a length: 64-bit in version 4, 32-bit in version 1 (a value past 32 bits cannot
// be encoded there).
bool_t offset(XDR *xdrs, uint64_t *value, bool narrow)
{
    if (!narrow)
        return xdr_uint64_t(xdrs, value);
    if (xdrs->x_op == XDR_ENCODE && *value > std::numeric_limits<uint32_t>::max())
        return FALSE;
    auto wire = static_cast<uint32_t>(*value);
    if (!xdr_uint32_t(xdrs, &wire))
        return FALSE;
    *value = wire;
    return TRUE;
}

bool_t lock(XDR *xdrs, NlmLock *objp, bool narrow)
{
    return xdr_string(xdrs, &objp->caller_name, xdrsupport::decodeLimit(xdrs, NLM_CALLER_MAX)) &&
           object(xdrs, &objp->fh) && object(xdrs, &objp->oh) && xdr_int32_t(xdrs, &objp->svid) &&
           offset(xdrs, &objp->l_offset, narrow) && offset(xdrs, &objp->l_len, narrow);
}

bool_t holder(XDR *xdrs, NlmHolder *objp, bool narrow)
{
    return xdr_bool(xdrs, &objp->exclusive) && xdr_int32_t(xdrs, &objp->svid) && object(xdrs, &objp->oh) &&
           offset(xdrs, &objp->l_offset, narrow) && offset(xdrs, &objp->l_len, narrow);
}

} // namespace

bool_t xdrNlmTestArgs(XDR *xdrs, NlmTestArgs *objp)
{
    return object(xdrs, &objp->cookie) && xdr_bool(xdrs, &objp->exclusive) &&
           lock(xdrs, &objp->alock, objp->narrow);
}

bool_t xdrNlmLockArgs(XDR *xdrs, NlmLockArgs *objp)
{
    return object(xdrs, &objp->cookie) && xdr_bool(xdrs, &objp->block) && xdr_bool(xdrs, &objp->exclusive) &&
           lock(xdrs, &objp->alock, objp->narrow) && xdr_bool(xdrs, &objp->reclaim) &&
           xdr_int32_t(xdrs, &objp->state);
}

bool_t xdrNlmCancelArgs(XDR *xdrs, NlmCancelArgs *objp)
{
    return object(xdrs, &objp->cookie) && xdr_bool(xdrs, &objp->block) && xdr_bool(xdrs, &objp->exclusive) &&
           lock(xdrs, &objp->alock, objp->narrow);
}

bool_t xdrNlmUnlockArgs(XDR *xdrs, NlmUnlockArgs *objp)
{
    return object(xdrs, &objp->cookie) && lock(xdrs, &objp->alock, objp->narrow);
}

bool_t xdrNlmRes(XDR *xdrs, NlmRes *objp)
{
    return object(xdrs, &objp->cookie) && xdr_uint32_t(xdrs, &objp->stat);
}

// The holder is there only with NLM4_DENIED.
bool_t xdrNlmTestRes(XDR *xdrs, NlmTestRes *objp)
{
    return object(xdrs, &objp->cookie) && xdr_uint32_t(xdrs, &objp->stat) &&
           (objp->stat != NLM4_DENIED || holder(xdrs, &objp->holder, objp->narrow));
}
