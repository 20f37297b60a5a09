// WRITE's data left out of the call message it is encoded into, so that the sender sends the
// bytes from where they lie (a cache line, the caller's buffer) instead of copying them into
// the message first.
#ifndef NFS_XDR_XDRBULKDATA_H
#define NFS_XDR_XDRBULKDATA_H

#include <rpc/rpc.h>

namespace xdrsupport {

// Bytes left out of a message: on the wire they follow its first `at` bytes (which end with
// their length word), padded to a multiple of four, and the rest of the message follows them.
// data null: nothing was left out.
struct LeftOut {
    const char *data = nullptr;
    u_int length = 0;
    u_int at = 0;
};

// The least data worth leaving out: a smaller copy costs less than another piece to send.
inline constexpr u_int kLeftOutLeast = 4096;

// While it lives, the first bulk data of at least kLeftOutLeast bytes that the calling task
// encodes into STREAM is left out into *into.
class LeavingOut {
public:
    LeavingOut(XDR *stream, LeftOut *into);
    ~LeavingOut();
    LeavingOut(const LeavingOut &) = delete;
    LeavingOut &operator=(const LeavingOut &) = delete;
};

// A WRITE's data, an opaque of at most LIMIT bytes: as xdr_bytes, or left out (its length word
// encoded, its bytes not).
bool_t bulkData(XDR *xdrs, char **data, u_int *length, u_int limit);

} // namespace xdrsupport

#endif
