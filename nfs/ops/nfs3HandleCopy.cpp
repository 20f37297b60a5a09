// The copy of a version 3 handle into a buffer of the holder's own.
#include "ops/nfs3PathOps.h"

#include <cstring>

namespace nfs3path {

bool handleCopy(const nfs_fh3 &from, nfs_fh3 *to)
{
    if (from.data.data_len > NFS3_FHSIZE || to->data.data_val == nullptr ||
        (from.data.data_len > 0 && from.data.data_val == nullptr))
        return false;
    if (from.data.data_len > 0 && from.data.data_val != to->data.data_val)
        std::memmove(to->data.data_val, from.data.data_val, from.data.data_len);
    to->data.data_len = from.data.data_len;
    return true;
}

} // namespace nfs3path
