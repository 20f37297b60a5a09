// Remote calls over a TCP connection, framed by record marking: each fragment has a 4-byte
// header whose top bit marks the record's last fragment and whose low 31 bits give its length.
// One call alone and several in flight take the same path (TcpWindow): a call is a window of one.
//
// A call goes out once as one fragment. On a live connection it is never sent again: the
// stream delivers it or breaks. When the connection breaks (reset, closed, an answer cut
// short), a new one is opened under the same descriptor number and every call not answered is
// sent again with its transaction id, so that the server's duplicate request cache can answer
// a repeated WRITE or REMOVE; this repeats until the calls' deadlines. A connection the server
// closed while the handle lay idle is found before the calls go out and reopened the same way.
//
// An answer is taken only whole: its fragments are gathered into the task's answer buffer,
// each length checked against the room left before anything is read into it. Records with
// another transaction id (an answer to an earlier, abandoned call) are read and dropped. The
// deadline is checked before every read and write, so a peer that keeps sending (empty
// fragments, foreign records, a byte at a time) cannot hold a call past it.
//
// Nothing here locks: the connection and the buffers are the calling task's own.
#include "rpc/nfsRpcExchange.h"

#include "rpc/nfsRpcStats.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

constexpr uint32_t kLastFragment = 0x80000000u;
constexpr uint32_t kFragmentLength = 0x7fffffffu;
constexpr std::size_t kMarkSize = 4;

// Reserved ports are those below 1024; the lowest few hundred belong to well-known services.
constexpr uint16_t kReservedFirst = 600;
constexpr uint16_t kReservedEnd = 1024;

// Pause before each further attempt to reconnect within one call, so that a server that keeps
// refusing or dropping the connection is not hammered: 50 ms, doubling up to one second.
constexpr std::chrono::milliseconds kFirstPause{50};
constexpr std::chrono::milliseconds kLongestPause{1000};

// Binds a reserved port, trying each once from a rotating start; gives up quietly where the
// process may not bind one (the server may still accept an ordinary port).
void bindReservedPort(int fd)
{
    static std::atomic<uint32_t> rotation{0};
    constexpr uint32_t kCount = kReservedEnd - kReservedFirst;
    const uint32_t start = rotation.fetch_add(1, std::memory_order_relaxed);
    for (uint32_t i = 0; i < kCount; ++i) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<uint16_t>(kReservedFirst + (start + i) % kCount));
        if (bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) == 0)
            return;
        if (errno != EADDRINUSE)
            return;
    }
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) {
            const int saved = errno;
            close(fd_);
            errno = saved;
        }
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

enum class Outcome { done, broken, timedOut, tooLarge };

// Waits for EVENTS on the socket until the deadline: done, timedOut, or broken on an error.
Outcome awaitSocket(int fd, short events, NfsRpcClock::time_point deadline)
{
    for (;;) {
        const NfsRpcClock::time_point now = NfsRpcClock::now();
        if (now >= deadline)
            return Outcome::timedOut;
        pollfd waiting{fd, events, 0};
        const int ready = poll(&waiting, 1, nfsRpcMillisecondsUntil(deadline, now));
        if (ready < 0 && errno != EINTR)
            return Outcome::broken;
        if (ready > 0)
            return Outcome::done; // an error or hang-up shows in the send or receive that follows
    }
}

Outcome sendAll(int fd, const char *data, std::size_t length, NfsRpcClock::time_point deadline,
                NfsStatSlot &stat)
{
    std::size_t sent = 0;
    while (sent < length) {
        if (NfsRpcClock::now() >= deadline)
            return Outcome::timedOut; // a peer that takes a byte at a time must not hold the call
        const ssize_t wrote = send(fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (wrote > 0) {
            sent += static_cast<std::size_t>(wrote);
            stat.bytesSent.add(static_cast<uint32_t>(wrote));
            continue;
        }
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return Outcome::broken;
        const Outcome waited = awaitSocket(fd, POLLOUT, deadline);
        if (waited != Outcome::done)
            return waited;
    }
    return Outcome::done;
}

// Reads exactly LENGTH bytes; the end of the stream before that breaks the connection.
Outcome receiveAll(int fd, char *into, std::size_t length, NfsRpcClock::time_point deadline,
                   NfsStatSlot &stat)
{
    std::size_t got = 0;
    while (got < length) {
        if (NfsRpcClock::now() >= deadline)
            return Outcome::timedOut; // a stream that never pauses must not hold the call
        const ssize_t read = recv(fd, into + got, length - got, MSG_DONTWAIT);
        if (read > 0) {
            got += static_cast<std::size_t>(read);
            stat.bytesReceived.add(static_cast<uint32_t>(read));
            continue;
        }
        if (read < 0 && errno == EINTR)
            continue;
        if (read == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return Outcome::broken;
        const Outcome waited = awaitSocket(fd, POLLIN, deadline);
        if (waited != Outcome::done)
            return waited;
    }
    return Outcome::done;
}

// Reads records until one answers a call that ANSWERS (its transaction id) accepts; its length goes to
// *length. A record longer than the buffer fails the call before any of the excess is read.
template <typename Match>
Outcome receiveAnswerTo(int fd, Match answers, std::vector<char> *buffer, std::size_t room,
                        std::size_t *length, NfsRpcClock::time_point deadline, NfsStatSlot &stat,
                        uint32_t *pXid)
{
    for (;;) {
        std::size_t total = 0;
        for (bool last = false; !last;) {
            uint32_t mark = 0;
            const Outcome header = receiveAll(fd, reinterpret_cast<char *>(&mark), kMarkSize, deadline, stat);
            if (header != Outcome::done)
                return header;
            mark = ntohl(mark);
            last = (mark & kLastFragment) != 0;
            const std::size_t fragment = mark & kFragmentLength;
            if (fragment > room - total)
                return Outcome::tooLarge;
            const Outcome body = receiveAll(fd, buffer->data() + total, fragment, deadline, stat);
            if (body != Outcome::done)
                return body;
            total += fragment;
        }
        uint32_t answered = 0;
        if (total < sizeof answered)
            continue;
        std::memcpy(&answered, buffer->data(), sizeof answered);
        if (answers(ntohl(answered))) {
            *length = total;
            *pXid = ntohl(answered);
            return Outcome::done;
        }
    }
}

// True when the server has closed or reset the connection: the stream is readable and its
// next byte is its end (or an error). Bytes waiting (a late answer) leave it open.
bool closedByServer(int fd)
{
    pollfd waiting{fd, POLLIN, 0};
    if (poll(&waiting, 1, 0) <= 0)
        return false;
    char next = 0;
    const ssize_t peeked = recv(fd, &next, 1, MSG_PEEK | MSG_DONTWAIT);
    return peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

} // namespace

int nfsRpcTcpConnect(const sockaddr_in &server, int replacing, NfsRpcClock::time_point deadline)
{
    Descriptor fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (fd.get() < 0)
        return -1;
    const int on = 1;
    setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    bindReservedPort(fd.get());
    if (connect(fd.get(), reinterpret_cast<const sockaddr *>(&server), sizeof server) != 0) {
        if (errno != EINPROGRESS && errno != EINTR)
            return -1;
        if (awaitSocket(fd.get(), POLLOUT, deadline) != Outcome::done) {
            errno = ETIMEDOUT;
            return -1;
        }
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0)
            return -1;
        if (error != 0) {
            errno = error;
            return -1;
        }
    }
    if (replacing < 0)
        return fd.release();
    // The handle and the task's record know the connection by its number.
    if (dup3(fd.get(), replacing, O_CLOEXEC) < 0)
        return -1;
    return replacing;
}

namespace {

// Several calls on one connection: each a record of its own with its own transaction id, up to
// a window of them sent before their answers, which are taken in any order. A WRITE's answer
// is small and a READ's call is, so neither side waits on the other's full buffer. One call
// alone is a window of one: the reconnection below serves both.
//
// Every call ends by its own deadline, counted from its first sending; a call not yet sent
// waits at most the time-out since the batch last made progress (its start, or the last
// answer), so a server that refuses every connection ends the batch by then. A connection that
// delivered answers ends the pause between reconnections; the calls kept in flight halve at
// each break and grow by one with each answer, so connections that keep breaking are not
// loaded with calls whose answers they lose. That number is kept in the task's buffers from
// one batch to the next.
class TcpWindow {
public:
    TcpWindow(const NfsRpcExchange &common, NfsRpcWindowCall *calls, std::size_t n)
        : common_(common), calls_(calls), n_(n),
          buffers_(nfsRpcTaskBuffers(kMarkSize + common.sizes.send, common.sizes.receive)),
          timeout_(common.deadline - NfsRpcClock::now()), progress_(NfsRpcClock::now())
    {
    }

    clnt_stat run(std::size_t window)
    {
        if (buffers_ == nullptr)
            return fail(RPC_SYSTEMERROR); // every call fails: none may pass for answered
        window_ = window;
        limit_ = buffers_->tcpInFlight == 0 ? window : std::min(buffers_->tcpInFlight, window);
        const clnt_stat status = exchange();
        buffers_->tcpInFlight = limit_;
        return status;
    }

private:
    clnt_stat exchange()
    {
        bool reconnect = false; // a connection closed while idle is found by sendDue
        for (;;) {
            // Done before anything else: a server that closes after its last answer ends nothing.
            if (done_ == n_)
                return RPC_SUCCESS;
            if (reconnect) {
                const clnt_stat opened = reopen();
                if (opened != RPC_SUCCESS)
                    return fail(opened);
            }
            const Outcome sent = sendDue();
            if (sent == Outcome::tooLarge)
                return fail(RPC_CANTENCODEARGS);
            if (sent == Outcome::timedOut)
                return timedOut();
            reconnect = sent == Outcome::broken;
            if (reconnect)
                continue;
            const Outcome outcome = receiveOne();
            switch (outcome) {
            case Outcome::done:
                if (failure_ != RPC_SUCCESS)
                    return fail(failure_);
                break;
            case Outcome::tooLarge: return fail(RPC_CANTRECV);
            case Outcome::timedOut: return timedOut();
            case Outcome::broken: reconnect = true; break;
            }
        }
    }

    enum class State { unsent, inFlight, resend, done };
    struct Flight {
        State state;
        uint32_t xid;
        NfsRpcClock::time_point deadline;
    };

    NfsStatSlot &statOf(std::size_t i) const
    {
        return nfsStatSlot(IPPROTO_TCP, common_.prog, common_.vers, calls_[i].proc);
    }

    // A new connection after a pause (none after a connection that delivered answers), every
    // call in flight on the old one to go again; RPC_TIMEDOUT when the deadline passes first.
    clnt_stat reopen()
    {
        bool broke = false;
        for (Flight &flight : flights_) {
            if (flight.state == State::inFlight) {
                flight.state = State::resend;
                broke = true;
            }
        }
        if (broke)
            limit_ = std::max<std::size_t>(limit_ / 2, 1);
        for (;;) {
            const NfsRpcClock::time_point deadline = earliestDeadline();
            awaitSocket(-1, 0, std::min(deadline, NfsRpcClock::now() + pause_)); // a plain sleep
            pause_ = std::clamp(pause_ * 2, kFirstPause, kLongestPause);
            if (NfsRpcClock::now() >= deadline) {
                countTimeOut();
                return RPC_TIMEDOUT;
            }
            if (nfsRpcTcpConnect(common_.server, common_.socket, deadline) >= 0)
                break;
        }
        statOf(firstOpen()).reconnects.add(1);
        return RPC_SUCCESS;
    }

    // Sends the calls due, up to the calls kept in flight: those to go again first, in order,
    // then new ones, each with a fresh transaction id and its own deadline.
    Outcome sendDue()
    {
        // A connection the server closed after its last answer is found before calls are lost on it.
        if (inFlight() == 0 && closedByServer(common_.socket))
            return Outcome::broken;
        for (std::size_t i = 0; i < n_ && inFlight() < limit_; ++i) {
            Flight &flight = flights_[i];
            if (flight.state == State::unsent) {
                if (sentCount() - done_ >= window_)
                    break;
                flight = {State::inFlight, nfsRpcTransactionId(), NfsRpcClock::now() + timeout_};
                statOf(i).calls.add(1);
            } else if (flight.state == State::resend) {
                flight.state = State::inFlight;
            } else {
                continue;
            }
            const Outcome sent = sendOne(i);
            if (sent != Outcome::done)
                return sent;
        }
        return Outcome::done;
    }

    // Takes one answer to a call in flight and decodes it into the call's result.
    Outcome receiveOne()
    {
        std::size_t length = 0;
        uint32_t xid = 0;
        const Outcome outcome = receiveAnswerTo(
            common_.socket, [this](uint32_t got) { return inFlightWith(got) < n_; }, &buffers_->answer,
            common_.sizes.receive, &length, earliestDeadline(), statOf(firstOpen()), &xid);
        if (outcome != Outcome::done)
            return outcome;
        const std::size_t i = inFlightWith(xid);
        NfsRpcExchange one = common_;
        one.proc = calls_[i].proc;
        one.outproc = calls_[i].outproc;
        one.out = calls_[i].out;
        calls_[i].status = nfsRpcDecodeReply(one, buffers_->answer.data(), length);
        flights_[i].state = State::done;
        ++done_;
        progress_ = NfsRpcClock::now();
        pause_ = std::chrono::milliseconds{0};
        limit_ = std::min(limit_ + 1, window_);
        if (calls_[i].status != RPC_SUCCESS)
            failure_ = calls_[i].status;
        return Outcome::done;
    }

    Outcome sendOne(std::size_t i)
    {
        NfsRpcExchange one = common_;
        one.proc = calls_[i].proc;
        one.inproc = calls_[i].inproc;
        one.in = calls_[i].in;
        const u_int length =
            nfsRpcEncodeCall(one, flights_[i].xid, buffers_->message.data() + kMarkSize, common_.sizes.send);
        if (length == 0)
            return Outcome::tooLarge;
        const uint32_t mark = htonl(kLastFragment | length);
        std::memcpy(buffers_->message.data(), &mark, kMarkSize);
        return sendAll(common_.socket, buffers_->message.data(), kMarkSize + length, flights_[i].deadline,
                       statOf(i));
    }

    std::size_t count(State state) const
    {
        return static_cast<std::size_t>(std::count_if(
            flights_, flights_ + n_, [state](const Flight &flight) { return flight.state == state; }));
    }
    std::size_t inFlight() const { return count(State::inFlight); }
    std::size_t sentCount() const { return n_ - count(State::unsent); }

    std::size_t inFlightWith(uint32_t xid) const
    {
        for (std::size_t i = 0; i < n_; ++i)
            if (flights_[i].state == State::inFlight && flights_[i].xid == xid)
                return i;
        return n_;
    }

    // The first call not answered (for the counters), or the last call.
    std::size_t firstOpen() const
    {
        for (std::size_t i = 0; i < n_; ++i)
            if (flights_[i].state != State::done)
                return i;
        return n_ - 1;
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

    const NfsRpcExchange &common_;
    NfsRpcWindowCall *calls_;
    std::size_t n_;
    NfsRpcBuffers *buffers_; // the task's buffers, or null when they could not be had
    NfsRpcClock::duration timeout_;
    NfsRpcClock::time_point progress_; // the start, then the last answer
    std::chrono::milliseconds pause_{0};
    std::size_t window_ = 1; // the most calls in flight the caller allows
    std::size_t limit_ = 1;  // the calls kept in flight on the connection: 1 up to the window
    std::size_t done_ = 0;
    clnt_stat failure_ = RPC_SUCCESS; // the status of an answer that ends the batch
    Flight flights_[kMostWindowCalls]{};
};

} // namespace

clnt_stat nfsRpcTcpExchange(const NfsRpcExchange &call)
{
    NfsRpcWindowCall one{call.inproc, call.in, call.outproc, call.out, call.proc, RPC_SUCCESS};
    return TcpWindow(call, &one, 1).run(1);
}

clnt_stat nfsRpcTcpExchangeWindow(const NfsRpcExchange &common, NfsRpcWindowCall *calls, std::size_t n,
                                  std::size_t window)
{
    if (n == 0)
        return RPC_SUCCESS;
    if (n > kMostWindowCalls)
        return RPC_CANTENCODEARGS;
    return TcpWindow(common, calls, n).run(std::max<std::size_t>(window, 1));
}
