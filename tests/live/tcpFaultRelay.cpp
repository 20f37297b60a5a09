// The TCP fault relay: an accepting thread polls the listening sockets; each accepted
// connection gets an upstream connection to the server and a thread that passes whole records
// between them, applying the plan. What is to be sent waits in a queue per direction until it
// is due.
#include "live/tcpFaultRelay.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

namespace live {

namespace {

constexpr uint32_t kLast = 0x80000000u;
constexpr std::size_t kMostHeld = 8u << 20; // a peer sending more without a record end is cut off
constexpr auto kPollWait = std::chrono::milliseconds(50);

sockaddr_in addressOf(const std::string &address, uint16_t port)
{
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = inet_addr(address.c_str());
    return where;
}

bool sendAll(int fd, const char *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t sent = send(fd, data, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

using Clock = std::chrono::steady_clock;

// Bytes to send as one send, and when.
struct Timed {
    Clock::time_point due;
    std::vector<char> bytes;
};
using Outbox = std::deque<Timed>;

// Sends what is due by NOW, in order; false when the peer is gone.
bool sendDue(int fd, Outbox *outbox, Clock::time_point now)
{
    while (!outbox->empty() && outbox->front().due <= now) {
        const std::vector<char> &bytes = outbox->front().bytes;
        if (!bytes.empty() && !sendAll(fd, bytes.data(), bytes.size()))
            return false;
        outbox->pop_front();
    }
    return true;
}

// How long to wait for input: until the first queued send is due, at most kPollWait.
timespec waitFor(const Outbox &a, const Outbox &b)
{
    std::chrono::nanoseconds wait = kPollWait;
    const Clock::time_point now = Clock::now();
    for (const Outbox *box : {&a, &b}) {
        if (!box->empty())
            wait = std::clamp<std::chrono::nanoseconds>(box->front().due - now, std::chrono::nanoseconds(0),
                                                        wait);
    }
    return {static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
}

void putMark(std::vector<char> *out, uint32_t mark)
{
    for (const int shift : {24, 16, 8, 0})
        out->push_back(static_cast<char>((mark >> shift) & 0xffu));
}

// Takes the first whole record off the front of BUFFER (its fragments joined), if there is one.
std::optional<std::vector<char>> takeRecord(std::vector<char> *buffer)
{
    std::vector<char> record;
    std::size_t at = 0;
    for (;;) {
        if (buffer->size() < at + 4)
            return std::nullopt;
        uint32_t mark = 0;
        std::memcpy(&mark, buffer->data() + at, 4);
        mark = ntohl(mark);
        const std::size_t length = mark & ~kLast;
        if (buffer->size() < at + 4 + length)
            return std::nullopt;
        record.insert(record.end(), buffer->begin() + static_cast<long>(at + 4),
                      buffer->begin() + static_cast<long>(at + 4 + length));
        at += 4 + length;
        if ((mark & kLast) != 0)
            break;
    }
    buffer->erase(buffer->begin(), buffer->begin() + static_cast<long>(at));
    return record;
}

uint32_t xidOf(const std::vector<char> &record)
{
    uint32_t xid = 0;
    if (record.size() >= 4)
        std::memcpy(&xid, record.data(), 4);
    return ntohl(xid);
}

// Reads what is there into BUFFER; false at the end of the stream or on an error.
bool readInto(int fd, std::vector<char> *buffer)
{
    char chunk[65536];
    const ssize_t got = recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (got == 0 || buffer->size() + static_cast<std::size_t>(got) > kMostHeld)
        return false;
    buffer->insert(buffer->end(), chunk, chunk + got);
    return true;
}

void resetAndClose(int fd)
{
    const linger abort{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close(fd);
}

} // namespace

struct TcpFaultRelay::Impl {
    struct Connection {
        int client;
        int server;
        unsigned number;
        std::thread thread;
    };

    std::string serverAddress;
    std::vector<std::pair<int, uint16_t>> listeners;
    std::atomic<bool> stopping{false};
    std::thread acceptor;
    mutable std::mutex mutex; // guards everything below
    TcpFaultPlan plan;
    std::list<Connection> open;
    std::vector<TcpRelayCall> seen;
    unsigned accepted = 0;
    unsigned resetCount = 0;

    ~Impl()
    {
        stopping = true;
        if (acceptor.joinable())
            acceptor.join();
        closeAll();
        std::list<Connection> ending;
        {
            std::lock_guard lock(mutex);
            ending.swap(open);
        }
        for (Connection &c : ending) {
            if (c.thread.joinable())
                c.thread.join();
        }
        for (const auto &l : listeners)
            close(l.first);
    }

    void closeAll()
    {
        std::lock_guard lock(mutex);
        for (Connection &c : open) {
            if (c.client >= 0)
                shutdown(c.client, SHUT_RDWR);
            if (c.server >= 0)
                shutdown(c.server, SHUT_RDWR);
        }
    }

    void acceptLoop()
    {
        std::vector<pollfd> waiting;
        for (const auto &l : listeners)
            waiting.push_back({l.first, POLLIN, 0});
        while (!stopping) {
            if (poll(waiting.data(), waiting.size(), static_cast<int>(kPollWait.count())) <= 0)
                continue;
            for (std::size_t i = 0; i < waiting.size(); ++i) {
                if ((waiting[i].revents & POLLIN) != 0)
                    acceptOne(listeners[i].first, listeners[i].second);
            }
        }
    }

    void acceptOne(int listener, uint16_t port)
    {
        const int client = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const int server = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const sockaddr_in to = addressOf(serverAddress, port);
        if (server < 0 || connect(server, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
            if (server >= 0)
                close(server);
            close(client);
            return;
        }
        const int on = 1;
        setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        std::lock_guard lock(mutex);
        Connection &c = open.emplace_back(Connection{client, server, ++accepted, {}});
        c.thread = std::thread([this, &c] { pass(c); });
    }

    // Passes records both ways until either side ends or the plan resets the connection.
    void pass(Connection &c)
    {
        std::vector<char> fromClient;
        std::vector<char> fromServer;
        Outbox toServer;
        Outbox toClient;
        bool reset = false;
        bool going = true;
        while (!stopping && !reset && going) {
            pollfd waiting[2] = {{c.client, POLLIN, 0}, {c.server, POLLIN, 0}};
            const timespec timeout = waitFor(toServer, toClient);
            if (ppoll(waiting, 2, &timeout, nullptr) > 0) {
                if (waiting[0].revents != 0)
                    going =
                        readInto(c.client, &fromClient) && forwardCalls(c, &fromClient, &toServer, &reset);
                if (going && !reset && waiting[1].revents != 0)
                    going = readInto(c.server, &fromServer) && forwardReplies(&fromServer, &toClient);
            }
            const Clock::time_point now = Clock::now();
            going = going && sendDue(c.server, &toServer, now) && sendDue(c.client, &toClient, now);
        }
        // Under the lock, so that closeAll never meets a number already given back.
        std::lock_guard lock(mutex);
        if (reset) {
            resetAndClose(c.client);
        } else {
            close(c.client);
        }
        close(c.server);
        c.client = -1;
        c.server = -1;
    }

    bool forwardCalls(Connection &c, std::vector<char> *buffer, Outbox *toServer, bool *reset)
    {
        while (std::optional<std::vector<char>> record = takeRecord(buffer)) {
            TcpFaultPlan now;
            {
                std::lock_guard lock(mutex);
                seen.push_back({c.number, xidOf(*record)});
                now = plan;
                if (plan.resetCalls > 0 && !plan.silent) {
                    --plan.resetCalls;
                    ++resetCount;
                }
            }
            if (now.silent)
                continue;
            std::vector<char> out;
            putMark(&out, kLast | static_cast<uint32_t>(record->size()));
            out.insert(out.end(), record->begin(), record->end());
            toServer->push_back({Clock::now() + now.delay, std::move(out)});
            if (now.resetCalls > 0) {
                // Let the server take the call before the client's side goes.
                if (!sendDue(c.server, toServer, Clock::time_point::max()))
                    return false;
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                *reset = true;
                return true;
            }
        }
        return true;
    }

    bool forwardReplies(std::vector<char> *buffer, Outbox *toClient)
    {
        while (std::optional<std::vector<char>> record = takeRecord(buffer)) {
            TcpFaultPlan now;
            {
                std::lock_guard lock(mutex);
                now = plan;
                plan.oversizeNextReply = false;
            }
            const Clock::time_point due = Clock::now() + now.delay;
            std::vector<char> out;
            if (now.foreignFirst && record->size() >= 4) {
                putMark(&out, kLast | static_cast<uint32_t>(record->size()));
                out.insert(out.end(), record->begin(), record->end());
                out[4] = static_cast<char>(out[4] ^ 0x5a); // the transaction id's first byte
            }
            if (now.oversizeNextReply || now.fragmentBytes == 0) {
                putMark(&out,
                        now.oversizeNextReply ? 0xffffffffu : kLast | static_cast<uint32_t>(record->size()));
                out.insert(out.end(), record->begin(), record->end());
                toClient->push_back({due, std::move(out)});
                continue;
            }
            toClient->push_back({due, std::move(out)});
            for (std::size_t at = 0; at < record->size() || at == 0;) {
                const std::size_t piece = std::min(now.fragmentBytes, record->size() - at);
                std::vector<char> fragment;
                putMark(&fragment, (at + piece == record->size() ? kLast : 0) | static_cast<uint32_t>(piece));
                fragment.insert(fragment.end(), record->begin() + static_cast<long>(at),
                                record->begin() + static_cast<long>(at + piece));
                toClient->push_back({due, std::move(fragment)});
                at += piece;
                if (piece == 0)
                    break;
            }
        }
        return true;
    }
};

std::unique_ptr<TcpFaultRelay> TcpFaultRelay::start(const std::string &listenAddress,
                                                    const std::string &serverAddress,
                                                    const std::vector<uint16_t> &ports, std::string *error)
{
    auto impl = std::make_unique<Impl>();
    impl->serverAddress = serverAddress;
    for (const uint16_t port : ports) {
        const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int on = 1;
        const sockaddr_in where = addressOf(listenAddress, port);
        if (fd < 0 || setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
            bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where) != 0 || listen(fd, 16) != 0) {
            *error = "cannot listen on " + listenAddress + ":" + std::to_string(port) + ": " +
                     std::strerror(errno);
            if (fd >= 0)
                close(fd);
            return nullptr;
        }
        impl->listeners.emplace_back(fd, port);
    }
    Impl *raw = impl.get();
    impl->acceptor = std::thread([raw] { raw->acceptLoop(); });
    return std::unique_ptr<TcpFaultRelay>(new TcpFaultRelay(std::move(impl)));
}

TcpFaultRelay::TcpFaultRelay(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TcpFaultRelay::~TcpFaultRelay() = default;

void TcpFaultRelay::setPlan(const TcpFaultPlan &plan)
{
    std::lock_guard lock(impl_->mutex);
    impl_->plan = plan;
}

void TcpFaultRelay::closeAll()
{
    impl_->closeAll();
}

std::vector<TcpRelayCall> TcpFaultRelay::calls() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->seen;
}

unsigned TcpFaultRelay::connections() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->accepted;
}

unsigned TcpFaultRelay::resets() const
{
    std::lock_guard lock(impl_->mutex);
    return impl_->resetCount;
}

} // namespace live
