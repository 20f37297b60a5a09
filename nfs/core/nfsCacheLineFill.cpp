// Making a line ready for another block: writing back what it holds, filling it from the server.
#include "core/nfsCacheFile.h"

#include <kernel/errnoLib.h>

#include <cstring>

namespace nfscache {
namespace {

// A line whose bytes stopped counting holds no block any more: a later partial write into
// the block it held must fill it from the server, not build on what is left in its buffer
// (another file's unsent bytes recorded lost, or bytes from a read that failed part-way).
void forget(NfsCacheLine *line)
{
    line->nBytes = 0;
    line->fileId = NFS_CACHE_NO_FILE;
}

} // namespace

bool evict(NfsCacheLine *line, void *file, int version)
{
    if ((line->flags & NFS_CACHE_DIRTY) == 0)
        return true;
    void *owner = line->pOwner;
    if (owner == nullptr) {
        line->flags = 0; // no file left to send the bytes through
        return true;
    }
    if (owner == file)
        return lineWriteBack(line, version, Caller::owner) != -1;
    if (lineWriteBack(line, version, Caller::other) == -1) {
        lossNote(owner, version, errnoGet());
        line->flags = 0;
        forget(line);
    }
    return true;
}

bool fill(NfsCacheLine *line, uint32_t lineSize, void *file, int version, uint64_t start)
{
    const int received = serverRead(file, version, start, lineSize, line->pData);
    if (received < 0 || static_cast<uint32_t>(received) > lineSize) {
        forget(line);
        return false;
    }
    const auto got = static_cast<uint32_t>(received);
    std::memset(line->pData + got, 0, lineSize - got);
    line->nBytes = got;
    return true;
}

} // namespace nfscache
