// READ: a byte range of a file, in pieces of at most nfs3MaxMsgLen bytes, decoded straight
// into the caller's buffer.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "ops/nfs3Data.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <climits>

namespace {

char **dataBuffer(READ3res &res)
{
    return &res.READ3res_u.resok.data.data_val;
}

void refreshAttributes(const post_op_attr &reply, fattr3 *attr)
{
    if (reply.attributes_follow)
        *attr = reply.post_op_attr_u.attributes;
}

// A decoded READ reply: its attributes taken, and its success part, or null with the
// error number set from its status.
const READ3resok *readOutcome(const READ3res &res, fattr3 *attr)
{
    if (res.status != NFS3_OK) {
        refreshAttributes(res.READ3res_u.resfail.file_attributes, attr);
        nfsErrnoSet(res.status);
        return nullptr;
    }
    refreshAttributes(res.READ3res_u.resok.file_attributes, attr);
    return &res.READ3res_u.resok;
}

// One READ of `wanted` bytes at `position` into `destination`: the bytes delivered, with
// *pEof set from the reply, or -1. The decoder refuses a reply carrying more than `wanted`
// bytes, or a count that disagrees with its data, before anything lands in the buffer.
int readOnce(const char *host, nfs_fh3 *fh, uint64_t position, unsigned wanted, char *destination,
             fattr3 *attr, bool *pEof)
{
    READ3args args{.file = *fh, .offset = position, .count = wanted};
    READ3res initial{};
    initial.READ3res_u.resok.data.data_val = destination;
    initial.READ3res_u.resok.data.data_len = wanted;
    const nfsrpc::Reply<READ3res> reply(nfsops::nfs3Peer(host), NFSPROC3_READ, xdr_READ3args, args,
                                        xdr_READ3res, initial, dataBuffer);
    if (nfsops::failed(reply))
        return -1;
    const READ3resok *ok = readOutcome(*reply, attr);
    if (ok == nullptr)
        return -1;
    *pEof = ok->eof != 0;
    return static_cast<int>(ok->count);
}

// One piece: READs until `size` bytes arrived, the server reports the end of the file, or a
// reply brings nothing at or past the file's known size. The bytes received, or -1.
int readPiece(const char *host, nfs_fh3 *fh, uint64_t position, unsigned size, char *destination,
              fattr3 *attr)
{
    unsigned received = 0;
    while (received < size) {
        bool eof = false;
        const int got =
            readOnce(host, fh, position + received, size - received, destination + received, attr, &eof);
        if (got < 0)
            return -1;
        received += static_cast<unsigned>(got);
        if (eof)
            break;
        // Nothing, and no end of file: the end only at or past the size known of the file,
        // before it a fault (a server could otherwise make any file read as empty).
        if (got == 0) {
            if (position + received < attr->size) {
                errnoSet(K_EIO);
                return -1;
            }
            break;
        }
    }
    return static_cast<int>(received);
}

// The first READ of every piece from `position` on, all at once: pieces of at most `most` bytes
// that start before the file's size as last seen (always the first), as many as a batch holds.
// The pieces are then taken in order as the one-at-a-time loop takes them: each completed
// by further READs where its first came back short without the end of the file; a failure
// fails the read; a short piece (the end of the file) ends the batch, and what the later
// pieces brought is not used (their bytes are overwritten or lie past the result). The bytes
// of the range received, or -1; *pTotal advanced.
int readBatch(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, unsigned most, char *buf,
              fattr3 *attr, unsigned *pTotal)
{
    nfsrpc::Batch<READ3args, READ3res> batch(xdr_READ3args, xdr_READ3res, dataBuffer);
    unsigned sizes[nfsrpc::kMostInFlight] = {};
    for (unsigned at = *pTotal; at < count && !batch.full(); at += sizes[batch.size() - 1]) {
        const uint64_t position = offset + at;
        if (batch.size() > 0 && position >= attr->size)
            break;
        const unsigned size = std::min(count - at, most);
        READ3res initial{};
        initial.READ3res_u.resok.data.data_val = buf + at;
        initial.READ3res_u.resok.data.data_len = size;
        sizes[batch.size()] = size;
        batch.add(READ3args{.file = *fh, .offset = position, .count = size}, initial);
    }
    batch.run(nfsops::nfs3Peer(host), NFSPROC3_READ);
    for (std::size_t i = 0; i < batch.size(); ++i) {
        if (batch.error(i) != 0) {
            errnoSet(batch.error(i));
            return -1;
        }
        const READ3resok *outcome = readOutcome(batch[i], attr);
        if (outcome == nullptr)
            return -1;
        const READ3resok &ok = *outcome;
        const uint64_t position = offset + *pTotal;
        auto received = static_cast<unsigned>(ok.count);
        if (ok.eof == 0 && received < sizes[i]) {
            if (received == 0) {
                if (position < attr->size) {
                    errnoSet(K_EIO);
                    return -1;
                }
            } else {
                const int rest = readPiece(host, fh, position + received, sizes[i] - received,
                                           buf + *pTotal + received, attr);
                if (rest < 0)
                    return -1;
                received += static_cast<unsigned>(rest);
            }
        }
        *pTotal += received;
        if (received < sizes[i])
            return static_cast<int>(received); // the end of the file: the rest as one at a time
    }
    return 1;
}

} // namespace

int nfs3FileRead(const char *host, nfs_fh3 *fh, uint64_t offset, unsigned count, char *buf, fattr3 *attr)
{
    if (!nfsArgsGiven(host, fh, buf, attr))
        return -1;
    // The result is a byte count in an int.
    if (count > INT_MAX) {
        errnoSet(K_EINVAL);
        return -1;
    }
    unsigned total = 0;
    // Several pieces in flight: the same READs as below, overlapped.
    const unsigned most = nfsWordGet(nfs3MaxMsgLen);
    while (total < count && most != 0 && count > most && nfsrpc::windowOpen()) {
        if (nfsInit() == -1)
            return -1;
        const int last = readBatch(host, fh, offset, count, most, buf, attr, &total);
        if (last < 0)
            return -1;
        if (last == 0)
            return static_cast<int>(total);
    }
    while (total < count) {
        const unsigned size = std::min(count - total, nfsWordGet(nfs3MaxMsgLen));
        if (nfsInit() == -1)
            return -1;
        const int received = readPiece(host, fh, offset + total, size, buf + total, attr);
        if (received < 0)
            return -1;
        if (received == 0)
            break;
        total += static_cast<unsigned>(received);
    }
    return static_cast<int>(total);
}
