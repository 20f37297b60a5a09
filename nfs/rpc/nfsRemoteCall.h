// The module's one remote call. Every operation (NFS of both versions, MOUNT, the portmapper
// query) calls through nfsrpc::Reply, which makes the call on the task's handle (the path of
// nfsClientCall) and owns the decoded result: when it goes, it releases what decoding
// allocated, through the task's handle, whether the call completed or failed part-way through
// decoding. A caller's own buffer inside the result (READ data, a handle's bytes) is named
// once, at the call, and is never released. A version 3 NFS call that the server answers
// NFS3ERR_JUKEBOX is sent again after a pause, within the call's time-out (RetryPacing), by
// Reply and Batch alike, so that no operation sees that status before its time-out.
//
// The transport lives below, in the exchange (rpc/nfsRpcExchange.h); nothing here knows how
// a call travels, so another transport, or several calls in flight, change only that layer.
#ifndef NFS_CORE_NFSREMOTECALL_H
#define NFS_CORE_NFSREMOTECALL_H

#include "core/nfsCallSettings.h"

#include <brisnel/nfsConfigLib.h>
#include <kernel/kernelErrno.h>

#include <rpc/rpc.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <thread>

namespace nfsrpc {

// The error number of a call the server gave no answer to (no reply in time, no connection,
// nothing sent, no memory for it): unlike a refusal, the same call may yet succeed.
inline bool unanswered(int errorNumber)
{
    if ((errorNumber & ~0xFFFF) != K_RPC_CLNT_ERRNO_BASE)
        return false;
    switch (errorNumber & 0xFFFF) {
    case RPC_CANTSEND:
    case RPC_CANTRECV:
    case RPC_TIMEDOUT:
    case RPC_SYSTEMERROR: return true;
    default: return false;
    }
}

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

// NFS version 3's "try again later" (NFS3ERR_JUKEBOX: the server cannot answer now, say
// while it brings a file back from slow storage): the client waits and sends the call again.
// Only a completed version 3 NFS call whose result opens with that status qualifies; version
// 2, MOUNT and the portmapper have no such status.
constexpr uint32_t kNfsProgram = 100003;
constexpr uint32_t kNfsRetryVersion = 3;
constexpr int kNfsRetryLater = 10008; // NFS3ERR_JUKEBOX

template <typename Res> bool retryLater(const Peer &peer, const Res &res)
{
    if constexpr (requires { res.status; })
        return peer.prog == kNfsProgram && peer.vers == kNfsRetryVersion &&
               static_cast<int>(res.status) == kNfsRetryLater;
    else
        return false;
}

// The waits before the calls sent again: 50 ms, doubling up to 2 s, all within the call's
// time-out (nfsTimeoutSec, nfsTimeoutUSec) from the first send. When it has passed the last
// answer stands, and the caller sees its status.
class RetryPacing {
public:
    using Clock = std::chrono::steady_clock;
    RetryPacing()
        : deadline_(Clock::now() + std::chrono::seconds(std::max(nfsCallTimeout().sec, 0)) +
                    std::chrono::microseconds(std::max(nfsCallTimeout().usec, 0)))
    {
    }
    // Waits the next pause and says true, or says false once the time-out has passed.
    bool pause()
    {
        const Clock::time_point now = Clock::now();
        if (now >= deadline_)
            return false;
        std::this_thread::sleep_for(std::min<Clock::duration>(wait_, deadline_ - now));
        wait_ = std::min<Clock::duration>(wait_ * 2, kLongest);
        return true;
    }

private:
    static constexpr std::chrono::milliseconds kFirst{50};
    static constexpr std::chrono::milliseconds kLongest{2000};
    Clock::time_point deadline_;
    Clock::duration wait_ = kFirst;
};

template <typename Res> class Reply {
public:
    // The call, decoded into a result of the reply's own that starts as `initial`.
    template <typename Args>
    Reply(const Peer &peer, uint32_t proc, Coder<Args> encoder, const Args &args, Coder<Res> decoder,
          const Res &initial = Res{}, BufferSlot<Res> slot = nullptr)
        : own_(initial), at_(&own_), decoder_(decoder), slot_(slot)
    {
        call(peer, proc, procOf(encoder), &args);
    }
    // The call, decoded into the caller's *into; released the same way unless kept.
    template <typename Args>
    Reply(const Peer &peer, uint32_t proc, Coder<Args> encoder, const Args &args, Coder<Res> decoder,
          Res *into, BufferSlot<Res> slot = nullptr)
        : own_{}, at_(into), decoder_(decoder), slot_(slot)
    {
        call(peer, proc, procOf(encoder), &args);
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
    // The call, sent again from the same starting result while the server says to try later.
    void call(const Peer &peer, uint32_t proc, xdrproc_t encoder, const void *args)
    {
        const Res initial = *at_;
        RetryPacing pacing;
        error_ = exchange(peer, proc, encoder, args, procOf(decoder_), at_);
        while (error_ == 0 && retryLater(peer, *at_) && pacing.pause()) {
            release(procOf(decoder_), at_, slot_ != nullptr ? slot_(*at_) : nullptr);
            *at_ = initial;
            error_ = exchange(peer, proc, encoder, args, procOf(decoder_), at_);
        }
    }

    Res own_;
    Res *at_;
    Coder<Res> decoder_;
    BufferSlot<Res> slot_;
    int error_ = 0;
};

// Up to kMostInFlight calls of one procedure made together through exchangeAll; the results
// live in the batch, each started from the initial value it was added with, and are released
// when the batch goes, a caller's own buffer inside each (slot) kept out of the release. Only
// the calls answered NFS3ERR_JUKEBOX go again, together.
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
        initials_[n_] = initial;
        ++n_;
    }
    // The calls, and again those that the server said to try later, from their starting
    // results, while the pacing allows.
    void run(const Peer &peer, uint32_t proc)
    {
        for (std::size_t i = 0; i < n_; ++i)
            calls_[i] = Call{proc, procOf(encoder_), &args_[i], procOf(decoder_), &results_[i], 0};
        ran_ = true;
        RetryPacing pacing;
        exchangeAll(peer, calls_, n_);
        std::size_t later[kMostInFlight];
        for (std::size_t m = laterOnes(peer, later); m > 0 && pacing.pause(); m = laterOnes(peer, later))
            resend(peer, later, m);
    }
    int error(std::size_t i) const { return calls_[i].error; }
    const Res &operator[](std::size_t i) const { return results_[i]; }

private:
    // The indexes of the completed calls whose server said to try later, into which; their count.
    std::size_t laterOnes(const Peer &peer, std::size_t *which) const
    {
        std::size_t m = 0;
        for (std::size_t i = 0; i < n_; ++i) {
            if (calls_[i].error == 0 && retryLater(peer, results_[i]))
                which[m++] = i;
        }
        return m;
    }
    void resend(const Peer &peer, const std::size_t *which, std::size_t m)
    {
        for (std::size_t k = 0; k < m; ++k) {
            Res &res = results_[which[k]];
            release(procOf(decoder_), &res, slot_ != nullptr ? slot_(res) : nullptr);
            res = initials_[which[k]];
            again_[k] = calls_[which[k]];
        }
        exchangeAll(peer, again_, m);
        for (std::size_t k = 0; k < m; ++k)
            calls_[which[k]].error = again_[k].error;
    }

    Coder<Args> encoder_;
    Coder<Res> decoder_;
    BufferSlot<Res> slot_;
    Args args_[kMostInFlight]{};
    Res results_[kMostInFlight]{};
    Res initials_[kMostInFlight]{};
    Call calls_[kMostInFlight]{};
    Call again_[kMostInFlight]{}; // the calls sent again, together
    std::size_t n_ = 0;
    bool ran_ = false;
};

} // namespace nfsrpc

#endif
