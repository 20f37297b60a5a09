// Making a line ready for another block: writing back what it holds, filling it from the server.
#include "cache/nfsCacheFile.h"
#include "rpc/nfsRemoteCall.h"

#include <kernel/kernelErrno.h>

#include <cstring>

namespace nfscache {

void forget(NfsCacheLine *line)
{
    line->nBytes = 0;
    line->fileId = NFS_CACHE_NO_FILE;
    line->pOwner = nullptr;
}

Status evict(NfsCacheLine *line, void *file, int version)
{
    if (line->flags == 0)
        return {};
    void *owner = line->pOwner;
    if (owner == nullptr) {
        line->flags = 0; // no file left to send the bytes through
        return {};
    }
    const Caller caller = owner == file ? Caller::owner : Caller::other;
    Status sent;
    if ((line->flags & NFS_CACHE_DIRTY) != 0)
        sent = nfsres::statusOf(lineWriteBack(line, version, caller));
    // Bytes the server may hold in volatile storage only: one COMMIT for the whole file, which
    // unpins every line of it, before this one is reused.
    if (sent.ok() && (line->flags & NFS_CACHE_PINNED) != 0)
        sent = commitFile(owner, version, caller);
    // A contended failure is no loss: the caller tries again once the line it named is free. Nor
    // is a call the server never answered: it may go through later, so the other file keeps its
    // bytes in the line and this call fails as that one did.
    if (sent.ok() || owner == file || isContended(sent) || nfsrpc::unanswered(sent.error()))
        return sent;
    lossNote(owner, version, sent.error() != 0 ? sent.error() : K_EIO);
    line->flags = 0;
    forget(line);
    return {};
}

Status fill(NfsCacheLine *line, uint32_t lineSize, void *file, int version, uint64_t start)
{
    const Result<int> received = serverRead(file, version, start, lineSize, line->pData);
    if (!received.ok() || received.value() < 0 || static_cast<uint32_t>(received.value()) > lineSize) {
        forget(line);
        return received.ok() ? Fail{K_EIO} : received.fail();
    }
    const auto got = static_cast<uint32_t>(received.value());
    std::memset(line->pData + got, 0, lineSize - got);
    line->nBytes = got;
    return {};
}

} // namespace nfscache
