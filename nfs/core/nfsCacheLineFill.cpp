// Making a line ready for another block: writing back what it holds, filling it from the server.
#include "core/nfsCacheFile.h"

#include <kernel/errnoLib.h>

#include <cstring>

namespace nfscache {

bool evict(NfsCacheLine *line, void *file, int version)
{
    if ((line->flags & NFS_CACHE_DIRTY) == 0)
        return true;
    void *owner = line->pOwner;
    if (nfsCacheLineFlush(line, version) != -1)
        return true;
    if (owner != file) {
        lossNote(owner, version, errnoGet());
        return true;
    }
    line->nBytes = 0;
    return false;
}

bool fill(NfsCacheLine *line, uint32_t lineSize, void *file, int version, uint64_t start)
{
    const int received = serverRead(file, version, start, lineSize, line->pData);
    if (received < 0 || static_cast<uint32_t>(received) > lineSize) {
        line->nBytes = 0;
        return false;
    }
    const auto got = static_cast<uint32_t>(received);
    std::memset(line->pData + got, 0, lineSize - got);
    line->nBytes = got;
    return true;
}

} // namespace nfscache
