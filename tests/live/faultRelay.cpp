// The fault relay: one thread polls the listening sockets, one upstream socket per client and
// port, and a wake-up pipe; datagrams wait in a queue ordered by the time they are due.
#include "live/faultRelay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>

namespace live {

namespace {

using Clock = std::chrono::steady_clock;

int boundSocket(const std::string &address, uint16_t port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // Room for a window of the largest datagrams each way while the thread is busy: a
    // datagram the relay drops unasked costs the client a retransmission interval.
    const int room = 4 << 20;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room) != 0)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &room, sizeof room);
    if (setsockopt(fd, SOL_SOCKET, SO_SNDBUFFORCE, &room, sizeof room) != 0)
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    where.sin_addr.s_addr = inet_addr(address.c_str());
    if (bind(fd, reinterpret_cast<const sockaddr *>(&where), sizeof where) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

struct Pending {
    int fromSocket;
    sockaddr_in to;
    std::vector<char> bytes;
};

} // namespace

struct FaultRelay::Impl {
    struct Listener {
        int fd;
        uint16_t port;
    };
    // One upstream socket per client endpoint and server port: the server's answers on it go
    // back to that client from the listener of that port.
    struct Upstream {
        int fd;
        std::size_t listener;
        sockaddr_in client;
    };

    std::string serverAddress;
    std::vector<Listener> listeners;
    std::vector<Upstream> upstreams;
    std::multimap<Clock::time_point, Pending> queue;
    std::mt19937 random;
    int wake[2] = {-1, -1};
    std::atomic<bool> stopping{false};
    mutable std::mutex mutex; // guards plan and counts
    FaultPlan plan;
    RelayCounts counts;
    std::thread thread;

    ~Impl()
    {
        for (const Listener &l : listeners)
            close(l.fd);
        for (const Upstream &u : upstreams)
            close(u.fd);
        for (const int fd : wake)
            if (fd >= 0)
                close(fd);
    }

    sockaddr_in serverEndpoint(uint16_t port) const
    {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = inet_addr(serverAddress.c_str());
        return to;
    }

    std::size_t upstreamFor(std::size_t listener, const sockaddr_in &client)
    {
        for (std::size_t i = 0; i < upstreams.size(); ++i) {
            const Upstream &u = upstreams[i];
            if (u.listener == listener && u.client.sin_addr.s_addr == client.sin_addr.s_addr &&
                u.client.sin_port == client.sin_port)
                return i;
        }
        upstreams.push_back({boundSocket(serverAddress, 0), listener, client});
        return upstreams.size() - 1;
    }

    // Lost, passed on once or twice, each copy at its own time.
    void schedule(uint16_t serverPort, const Pending &datagram)
    {
        const std::lock_guard lock(mutex);
        std::uniform_real_distribution<double> chance(0, 1);
        const bool silent =
            std::find(plan.silentPorts.begin(), plan.silentPorts.end(), serverPort) != plan.silentPorts.end();
        if (silent || chance(random) < plan.loss) {
            ++counts.lost;
            return;
        }
        const int copies = chance(random) < plan.duplicate ? 2 : 1;
        counts.duplicated += static_cast<unsigned>(copies - 1);
        ++counts.forwarded;
        std::uniform_int_distribution<std::chrono::microseconds::rep> extra(0, plan.jitter.count());
        for (int i = 0; i < copies; ++i) {
            const Clock::time_point due =
                Clock::now() + plan.delay + std::chrono::microseconds(extra(random));
            queue.emplace(due, datagram);
        }
    }

    void sendDue()
    {
        const Clock::time_point now = Clock::now();
        while (!queue.empty() && queue.begin()->first <= now) {
            const Pending &p = queue.begin()->second;
            sendto(p.fromSocket, p.bytes.data(), p.bytes.size(), 0, reinterpret_cast<const sockaddr *>(&p.to),
                   sizeof p.to);
            queue.erase(queue.begin());
        }
    }

    // Reads every datagram waiting on FD; true when it got one.
    static bool receive(int fd, std::vector<char> *bytes, sockaddr_in *from)
    {
        bytes->resize(65536);
        socklen_t length = sizeof *from;
        const ssize_t got =
            recvfrom(fd, bytes->data(), bytes->size(), 0, reinterpret_cast<sockaddr *>(from), &length);
        if (got < 0)
            return false;
        bytes->resize(static_cast<std::size_t>(got));
        return true;
    }

    void run()
    {
        std::vector<char> bytes;
        while (!stopping) {
            std::vector<pollfd> fds;
            fds.push_back({wake[0], POLLIN, 0});
            for (const Listener &l : listeners)
                fds.push_back({l.fd, POLLIN, 0});
            for (const Upstream &u : upstreams)
                fds.push_back({u.fd, POLLIN, 0});
            // Woken at the first datagram's due time to the microsecond, not the millisecond:
            // a delay of 500 us must not become 1 ms.
            std::chrono::nanoseconds wait = std::chrono::milliseconds(100);
            if (!queue.empty())
                wait = std::clamp<std::chrono::nanoseconds>(queue.begin()->first - Clock::now(),
                                                            std::chrono::nanoseconds(0), wait);
            const timespec timeout{static_cast<time_t>(wait.count() / 1000000000),
                                   static_cast<long>(wait.count() % 1000000000)};
            ppoll(fds.data(), fds.size(), &timeout, nullptr);
            sockaddr_in from{};
            for (std::size_t i = 0; i < listeners.size(); ++i) {
                while (receive(listeners[i].fd, &bytes, &from)) {
                    const std::size_t up = upstreamFor(i, from);
                    schedule(listeners[i].port, {upstreams[up].fd, serverEndpoint(listeners[i].port), bytes});
                }
            }
            for (const Upstream &u : upstreams) {
                while (receive(u.fd, &bytes, &from))
                    schedule(listeners[u.listener].port, {listeners[u.listener].fd, u.client, bytes});
            }
            sendDue();
        }
    }
};

std::unique_ptr<FaultRelay> FaultRelay::start(const std::string &listenAddress,
                                              const std::string &serverAddress,
                                              const std::vector<uint16_t> &ports, uint32_t seed,
                                              std::string *error)
{
    auto impl = std::make_unique<Impl>();
    impl->serverAddress = serverAddress;
    impl->random.seed(seed);
    if (pipe2(impl->wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        *error = std::string("pipe: ") + std::strerror(errno);
        return nullptr;
    }
    for (const uint16_t port : ports) {
        const int fd = boundSocket(listenAddress, port);
        if (fd < 0) {
            *error =
                "cannot bind " + listenAddress + ":" + std::to_string(port) + ": " + std::strerror(errno);
            return nullptr;
        }
        impl->listeners.push_back({fd, port});
    }
    Impl *running = impl.get();
    impl->thread = std::thread([running] { running->run(); });
    return std::unique_ptr<FaultRelay>(new FaultRelay(std::move(impl)));
}

FaultRelay::FaultRelay(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FaultRelay::~FaultRelay()
{
    impl_->stopping = true;
    const char byte = 0;
    static_cast<void>(write(impl_->wake[1], &byte, 1));
    impl_->thread.join();
}

void FaultRelay::setPlan(const FaultPlan &plan)
{
    const std::lock_guard lock(impl_->mutex);
    impl_->plan = plan;
}

RelayCounts FaultRelay::counts() const
{
    const std::lock_guard lock(impl_->mutex);
    return impl_->counts;
}

} // namespace live
