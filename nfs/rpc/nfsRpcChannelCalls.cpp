// A task's calls on a channel: up to a window of them in flight, each with its own transaction id
// and deadline, their answers taken in any order, whichever task read them. One call alone is
// a window of one. The two transports differ in one place each: how a call goes out and what a
// lost call costs (UDP: sent again after each retransmission interval; TCP: sent once per
// connection, and again, with its transaction id, on the next connection when one breaks).
//
// Over TCP, every call ends by its own deadline, counted from its first sending; a call not yet
// sent waits at most the time-out since the batch last made progress (its start, or the last
// answer), so a server that refuses every connection ends the batch by then. The calls kept in
// flight halve at each broken connection and grow by one with each answer, so connections that
// keep breaking are not loaded with calls whose answers they lose; that number is kept in the
// task's buffers from one batch to the next.
//
// Only one message buffer is used however many calls are in flight: a call is encoded again
// (with its transaction id) whenever it is sent again.
#include "rpc/nfsRpcChannel.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t kMarkSize = 4;
constexpr uint32_t kLastFragment = 0x80000000u;

enum class State { unsent, inFlight, resend, done };

struct Flight {
    State state = State::unsent;
    NfsRpcClock::time_point resendAt{};
    NfsRpcClock::time_point deadline{};
};

class ChannelCalls {
public:
    ChannelCalls(NfsRpcChannel &channel, const NfsRpcExchange &common, NfsRpcWindowCall *calls, std::size_t n)
        : channel_(channel), common_(common), calls_(calls), n_(n),
          buffers_(nfsRpcTaskBuffers(kMarkSize + common.sizes.send)),
          timeout_(common.deadline - NfsRpcClock::now()), progress_(NfsRpcClock::now())
    {
        for (std::size_t i = 0; i < n; ++i) {
            pending_[i].wake = buffers_ != nullptr ? buffers_->wake : nullptr;
            pending_[i].stat = &statOf(i);
            pointers_[i] = &pending_[i];
        }
    }
    ~ChannelCalls() { channel_.withdraw(pointers_, n_, pending_[0].wake); }
    ChannelCalls(const ChannelCalls &) = delete;
    ChannelCalls &operator=(const ChannelCalls &) = delete;

    clnt_stat run(std::size_t window)
    {
        if (buffers_ == nullptr || buffers_->wake == nullptr)
            return fail(RPC_SYSTEMERROR); // every call fails: none may pass for answered
        window_ = window;
        limit_ = !channel_.tcp() || buffers_->tcpInFlight == 0 ? window : std::min(buffers_->tcpInFlight, window);
        const clnt_stat status = exchange();
        if (channel_.tcp())
            buffers_->tcpInFlight = limit_;
        return status;
    }

private:
    clnt_stat exchange()
    {
        for (;;) {
            if (done_ == n_)
                return RPC_SUCCESS;
            if (channel_.tcp() && lostOnConnection()) {
                const clnt_stat opened = channel_.reconnect(earliestDeadline(), buffers_->wake, statOf(firstOpen()));
                if (opened == RPC_TIMEDOUT)
                    return timedOut();
                continue;
            }
            const Outcome sent = sendDue();
            if (sent == Outcome::failed)
                return fail(status_);
            if (sent == Outcome::broken)
                continue;
            std::size_t which = 0;
            switch (channel_.await(pointers_, n_, nextWake(), buffers_->wake, generation_, &which)) {
            case NfsChannelEvent::answered:
                if (!take(which))
                    return fail(status_);
                break;
            case NfsChannelEvent::due:
                if (!retransmitDue())
                    return fail(status_);
                break;
            case NfsChannelEvent::broken: break;
            case NfsChannelEvent::refused:
            case NfsChannelEvent::failed: return fail(RPC_CANTRECV);
            }
        }
    }

    enum class Outcome { sent, broken, failed };

    NfsStatSlot &statOf(std::size_t i) const
    {
        return nfsStatSlot(channel_.transport(), common_.prog, common_.vers, calls_[i].proc);
    }

    NfsRpcExchange callOf(std::size_t i) const
    {
        NfsRpcExchange one = common_;
        one.proc = calls_[i].proc;
        one.inproc = calls_[i].inproc;
        one.in = calls_[i].in;
        one.outproc = calls_[i].outproc;
        one.out = calls_[i].out;
        return one;
    }

    // TCP: the calls sent on a connection that broke or was replaced go again; true when the
    // connection is to be opened again first.
    bool lostOnConnection()
    {
        generation_ = channel_.generation();
        const bool broken = channel_.broken();
        bool lost = false;
        for (std::size_t i = 0; i < n_; ++i) {
            if (flights_[i].state == State::inFlight && (broken || pending_[i].generation != generation_)) {
                flights_[i].state = State::resend;
                lost = true;
            }
        }
        if (lost)
            limit_ = std::max<std::size_t>(limit_ / 2, 1);
        return broken;
    }

    // Sends the calls due, up to the calls kept in flight: those to go again first, in order,
    // then new ones, each with a fresh transaction id and its own deadline.
    Outcome sendDue()
    {
        if (channel_.tcp() && inFlight() == 0)
            channel_.checkIdle(); // a connection closed after its last answer loses no call
        for (std::size_t i = 0; i < n_ && inFlight() < limit_; ++i) {
            Flight &flight = flights_[i];
            if (flight.state == State::unsent) {
                if (sentCount() - done_ >= window_)
                    break;
                pending_[i].xid = nfsRpcTransactionId();
                flight.deadline = NfsRpcClock::now() + timeout_;
                if (!channel_.enlist(&pointers_[i], 1, common_.sizes.receive)) {
                    status_ = RPC_SYSTEMERROR;
                    return Outcome::failed;
                }
                statOf(i).calls.add(1);
            } else if (flight.state != State::resend) {
                continue;
            }
            flight.state = State::inFlight;
            const Outcome sent = send(i);
            if (sent != Outcome::sent)
                return sent;
        }
        return Outcome::sent;
    }

    // One sending of call I: a datagram, or a record on the connection.
    Outcome send(std::size_t i)
    {
        const bool tcp = channel_.tcp();
        char *message = buffers_->message.data() + (tcp ? kMarkSize : 0);
        const u_int length = nfsRpcEncodeCall(callOf(i), pending_[i].xid, message, common_.sizes.send);
        if (length == 0) {
            status_ = RPC_CANTENCODEARGS;
            return Outcome::failed;
        }
        Flight &flight = flights_[i];
        if (!tcp) {
            if (sendto(channel_.socket(), message, length, 0, reinterpret_cast<const sockaddr *>(&channel_.server()),
                       sizeof(sockaddr_in)) < 0) {
                status_ = RPC_CANTSEND;
                return Outcome::failed;
            }
            statOf(i).bytesSent.add(length);
            const bool retransmits = common_.retransmitInterval > NfsRpcClock::duration::zero();
            flight.resendAt = retransmits ? std::min(flight.deadline, NfsRpcClock::now() + common_.retransmitInterval)
                                          : flight.deadline;
            return Outcome::sent;
        }
        const uint32_t mark = htonl(kLastFragment | length);
        std::memcpy(buffers_->message.data(), &mark, kMarkSize);
        bool late = false;
        if (channel_.sendRecord(&pending_[i], buffers_->message.data(), kMarkSize + length, flight.deadline, statOf(i),
                                &late))
            return Outcome::sent;
        if (late) {
            countTimeOut();
            status_ = RPC_TIMEDOUT;
            return Outcome::failed;
        }
        flight.state = State::resend;
        return Outcome::broken;
    }

    // The answer to call I, handed over by whichever task read it: decoded into its result.
    bool take(std::size_t i)
    {
        NfsRpcPending &pending = pending_[i];
        flights_[i].state = State::done;
        ++done_;
        if (pending.failure != RPC_SUCCESS) {
            calls_[i].status = status_ = pending.failure;
            return false;
        }
        calls_[i].status = nfsRpcDecodeReply(callOf(i), pending.answer.data(), pending.length);
        progress_ = NfsRpcClock::now();
        limit_ = std::min(limit_ + 1, window_);
        status_ = calls_[i].status;
        return status_ == RPC_SUCCESS;
    }

    // UDP: the calls whose deadline passed end the batch; those due are sent again. TCP: the
    // wait ended at the earliest deadline.
    bool retransmitDue()
    {
        const NfsRpcClock::time_point now = NfsRpcClock::now();
        if (channel_.tcp()) {
            if (now < earliestDeadline())
                return true;
            countTimeOut();
            status_ = RPC_TIMEDOUT;
            return false;
        }
        for (std::size_t i = 0; i < n_; ++i) {
            if (flights_[i].state == State::inFlight && now >= flights_[i].deadline) {
                statOf(i).timeouts.add(1);
                status_ = RPC_TIMEDOUT;
                return false;
            }
        }
        for (std::size_t i = 0; i < n_; ++i) {
            if (flights_[i].state == State::inFlight && now >= flights_[i].resendAt) {
                statOf(i).retransmissions.add(1);
                if (send(i) != Outcome::sent)
                    return false;
            }
        }
        return true;
    }

    NfsRpcClock::time_point nextWake() const
    {
        if (channel_.tcp())
            return earliestDeadline();
        NfsRpcClock::time_point wake = NfsRpcClock::time_point::max();
        for (std::size_t i = 0; i < n_; ++i)
            if (flights_[i].state == State::inFlight)
                wake = std::min({wake, flights_[i].resendAt, flights_[i].deadline});
        return wake;
    }

    // The earliest deadline of a call sent and not answered, and of the calls not yet sent.
    NfsRpcClock::time_point earliestDeadline() const
    {
        NfsRpcClock::time_point earliest = NfsRpcClock::time_point::max();
        if (count(State::unsent) > 0)
            earliest = progress_ + timeout_;
        for (std::size_t i = 0; i < n_; ++i)
            if (flights_[i].state == State::inFlight || flights_[i].state == State::resend)
                earliest = std::min(earliest, flights_[i].deadline);
        return earliest;
    }

    std::size_t count(State state) const
    {
        return static_cast<std::size_t>(std::count_if(
            flights_, flights_ + n_, [state](const Flight &flight) { return flight.state == state; }));
    }
    std::size_t inFlight() const { return count(State::inFlight); }
    std::size_t sentCount() const { return n_ - count(State::unsent); }

    // The first call not answered (for the counters), or the last call.
    std::size_t firstOpen() const
    {
        for (std::size_t i = 0; i < n_; ++i)
            if (flights_[i].state != State::done)
                return i;
        return n_ - 1;
    }

    void countTimeOut() { statOf(firstOpen()).timeouts.add(1); }

    clnt_stat timedOut()
    {
        countTimeOut();
        return fail(RPC_TIMEDOUT);
    }

    clnt_stat fail(clnt_stat status)
    {
        for (std::size_t i = 0; i < n_; ++i)
            if (flights_[i].state != State::done)
                calls_[i].status = status;
        return status;
    }

    NfsRpcChannel &channel_;
    const NfsRpcExchange &common_;
    NfsRpcWindowCall *calls_;
    std::size_t n_;
    NfsRpcBuffers *buffers_; // the task's buffers, or null when they could not be had
    NfsRpcClock::duration timeout_;
    NfsRpcClock::time_point progress_; // the start, then the last answer
    std::size_t window_ = 1;           // the most calls in flight the caller allows
    std::size_t limit_ = 1;            // the calls kept in flight: over TCP 1 up to the window
    std::size_t done_ = 0;
    uint32_t generation_ = 0; // over TCP the connection this task last looked at
    clnt_stat status_ = RPC_SUCCESS; // what ends the batch when it fails
    Flight flights_[kMostWindowCalls]{};
    NfsRpcPending pending_[kMostWindowCalls]{};
    NfsRpcPending *pointers_[kMostWindowCalls]{};
};

} // namespace

clnt_stat nfsRpcChannelExchange(NfsRpcChannel *channel, const NfsRpcExchange &common, NfsRpcWindowCall *calls,
                                std::size_t n, std::size_t window)
{
    if (n == 0)
        return RPC_SUCCESS;
    if (n > kMostWindowCalls)
        return RPC_CANTENCODEARGS;
    return ChannelCalls(*channel, common, calls, n).run(std::max<std::size_t>(window, 1));
}

clnt_stat nfsRpcExchange(const NfsRpcExchange &call)
{
    NfsRpcChannel channel(call.server, call.transport, call.socket, false);
    if (!channel.ready())
        return RPC_SYSTEMERROR;
    NfsRpcWindowCall one{call.inproc, call.in, call.outproc, call.out, call.proc, RPC_SUCCESS};
    return nfsRpcChannelExchange(&channel, call, &one, 1, 1);
}

clnt_stat nfsRpcTcpExchange(const NfsRpcExchange &call)
{
    NfsRpcExchange over = call;
    over.transport = IPPROTO_TCP;
    return nfsRpcExchange(over);
}
