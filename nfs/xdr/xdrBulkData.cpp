// WRITE's data left out of the message being encoded, for the sender to send in place.
#include "xdr/xdrBulkData.h"

namespace {

// The stream whose bulk data the task leaves out, and where it notes it; per task, since tasks
// encode their calls side by side.
struct Leaving {
    XDR *stream = nullptr;
    xdrsupport::LeftOut *into = nullptr;
};
thread_local Leaving leaving;

} // namespace

namespace xdrsupport {

LeavingOut::LeavingOut(XDR *stream, LeftOut *into)
{
    *into = LeftOut{};
    leaving = Leaving{stream, into};
}

LeavingOut::~LeavingOut()
{
    leaving = Leaving{};
}

bool_t bulkData(XDR *xdrs, char **data, u_int *length, u_int limit)
{
    if (xdrs->x_op != XDR_ENCODE || xdrs != leaving.stream || *length < kLeftOutLeast || *length > limit ||
        *data == nullptr)
        return xdr_bytes(xdrs, data, length, limit);
    if (!xdr_u_int(xdrs, length))
        return FALSE;
    *leaving.into = LeftOut{*data, *length, xdr_getpos(xdrs)};
    leaving = Leaving{}; // one piece per message
    return TRUE;
}

} // namespace xdrsupport
