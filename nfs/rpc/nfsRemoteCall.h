// The module's one remote call. Every operation (NFS of both versions, MOUNT, the portmapper
// query) calls through nfsrpc::Reply, which makes the call on the task's handle (the path of
// nfsClientCall) and owns the decoded result: when it goes, it releases what decoding
// allocated, through the task's handle, whether the call completed or failed part-way through
// decoding. A caller's own buffer inside the result (READ data, a handle's bytes) is named
// once, at the call, and is never released.
//
// The transport lives below, in the exchange (rpc/nfsRpcExchange.h); nothing here knows how
// a call travels, so another transport, or several calls in flight, change only that layer.
#ifndef NFS_CORE_NFSREMOTECALL_H
#define NFS_CORE_NFSREMOTECALL_H

#include <rpc/rpc.h>

#include <cstddef>
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

// One of several calls of the same peer made together (exchangeAll); error is 0 when it
// completed, else the error number of its failure.
struct Call {
    uint32_t proc;
    xdrproc_t inproc;
    const void *in;
    xdrproc_t outproc;
    void *out;
    int error;
};

// The N calls on the task's handle, in order: up to nfsMaxInFlight of them in flight at once
// (over TCP as records on the one connection), their answers taken in any order; with a window
// of 1 one after the other as exchange() makes them. The first failure ends the batch: the calls not
// completed carry its error number. The task's error number is left as it was.
void exchangeAll(const Peer &peer, Call *calls, std::size_t n);
// The most calls one Batch holds; the window word is bounded by it.
constexpr std::size_t kMostInFlight = 16; // as the exchange's kMostWindowCalls
// True when exchangeAll would keep several calls in flight: a window above 1.
bool windowOpen();
// The calls exchangeAll keeps in flight at most: the window word, between 1 and kMostInFlight.
std::size_t windowCalls();

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
    Reply(const Peer &peer, uint32_t proc, Coder<Args> encoder, const Args &args, Coder<Res> decoder,
          Res *into, BufferSlot<Res> slot = nullptr)
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

// Up to kMostInFlight calls of one procedure made together through exchangeAll; the results
// live in the batch, each started from the initial value it was added with, and are released
// when the batch goes, a caller's own buffer inside each (slot) kept out of the release.
template <typename Args, typename Res> class Batch {
public:
    Batch(Coder<Args> encoder, Coder<Res> decoder, BufferSlot<Res> slot = nullptr)
        : encoder_(encoder), decoder_(decoder), slot_(slot)
    {
    }
    Batch(const Batch &) = delete;
    Batch &operator=(const Batch &) = delete;
    ~Batch()
    {
        for (std::size_t i = 0; i < (ran_ ? n_ : 0); ++i)
            release(procOf(decoder_), &results_[i], slot_ != nullptr ? slot_(results_[i]) : nullptr);
    }

    bool full() const { return n_ == kMostInFlight; }
    std::size_t size() const { return n_; }
    void add(const Args &args, const Res &initial = Res{})
    {
        args_[n_] = args;
        results_[n_] = initial;
        ++n_;
    }
    void run(const Peer &peer, uint32_t proc)
    {
        for (std::size_t i = 0; i < n_; ++i)
            calls_[i] = Call{proc, procOf(encoder_), &args_[i], procOf(decoder_), &results_[i], 0};
        ran_ = true;
        exchangeAll(peer, calls_, n_);
    }
    int error(std::size_t i) const { return calls_[i].error; }
    const Res &operator[](std::size_t i) const { return results_[i]; }

private:
    Coder<Args> encoder_;
    Coder<Res> decoder_;
    BufferSlot<Res> slot_;
    Args args_[kMostInFlight]{};
    Res results_[kMostInFlight]{};
    Call calls_[kMostInFlight]{};
    std::size_t n_ = 0;
    bool ran_ = false;
};

} // namespace nfsrpc

#endif
