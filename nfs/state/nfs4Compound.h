// Module-private: one NFS version 4 COMPOUND as one remote call (program 100003 version 4, over
// TCP to port 2049), its reply owned by the caller's Nfs4Reply and checked against the request,
// and a status's error number.
#ifndef NFS_STATE_NFS4COMPOUND_H
#define NFS_STATE_NFS4COMPOUND_H

#include "core/nfsResult.h"
#include "rpc/nfsRemoteCall.h"
#include "xdr/nfs4Xdr.h"

#include <brisnel/nfsErrors.h>

#include <cstddef>
#include <optional>

// The error number of a version 4 status: the module's NFS error space, status in the low bits.
constexpr int nfs4Error(nfsstat4 status)
{
    return NFS_ERRNO_BASE | static_cast<int>(status);
}

// The decoded reply of the last compound sent through it; released when it goes or when the
// next compound is sent. Results are counted from the caller's first operation: a SEQUENCE the
// session put in front is left out.
class Nfs4Reply {
public:
    bool answered() const { return reply_.has_value() && reply_->ok(); }
    // The compound's own status (that of its last result).
    nfsstat4 status() const { return answered() ? (*reply_)->status : NFS4_OK; }
    // The caller's operations answered, up to and including the first that failed.
    u_int count() const;
    const nfs_resop4 &operator[](u_int i) const { return (*reply_)->resarray.resarray_val[first_ + i]; }
    // The whole reply, SEQUENCE included (null before an answer).
    const COMPOUND4res *whole() const { return answered() ? &**reply_ : nullptr; }
    // The data of the next compound's READ lands in BUFFER, CAPACITY bytes at most: a reply
    // carrying more is refused before a byte lands.
    void readInto(char *buffer, u_int capacity)
    {
        readBuffer_ = buffer;
        readCapacity_ = capacity;
    }

private:
    friend nfsres::Status nfs4CompoundCall(const char *host, uint32_t minor, const nfs_argop4 *ops, u_int n,
                                           u_int first, Nfs4Reply &reply);
    std::optional<nfsrpc::Reply<COMPOUND4res>> reply_;
    u_int first_ = 0;
    char *readBuffer_ = nullptr;
    u_int readCapacity_ = 0;
};

// Compounds sent together (nfs4CompoundsCall), at most nfsrpc::kMostInFlight, each with its
// own reply, released when this goes. Results are counted as Nfs4Reply counts them.
class Nfs4Compounds {
public:
    static constexpr std::size_t kMost = nfsrpc::kMostInFlight;

    // OPS[0..N) as the next compound, FIRST of them the preamble; the data of its READ lands
    // in READBUFFER (READCAPACITY bytes at most). The operations are only read, when sent.
    void add(const nfs_argop4 *ops, u_int n, u_int first, char *readBuffer = nullptr, u_int readCapacity = 0);
    std::size_t size() const { return n_; }
    // As nfs4CompoundCall's result for the compound I.
    const nfsres::Status &status(std::size_t i) const { return status_[i]; }
    // Compound I's whole reply, its preamble included: null when it was not answered or the
    // reply did not answer the request.
    const COMPOUND4res *whole(std::size_t i) const { return answered_[i] ? &batch_[i] : nullptr; }
    const nfs_resop4 &result(std::size_t i, u_int k) const { return batch_[i].resarray.resarray_val[first_[i] + k]; }

private:
    friend void nfs4CompoundsCall(const char *host, uint32_t minor, Nfs4Compounds &calls);
    nfsrpc::Batch<COMPOUND4args, COMPOUND4res> batch_{xdr_COMPOUND4args, xdr_COMPOUND4res};
    COMPOUND4args args_[kMost]{};
    u_int first_[kMost]{};
    char *readBuffer_[kMost]{};
    u_int readCapacity_[kMost]{};
    nfsres::Status status_[kMost]{};
    bool answered_[kMost]{};
    std::size_t n_ = 0;
};

// The compounds of CALLS, all of minor version MINOR, sent to HOST together: up to the window
// in flight at once (nfsrpc::exchangeAll), each checked as nfs4CompoundCall checks its one.
void nfs4CompoundsCall(const char *host, uint32_t minor, Nfs4Compounds &calls);

// Sends OPS[0..N) (at most NFS4_MAX_OPS) as one COMPOUND of minor version MINOR to HOST; FIRST
// operations (0, or 1 for a SEQUENCE) are the caller's preamble. Succeeds when every operation
// answered NFS4_OK; a compound that ended at a failing operation fails with its status's error
// number, the reply still readable; a reply that does not answer the request fails with K_EIO,
// a failed call with its error number.
nfsres::Status nfs4CompoundCall(const char *host, uint32_t minor, const nfs_argop4 *ops, u_int n, u_int first,
                                Nfs4Reply &reply);

#endif
