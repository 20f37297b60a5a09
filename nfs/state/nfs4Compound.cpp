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

void Nfs4Compounds::add(const nfs_argop4 *ops, u_int n, u_int first, char *readBuffer, u_int readCapacity)
{
    // The arguments are only encoded.
    args_[n_] = COMPOUND4args{{0, nullptr}, 0, {n, const_cast<nfs_argop4 *>(ops)}};
    first_[n_] = first;
    readBuffer_[n_] = readBuffer;
    readCapacity_[n_] = readCapacity;
    ++n_;
}

void nfs4CompoundsCall(const char *host, uint32_t minor, Nfs4Compounds &calls)
{
    Nfs4Compounds &c = calls;
    for (std::size_t i = 0; i < c.n_; ++i) {
        const COMPOUND4args &args = c.args_[i];
        const u_int n = args.argarray.argarray_len;
        if (args.argarray.argarray_val == nullptr || n == 0 || n > NFS4_MAX_OPS || c.first_[i] > n) {
            for (std::size_t k = 0; k < c.n_; ++k)
                c.status_[k] = nfsres::Fail{K_EINVAL}; // nothing sent
            return;
        }
    }
    for (std::size_t i = 0; i < c.n_; ++i) {
        c.args_[i].minorversion = minor;
        for (u_int k = 0; k < c.args_[i].argarray.argarray_len; ++k)
            nfsStatOperation(static_cast<uint32_t>(c.args_[i].argarray.argarray_val[k].argop));
        COMPOUND4res initial{};
        initial.readBuffer = c.readBuffer_[i];
        initial.readCapacity = c.readCapacity_[i];
        c.batch_.add(c.args_[i], initial);
    }
    c.batch_.run(nfsrpc::Peer{host, NFS4_PROGRAM, NFS_V4}, NFSPROC4_COMPOUND);
    for (std::size_t i = 0; i < c.n_; ++i) {
        if (c.batch_.error(i) != 0) {
            c.status_[i] = nfsres::Fail{c.batch_.error(i)};
            continue;
        }
        const COMPOUND4res &res = c.batch_[i];
        switch (nfs4CheckCompound(c.args_[i], res)) {
        case Nfs4CompoundCheck::Complete: c.answered_[i] = true; break;
        case Nfs4CompoundCheck::EndedEarly:
            c.answered_[i] = true;
            c.status_[i] = nfsres::Fail{nfs4Error(res.status)};
            break;
        default: c.status_[i] = nfsres::Fail{K_EIO}; break;
        }
    }
}
