// One COMPOUND call and the check of its reply against the request.
#include "state/nfs4Compound.h"

#include "rpc/nfsRpcStats.h"

#include <kernel/kernelErrno.h>

u_int Nfs4Reply::count() const
{
    if (!answered())
        return 0;
    const u_int all = (*reply_)->resarray.resarray_len;
    return all > first_ ? all - first_ : 0;
}

nfsres::Status nfs4CompoundCall(const char *host, uint32_t minor, const nfs_argop4 *ops, u_int n, u_int first,
                                Nfs4Reply &reply)
{
    if (ops == nullptr || n == 0 || n > NFS4_MAX_OPS || first > n)
        return nfsres::Fail{K_EINVAL};
    // The arguments are only encoded.
    const COMPOUND4args args{{0, nullptr}, minor, {n, const_cast<nfs_argop4 *>(ops)}};
    reply.reply_.reset();
    reply.first_ = first;
    COMPOUND4res initial{};
    initial.readBuffer = reply.readBuffer_;
    initial.readCapacity = reply.readCapacity_;
    for (u_int i = 0; i < n; ++i)
        nfsStatOperation(static_cast<uint32_t>(ops[i].argop));
    reply.reply_.emplace(nfsrpc::Peer{host, NFS4_PROGRAM, NFS_V4}, NFSPROC4_COMPOUND, xdr_COMPOUND4args, args,
                         xdr_COMPOUND4res, initial);
    if (!reply.reply_->ok())
        return nfsres::Fail{reply.reply_->error()};
    const COMPOUND4res &res = **reply.reply_;
    switch (nfs4CheckCompound(args, res)) {
    case Nfs4CompoundCheck::Complete: return {};
    case Nfs4CompoundCheck::EndedEarly: return nfsres::Fail{nfs4Error(res.status)};
    default: reply.reply_.reset(); return nfsres::Fail{K_EIO};
    }
}
