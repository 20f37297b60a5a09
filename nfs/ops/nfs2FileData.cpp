// READ and WRITE on a version 2 server: a byte range in pieces of at most nfs2MaxMsgLen bytes.
// Version 2 has no end-of-file flag: a read ends with the first empty reply at or past the
// file's size, or when count bytes have arrived.
#include "core/nfsArgs.h"
#include "core/nfsConfig.h"
#include "ops/nfs2Call.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <climits>

namespace {

// The byte count fits the int result, and the range the protocol's 32-bit positions.
bool transferable(uint64_t offset, unsigned count)
{
    if (count > INT_MAX) {
        errnoSet(K_EINVAL);
        return false;
    }
    return nfs2ops::withinReach(offset, count);
}

char **dataBuffer(readres &res)
{
    return &res.readres_u.reply.data.data_val;
}

} // namespace

// Each reply brings at most the piece asked for (the decoder refuses more), and one that
// brings nothing ends the transfer, so a server cannot keep the loop going past count.
int nfs2FileRead(const char *host, nfs_fh2 *fh, uint64_t offset, unsigned count, char *buf, fattr *attr)
{
    if (!nfsArgsGiven(host, fh, buf, attr) || nfsInit() != 0)
        return -1;
    if (count == 0)
        return 0;
    if (!transferable(offset, count))
        return -1;
    unsigned total = 0;
    while (total < count) {
        const unsigned size = std::min(count - total, nfs2MaxMsgLen);
        if (size == 0) {
            errnoSet(K_EINVAL); // a transfer limit of 0 allows no progress
            return -1;
        }
        readargs args{};
        nfs2ops::handleCopy(*fh, &args.file);
        args.offset = static_cast<u_int>(offset) + total;
        args.count = size;
        readres initial{};
        initial.readres_u.reply.data.data_val = buf + total;
        initial.readres_u.reply.data.data_len = size;
        const nfsrpc::Reply<readres> reply(nfsops::nfs2Peer(host), NFSPROC_READ, xdr_readargs, args,
                                           xdr_readres, initial, dataBuffer);
        if (nfsops::failed(reply) || !nfsops::statusOk(reply->status))
            return -1;
        const readokres &ok = reply->readres_u.reply;
        // An empty reply ends the file only at or past its size; before it, it is a fault.
        if (ok.data.data_len == 0) {
            if (offset + total < ok.attributes.size) {
                errnoSet(K_EIO);
                return -1;
            }
            break;
        }
        total += ok.data.data_len;
        *attr = ok.attributes;
    }
    return static_cast<int>(total);
}

int nfs2FileWrite(const char *host, nfs_fh2 *fh, uint64_t offset, unsigned count, const char *buf,
                  fattr *attr)
{
    if (!nfsArgsGiven(host, fh, buf, attr) || nfsInit() != 0)
        return -1;
    if (count == 0)
        return 0;
    if (!transferable(offset, count))
        return -1;
    attrstat res{};
    unsigned written = 0;
    while (written < count) {
        const unsigned size = std::min(count - written, nfs2MaxMsgLen);
        if (size == 0) {
            errnoSet(K_EINVAL);
            return -1;
        }
        writeargs args{};
        nfs2ops::handleCopy(*fh, &args.file);
        args.offset = static_cast<u_int>(offset) + written;
        args.totalcount = size;
        args.data = {size, const_cast<char *>(buf + written)}; // only encoded from
        const nfsrpc::Reply<attrstat> reply(nfsops::nfs2Peer(host), NFSPROC_WRITE, xdr_writeargs, args,
                                            xdr_attrstat);
        if (nfsops::failed(reply) || !nfsops::statusOk(reply->status))
            return -1;
        res = *reply;    // holds nothing allocated
        written += size; // a version 2 WRITE writes the whole piece or fails
    }
    *attr = res.attrstat_u.attributes;
    return static_cast<int>(count);
}
