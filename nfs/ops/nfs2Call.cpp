// The range check that the version 2 operations share.
#include "ops/nfs2Call.h"

#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

namespace nfs2ops {

namespace {
constexpr uint64_t kReach = uint64_t{1} << 32;
} // namespace

bool withinReach(uint64_t offset, uint64_t count)
{
    if (offset < kReach && count <= kReach - offset)
        return true;
    errnoSet(NFS_ERRNO_BASE | NFSERR_FBIG);
    return false;
}

} // namespace nfs2ops
