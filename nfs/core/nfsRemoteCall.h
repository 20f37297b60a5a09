// The module's one remote call. Every operation (NFS of both versions, MOUNT, the portmapper
// query) calls through nfsrpc::Reply, which makes the call on the task's handle (the path of
// nfsClientCall) and owns the decoded result: when it goes, it releases what decoding
// allocated, through the task's handle, whether the call completed or failed part-way through
// decoding. A caller's own buffer inside the result (READ data, a handle's bytes) is named
// once, at the call, and is never released.
//
// The transport lives below, in the exchange (core/nfsRpcExchange.h); nothing here knows how
// a call travels, so another transport, or several calls in flight, change only that layer.
#ifndef NFS_CORE_NFSREMOTECALL_H
#define NFS_CORE_NFSREMOTECALL_H

#include <rpc/rpc.h>

#include <cstdint>

namespace nfsrpc {

// A program and version on a host.
struct Peer {
    const char *host;
    uint32_t prog;
    uint32_t vers;
};

// One call on the task's handle: 0 when it completed with RPC success, else the error number
// of its failure. The task's error number is left as it was.
int exchange(const Peer &peer, uint32_t proc, xdrproc_t inproc, const void *in, xdrproc_t outproc, void *out);

// Releases what decoding put into *out; the pointer at *callerBuffer (if named) is kept out
// of the release and has its value again afterwards.
void release(xdrproc_t outproc, void *out, char **callerBuffer);

template <typename T> using Coder = bool_t (*)(XDR *, T *);
// Where a caller's own buffer sits in a result, if anywhere.
template <typename Res> using BufferSlot = char **(*)(Res &);

template <typename T> xdrproc_t procOf(Coder<T> routine)
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(routine));
}

template <typename Res> class Reply {
public:
    // The call, decoded into a result of the reply's own that starts as `initial`.
    template <typename Args>
    Reply(const Peer &peer, uint32_t proc, Coder<Args> encoder, const Args &args, Coder<Res> decoder,
          const Res &initial = Res{}, BufferSlot<Res> slot = nullptr)
        : own_(initial), at_(&own_), decoder_(decoder), slot_(slot)
    {
        error_ = exchange(peer, proc, procOf(encoder), &args, procOf(decoder), at_);
    }
    // The call, decoded into the caller's *into; released the same way unless kept.
    template <typename Args>
    Reply(const Peer &peer, uint32_t proc, Coder<Args> encoder, const Args &args, Coder<Res> decoder, Res *into,
          BufferSlot<Res> slot = nullptr)
        : own_{}, at_(into), decoder_(decoder), slot_(slot)
    {
        error_ = exchange(peer, proc, procOf(encoder), &args, procOf(decoder), at_);
    }
    Reply(const Reply &) = delete;
    Reply &operator=(const Reply &) = delete;
    ~Reply()
    {
        if (at_ != nullptr)
            release(procOf(decoder_), at_, slot_ != nullptr ? slot_(*at_) : nullptr);
    }

    // 0 when the call completed, else its error number.
    int error() const { return error_; }
    bool ok() const { return error_ == 0; }
    const Res &operator*() const { return *at_; }
    const Res *operator->() const { return at_; }
    Res &value() { return *at_; }

    // The caller takes over the result of a completed call (a directory batch held between
    // calls) and releases it later with release().
    void keep() { at_ = nullptr; }

private:
    Res own_;
    Res *at_;
    Coder<Res> decoder_;
    BufferSlot<Res> slot_;
    int error_ = 0;
};

} // namespace nfsrpc

#endif
