// The channel's reading, delivery and reconnection (rpc/nfsRpcChannel.h). A task that waits
// for an answer and finds nobody reading reads for all, one message at a time, without the
// channel's lock: an answer is handed to the call with its transaction id by swapping buffers
// (no copy), and that call's task is woken by its own semaphore. A task that stops reading wakes
// one waiting task to take over, so that answers never lie unread while a call waits.
//
// A TCP record is gathered across readers: the reading task stops at its own time and the next
// one goes on where it stopped, so a call's time-out never has to wait for another call's record.
#include "rpc/nfsRpcChannel.h"

#include "rpc/nfsRpcSockets.h"

#include <kernel/kernelTypes.h>
#include <kernel/semGuard.h>
#include <kernel/sysLib.h>

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <new>
#include <utility>

namespace {

constexpr uint32_t kLastFragment = 0x80000000u;
constexpr uint32_t kFragmentLength = 0x7fffffffu;
constexpr std::size_t kMostSpares = 16;
// Pause before each further attempt to reconnect, so that a server that keeps refusing or
// dropping the connection is not hammered: 50 ms, doubling up to one second. A connection that
// delivered answers ends it.
constexpr std::chrono::milliseconds kFirstPause{50};
constexpr std::chrono::milliseconds kLongestPause{1000};
// The longest a task sleeps before it looks again at a reconnection under way.
constexpr std::chrono::milliseconds kLookAgain{10};

// The channel's lock as a scope that a task gives up to read, send or sleep, and takes again.
class ChannelLock {
public:
    explicit ChannelLock(SEM_ID sem) : sem_(sem) { take(); }
    ~ChannelLock() { give(); }
    ChannelLock(const ChannelLock &) = delete;
    ChannelLock &operator=(const ChannelLock &) = delete;
    void take() { held_ = semTake(sem_, K_WAIT_FOREVER) == 0; }
    void give()
    {
        if (held_)
            semGive(sem_);
        held_ = false;
    }

private:
    SEM_ID sem_;
    bool held_ = false;
};

// Ticks until WHEN, at least one while it is still ahead.
int ticksUntil(NfsRpcClock::time_point when)
{
    const auto left = when - NfsRpcClock::now();
    if (left <= NfsRpcClock::duration::zero())
        return K_NO_WAIT;
    const int64_t micros = std::chrono::duration_cast<std::chrono::microseconds>(left).count();
    const int64_t ticks = (micros * sysClkRateGet() + 999999) / 1000000;
    return static_cast<int>(std::clamp<int64_t>(ticks, 1, INT_MAX));
}

void sleepOn(SEM_ID wake, NfsRpcClock::time_point when)
{
    const int ticks = ticksUntil(when);
    if (ticks != K_NO_WAIT)
        semTake(wake, ticks);
}

} // namespace

NfsRpcChannel::NfsRpcChannel(const sockaddr_in &server, int transport, int socket, bool owned)
    : server_(server), transport_(transport), socket_(socket), owned_(owned),
      lock_(semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE)),
      sendLock_(semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE))
{
}

NfsRpcChannel::~NfsRpcChannel()
{
    if (owned_ && socket_ >= 0)
        close(socket_);
    if (lock_ != nullptr)
        semDelete(lock_);
    if (sendLock_ != nullptr)
        semDelete(sendLock_);
}

uint32_t NfsRpcChannel::generation() const
{
    const ChannelLock lock(lock_);
    return generation_;
}

bool NfsRpcChannel::broken() const
{
    const ChannelLock lock(lock_);
    return broken_;
}

bool NfsRpcChannel::enlist(NfsRpcPending *const *calls, std::size_t n, std::size_t room)
{
    const ChannelLock lock(lock_);
    room_ = std::max(room_, room);
    try {
        for (std::size_t i = 0; i < n; ++i) {
            NfsRpcPending *call = calls[i];
            call->arrived = false;
            call->failure = RPC_SUCCESS;
            call->length = 0;
            pending_.push_back(call);
            call->enlisted = true;
        }
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void NfsRpcChannel::withdraw(NfsRpcPending *const *calls, std::size_t n, SEM_ID wake)
{
    const ChannelLock lock(lock_);
    for (std::size_t i = 0; i < n; ++i) {
        NfsRpcPending *call = calls[i];
        if (call->enlisted)
            std::erase(pending_, call);
        call->enlisted = false;
        if (call->answer.capacity() > 0 && spares_.size() < kMostSpares) {
            try {
                spares_.push_back(std::move(call->answer));
            } catch (const std::bad_alloc &) {
                // the buffer goes with the call
            }
        }
    }
    if (!reading_)
        passReading(wake);
}

NfsRpcPending *NfsRpcChannel::pendingWith(uint32_t xid) const
{
    for (NfsRpcPending *call : pending_)
        if (call->xid == xid)
            return call;
    return nullptr;
}

void NfsRpcChannel::wakeAll(SEM_ID except)
{
    for (const NfsRpcPending *call : pending_)
        if (call->wake != except)
            semGive(call->wake);
}

void NfsRpcChannel::passReading(SEM_ID except)
{
    for (const NfsRpcPending *call : pending_) {
        if (call->wake != except) {
            semGive(call->wake);
            return;
        }
    }
}

bool NfsRpcChannel::roomForAnswer()
{
    if (incoming_.size() >= room_)
        return true;
    if (gathered_ == 0 && !spares_.empty()) {
        incoming_.swap(spares_.back());
        spares_.pop_back();
    }
    try {
        if (incoming_.size() < room_)
            incoming_.resize(room_);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void NfsRpcChannel::deliver(std::size_t length)
{
    uint32_t xid = 0;
    std::memcpy(&xid, incoming_.data(), sizeof xid);
    NfsRpcPending *call = pendingWith(ntohl(xid));
    if (call == nullptr)
        return; // a late duplicate, or an answer to a call that gave up: dropped
    call->answer.swap(incoming_);
    call->length = length;
    call->arrived = true;
    call->stat->bytesReceived.add(static_cast<uint32_t>(rawBytes_));
    std::erase(pending_, call);
    pause_ = std::chrono::milliseconds{0};
    semGive(call->wake);
}

void NfsRpcChannel::failAll(clnt_stat status)
{
    while (!pending_.empty())
        fail(pending_.back(), status);
}

void NfsRpcChannel::fail(NfsRpcPending *call, clnt_stat status)
{
    call->failure = status;
    call->arrived = true;
    std::erase(pending_, call);
    semGive(call->wake);
}

// The refusals queued on the socket, taken by the reader.
NfsRpcChannel::Read NfsRpcChannel::refusal()
{
    refusedCount_ = nfsRpcTakeRefusals(socket_, refused_.data(), refused_.size());
    return Read::refused;
}

// A refusal fails the calls whose datagrams it quotes. One that quotes a call no longer
// waiting is stale (sent while the server was down, read after it came back) and fails no
// call sent since; one that quotes nothing fails every call, as the server's host or port
// refused.
void NfsRpcChannel::refuse()
{
    if (refusedCount_ == 0) {
        failAll(RPC_CANTRECV);
        return;
    }
    for (std::size_t i = 0; i < refusedCount_; ++i)
        if (NfsRpcPending *call = pendingWith(refused_[i]); call != nullptr)
            fail(call, RPC_CANTRECV);
}

void NfsRpcChannel::markBroken(uint32_t generation)
{
    if (generation != generation_ || broken_)
        return;
    broken_ = true;
    shutdown(socket_, SHUT_RDWR); // a task reading the old connection wakes at once
    wakeAll(nullptr);
}

// A record larger than any answer taken: whose call it answers is not known, and an answer that
// large would come again if the calls were sent again, so the calls on the connection fail at
// once rather than at their time-outs; the connection is closed.
void NfsRpcChannel::oversize(uint32_t generation)
{
    if (generation == generation_ && !broken_)
        failAll(RPC_CANTRECV);
    markBroken(generation);
}

NfsChannelEvent NfsRpcChannel::await(NfsRpcPending *const *calls, std::size_t n, NfsRpcClock::time_point when,
                                     SEM_ID wake, uint32_t seen, std::size_t *which)
{
    ChannelLock lock(lock_);
    const auto leave = [this, wake](NfsChannelEvent event) {
        if (!reading_)
            passReading(wake);
        return event;
    };
    for (;;) {
        for (std::size_t i = 0; i < n; ++i) {
            if (calls[i]->enlisted && calls[i]->arrived) {
                calls[i]->enlisted = false;
                *which = i;
                return leave(NfsChannelEvent::answered);
            }
        }
        if (tcp() && (broken_ || generation_ != seen))
            return leave(NfsChannelEvent::broken);
        if (NfsRpcClock::now() >= when)
            return leave(NfsChannelEvent::due);
        if (reading_) {
            lock.give();
            sleepOn(wake, when);
            lock.take();
            continue;
        }
        if (!roomForAnswer())
            return leave(NfsChannelEvent::failed);
        reading_ = true;
        const uint32_t reading = generation_;
        lock.give();
        const Read read = readOne(when);
        lock.take();
        reading_ = false;
        switch (read) {
        case Read::message:
            deliver(length_);
            rawBytes_ = 0;
            break;
        case Read::none: break;
        case Read::broken: markBroken(reading); break;
        case Read::oversize: oversize(reading); break;
        case Read::refused: refuse(); break;
        case Read::failed: failAll(RPC_CANTRECV); break;
        }
    }
}

NfsRpcChannel::Read NfsRpcChannel::readOne(NfsRpcClock::time_point when)
{
    return tcp() ? readRecord(when) : readDatagram(when);
}

NfsRpcChannel::Read NfsRpcChannel::readDatagram(NfsRpcClock::time_point when)
{
    for (bool first = true;; first = false) {
        // Datagrams that keep coming without answering hold nobody past the time.
        if (!first && NfsRpcClock::now() >= when)
            return Read::none;
        const ssize_t got = recv(socket_, incoming_.data(), incoming_.size(), MSG_DONTWAIT);
        if (got >= static_cast<ssize_t>(sizeof(uint32_t))) {
            length_ = static_cast<std::size_t>(got);
            rawBytes_ = length_;
            return Read::message;
        }
        if (got >= 0 || errno == EINTR)
            continue; // too short to carry a transaction id
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return errno == ECONNREFUSED ? refusal() : Read::failed;
        const NfsRpcClock::time_point now = NfsRpcClock::now();
        if (now >= when)
            return Read::none;
        pollfd waiting{socket_, POLLIN, 0};
        const int ready = poll(&waiting, 1, nfsRpcMillisecondsUntil(when, now));
        if (ready < 0 && errno != EINTR)
            return Read::failed;
        if (ready > 0 && (waiting.revents & POLLIN) == 0) {
            return refusal(); // refusals reported on the socket
        }
    }
}

// One step of the record under way: its next mark or the rest of its fragment. Broken when
// the stream ended or a fragment would not fit the answer's room.
NfsRpcChannel::Read NfsRpcChannel::readRecord(NfsRpcClock::time_point when)
{
    for (bool first = true;; first = false) {
        // A stream that never pauses (empty fragments, a byte at a time) holds nobody past the time.
        if (!first && NfsRpcClock::now() >= when)
            return Read::none;
        ssize_t got = 0;
        if (inMark_) {
            got = recv(socket_, mark_ + markGot_, sizeof mark_ - markGot_, MSG_DONTWAIT);
            if (got > 0) {
                markGot_ += static_cast<std::size_t>(got);
                rawBytes_ += static_cast<std::size_t>(got);
                if (markGot_ < sizeof mark_)
                    continue;
                uint32_t mark = 0;
                std::memcpy(&mark, mark_, sizeof mark);
                mark = ntohl(mark);
                markGot_ = 0;
                inMark_ = false;
                lastFragment_ = (mark & kLastFragment) != 0;
                fragmentLeft_ = mark & kFragmentLength;
                if (fragmentLeft_ > incoming_.size() - gathered_)
                    return Read::oversize; // the stream cannot be followed past it
            }
        } else if (fragmentLeft_ > 0) {
            got = recv(socket_, incoming_.data() + gathered_, fragmentLeft_, MSG_DONTWAIT);
            if (got > 0) {
                gathered_ += static_cast<std::size_t>(got);
                fragmentLeft_ -= static_cast<std::size_t>(got);
                rawBytes_ += static_cast<std::size_t>(got);
            }
        }
        if (!inMark_ && fragmentLeft_ == 0) {
            inMark_ = true;
            if (!lastFragment_)
                continue;
            length_ = std::exchange(gathered_, 0);
            if (length_ >= sizeof(uint32_t))
                return Read::message;
            rawBytes_ = 0;
            continue;
        }
        if (got > 0 || (got < 0 && errno == EINTR))
            continue;
        if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            return Read::broken;
        const NfsRpcClock::time_point now = NfsRpcClock::now();
        if (now >= when)
            return Read::none;
        pollfd waiting{socket_, POLLIN, 0};
        if (poll(&waiting, 1, nfsRpcMillisecondsUntil(when, now)) < 0 && errno != EINTR)
            return Read::broken;
    }
}

bool NfsRpcChannel::sendRecord(NfsRpcPending *call, const char *data, std::size_t length,
                               NfsRpcClock::time_point deadline, NfsStatSlot &stat, bool *timedOut)
{
    *timedOut = false;
    const SemGuard sending(sendLock_, ticksUntil(deadline));
    if (!sending.held()) {
        *timedOut = true;
        return false;
    }
    uint32_t generation = 0;
    {
        const ChannelLock lock(lock_);
        if (broken_)
            return false;
        generation = generation_;
        call->generation = generation;
    }
    std::size_t sent = 0;
    while (sent < length) {
        if (NfsRpcClock::now() >= deadline) {
            *timedOut = true; // a peer that takes a byte at a time must not hold the call
            return false;
        }
        const ssize_t wrote = send(socket_, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (wrote > 0) {
            sent += static_cast<std::size_t>(wrote);
            stat.bytesSent.add(static_cast<uint32_t>(wrote));
            continue;
        }
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            const ChannelLock lock(lock_);
            markBroken(generation);
            return false;
        }
        readWhileBlocked(call->wake, deadline);
    }
    return true;
}

// A sender whose socket is full reads the answers waiting meanwhile, when nobody else reads:
// a server may not take more calls until its answers are read.
void NfsRpcChannel::readWhileBlocked(SEM_ID wake, NfsRpcClock::time_point deadline)
{
    const NfsRpcClock::time_point slice = std::min(deadline, NfsRpcClock::now() + kLookAgain);
    ChannelLock lock(lock_);
    if (reading_ || !roomForAnswer()) {
        lock.give();
        nfsRpcAwaitSocket(socket_, POLLOUT, slice);
        return;
    }
    reading_ = true;
    const uint32_t reading = generation_;
    lock.give();
    pollfd waiting{socket_, POLLIN | POLLOUT, 0};
    const NfsRpcClock::time_point now = NfsRpcClock::now();
    const int ready = poll(&waiting, 1, nfsRpcMillisecondsUntil(slice, now));
    const Read read = ready > 0 && (waiting.revents & POLLIN) != 0 ? readRecord(now) : Read::none;
    lock.take();
    reading_ = false;
    if (read == Read::message) {
        deliver(length_);
        rawBytes_ = 0;
    } else if (read == Read::broken)
        markBroken(reading);
    else if (read == Read::oversize)
        oversize(reading);
    passReading(wake);
}

void NfsRpcChannel::checkIdle()
{
    uint32_t generation = 0;
    {
        const ChannelLock lock(lock_);
        if (!pending_.empty() || reading_ || broken_)
            return;
        generation = generation_;
    }
    if (!nfsRpcClosedByServer(socket_))
        return;
    const ChannelLock lock(lock_);
    markBroken(generation);
}

// Takes the reconnection on itself, or waits for the task that has it: true when this task
// reconnects, false when another one finished (or the deadline passed: *timedOut).
bool NfsRpcChannel::takeReconnection(NfsRpcClock::time_point deadline, SEM_ID wake, bool *timedOut)
{
    ChannelLock lock(lock_);
    for (;;) {
        if (!broken_)
            return false;
        if (!connecting_) {
            connecting_ = true;
            return true;
        }
        if (NfsRpcClock::now() >= deadline) {
            *timedOut = true;
            return false;
        }
        lock.give();
        sleepOn(wake, std::min(deadline, NfsRpcClock::now() + kLookAgain));
        lock.take();
    }
}

clnt_stat NfsRpcChannel::reconnect(NfsRpcClock::time_point deadline, SEM_ID wake, NfsStatSlot &stat)
{
    bool timedOut = false;
    if (!takeReconnection(deadline, wake, &timedOut))
        return timedOut ? RPC_TIMEDOUT : RPC_SUCCESS;
    // Nobody sends on the old connection or reads it while its number is given to the new one.
    const SemGuard sending(sendLock_, ticksUntil(deadline));
    bool opened = false;
    while (sending.held() && !opened && NfsRpcClock::now() < deadline) {
        std::chrono::milliseconds pause{0};
        {
            const ChannelLock lock(lock_);
            pause = pause_;
            pause_ = std::clamp(pause_ * 2, kFirstPause, kLongestPause);
        }
        nfsRpcAwaitSocket(-1, 0, std::min(deadline, NfsRpcClock::now() + pause)); // a plain sleep
        if (NfsRpcClock::now() >= deadline)
            break;
        ChannelLock lock(lock_);
        while (reading_ && NfsRpcClock::now() < deadline) {
            lock.give();
            nfsRpcAwaitSocket(-1, 0, NfsRpcClock::now() + std::chrono::milliseconds(1));
            lock.take();
        }
        if (reading_)
            break;
        reading_ = true; // kept from readers until the new connection is in place
        lock.give();
        opened = nfsRpcTcpConnect(server_, socket_, deadline) >= 0;
        lock.take();
        reading_ = false;
    }
    const ChannelLock lock(lock_);
    connecting_ = false;
    if (opened) {
        broken_ = false;
        ++generation_;
        gathered_ = 0;
        fragmentLeft_ = 0;
        inMark_ = true;
        markGot_ = 0;
        rawBytes_ = 0;
        stat.reconnects.add(1);
    }
    wakeAll(wake);
    return opened ? RPC_SUCCESS : RPC_TIMEDOUT;
}
