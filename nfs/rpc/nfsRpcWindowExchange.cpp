// Calls of one task over its UDP socket: up to a window of them in flight, each with its own
// transaction id, retransmission and deadline, their answers taken in any order. One call
// alone is a window of one.
//
// Only one message and one answer buffer are used however many calls are in flight: a call is
// encoded again (with its transaction id) whenever it is sent again, and an answer is decoded
// into its call's result as soon as it arrives. Nothing here locks: the socket and buffers are
// the calling task's own.
#include "rpc/nfsRpcExchange.h"

#include "rpc/nfsRpcStats.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

enum class State { waiting, inFlight, done };

// What the exchange keeps of one call.
struct Flight {
    State state;
    uint32_t xid;
    NfsRpcClock::time_point resendAt;
    NfsRpcClock::time_point deadline;
};

NfsRpcExchange callOf(const NfsRpcExchange &common, const NfsRpcWindowCall &call)
{
    NfsRpcExchange one = common;
    one.proc = call.proc;
    one.inproc = call.inproc;
    one.in = call.in;
    one.outproc = call.outproc;
    one.out = call.out;
    return one;
}

class Window {
public:
    Window(const NfsRpcExchange &common, NfsRpcWindowCall *calls, std::size_t n)
        : common_(common), calls_(calls), n_(n),
          buffers_(nfsRpcTaskBuffers(common.sizes.send, common.sizes.receive)),
          timeout_(common.deadline - NfsRpcClock::now())
    {
        for (std::size_t i = 0; i < n; ++i)
            flights_[i] = Flight{State::waiting, 0, {}, {}};
    }

    clnt_stat run(std::size_t window)
    {
        if (buffers_ == nullptr)
            return fail(RPC_SYSTEMERROR); // every call fails: none may pass for answered
        std::size_t next = 0;
        std::size_t inFlight = 0;
        std::size_t done = 0;
        while (done < n_) {
            for (; inFlight < window && next < n_; ++next, ++inFlight) {
                const clnt_stat sent = send(next, true);
                if (sent != RPC_SUCCESS)
                    return fail(sent);
            }
            std::size_t answered = 0;
            const clnt_stat waited = awaitAnswer(&answered);
            if (waited != RPC_SUCCESS)
                return fail(waited);
            if (answered < n_) {
                NfsRpcWindowCall &call = calls_[answered];
                call.status = nfsRpcDecodeReply(callOf(common_, call), buffers_->answer.data(), length_);
                flights_[answered].state = State::done;
                --inFlight;
                ++done;
                if (call.status != RPC_SUCCESS)
                    return fail(call.status);
                continue;
            }
            const clnt_stat resent = resendDue();
            if (resent != RPC_SUCCESS)
                return fail(resent);
        }
        return RPC_SUCCESS;
    }

private:
    NfsStatSlot &statOf(std::size_t i) const
    {
        return nfsStatSlot(IPPROTO_UDP, common_.prog, common_.vers, calls_[i].proc);
    }

    clnt_stat send(std::size_t i, bool first)
    {
        Flight &flight = flights_[i];
        NfsStatSlot &stat = statOf(i);
        const NfsRpcClock::time_point now = NfsRpcClock::now();
        if (first) {
            stat.calls.add(1);
            flight.xid = nfsRpcTransactionId();
            flight.deadline = now + timeout_;
            flight.state = State::inFlight;
        } else {
            stat.retransmissions.add(1);
        }
        const u_int length = nfsRpcEncodeCall(callOf(common_, calls_[i]), flight.xid,
                                              buffers_->message.data(), common_.sizes.send);
        if (length == 0)
            return RPC_CANTENCODEARGS;
        if (sendto(common_.socket, buffers_->message.data(), length, 0,
                   reinterpret_cast<const sockaddr *>(&common_.server), sizeof common_.server) < 0)
            return RPC_CANTSEND;
        stat.bytesSent.add(length);
        const bool retransmits = common_.retransmitInterval > NfsRpcClock::duration::zero();
        flight.resendAt =
            retransmits ? std::min(flight.deadline, now + common_.retransmitInterval) : flight.deadline;
        return RPC_SUCCESS;
    }

    // The calls whose deadline passed end the batch; those due are sent again.
    clnt_stat resendDue()
    {
        const NfsRpcClock::time_point now = NfsRpcClock::now();
        for (std::size_t i = 0; i < n_; ++i) {
            if (flights_[i].state != State::inFlight)
                continue;
            if (now >= flights_[i].deadline) {
                statOf(i).timeouts.add(1);
                return RPC_TIMEDOUT;
            }
        }
        for (std::size_t i = 0; i < n_; ++i) {
            if (flights_[i].state == State::inFlight && now >= flights_[i].resendAt) {
                const clnt_stat sent = send(i, false);
                if (sent != RPC_SUCCESS)
                    return sent;
            }
        }
        return RPC_SUCCESS;
    }

    NfsRpcClock::time_point nextWake() const
    {
        NfsRpcClock::time_point wake = NfsRpcClock::time_point::max();
        for (std::size_t i = 0; i < n_; ++i)
            if (flights_[i].state == State::inFlight)
                wake = std::min({wake, flights_[i].resendAt, flights_[i].deadline});
        return wake;
    }

    std::size_t inFlightWith(uint32_t xid) const
    {
        for (std::size_t i = 0; i < n_; ++i)
            if (flights_[i].state == State::inFlight && flights_[i].xid == xid)
                return i;
        return n_;
    }

    // Waits until the next retransmission or deadline for an answer to a call in flight:
    // *answered is its index, or n_ when the wait ended without one. Foreign datagrams and late
    // duplicates of answered calls are read and dropped.
    clnt_stat awaitAnswer(std::size_t *answered)
    {
        *answered = n_;
        const NfsRpcClock::time_point when = nextWake();
        for (;;) {
            const NfsRpcClock::time_point now = NfsRpcClock::now();
            if (now >= when)
                return RPC_SUCCESS;
            pollfd waiting{common_.socket, POLLIN, 0};
            const int ready = poll(&waiting, 1, nfsRpcMillisecondsUntil(when, now));
            if (ready < 0 && errno != EINTR)
                return RPC_CANTRECV;
            if (ready <= 0)
                continue;
            if ((waiting.revents & POLLIN) == 0) {
                nfsRpcTakeSocketError(common_.socket); // a refusal reported on the socket
                return RPC_CANTRECV;
            }
            const ssize_t got =
                recv(common_.socket, buffers_->answer.data(), common_.sizes.receive, MSG_DONTWAIT);
            if (got < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    continue;
                return RPC_CANTRECV;
            }
            uint32_t xid = 0;
            if (static_cast<std::size_t>(got) < sizeof xid)
                continue;
            std::memcpy(&xid, buffers_->answer.data(), sizeof xid);
            const std::size_t i = inFlightWith(ntohl(xid));
            if (i == n_)
                continue;
            statOf(i).bytesReceived.add(static_cast<uint32_t>(got));
            length_ = static_cast<std::size_t>(got);
            *answered = i;
            return RPC_SUCCESS;
        }
    }

    clnt_stat fail(clnt_stat status)
    {
        for (std::size_t i = 0; i < n_; ++i)
            if (flights_[i].state != State::done)
                calls_[i].status = status;
        return status;
    }

    const NfsRpcExchange &common_;
    NfsRpcWindowCall *calls_;
    std::size_t n_;
    Flight flights_[kMostWindowCalls]{};
    NfsRpcBuffers *buffers_; // the task's buffers, or null when they could not be had
    NfsRpcClock::duration timeout_;
    std::size_t length_ = 0;
};

} // namespace

clnt_stat nfsRpcExchangeWindow(const NfsRpcExchange &common, NfsRpcWindowCall *calls, std::size_t n,
                               std::size_t window)
{
    if (n == 0)
        return RPC_SUCCESS;
    if (n > kMostWindowCalls)
        return RPC_CANTENCODEARGS;
    return Window(common, calls, n).run(std::max<std::size_t>(window, 1));
}
