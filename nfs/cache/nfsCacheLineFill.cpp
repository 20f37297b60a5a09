// Making a line ready for another block: writing back what it holds, filling it from the server.
#include "cache/nfsCacheFile.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

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
    if (line->flags == 0)
        return true;
    void *owner = line->pOwner;
    if (owner == nullptr) {
        line->flags = 0; // no file left to send the bytes through
        return true;
    }
    const Caller caller = owner == file ? Caller::owner : Caller::other;
    int error = 0;
    if ((line->flags & NFS_CACHE_DIRTY) != 0 && lineWriteBack(line, version, caller) == -1)
        error = errnoGet() != 0 ? errnoGet() : K_EIO;
    // Bytes the server may hold in volatile storage only: one COMMIT for the whole file, which
    // unpins every line of it, before this one is reused.
    if (error == 0 && (line->flags & NFS_CACHE_PINNED) != 0)
        error = fileCommit(owner, version, caller);
    if (error == 0)
        return true;
    if (owner == file) {
        errnoSet(error);
        return false;
    }
    lossNote(owner, version, error);
    line->flags = 0;
    forget(line);
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
