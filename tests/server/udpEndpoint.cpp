#include "server/udpEndpoint.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace scripted {
namespace {

// With nothing delayed, the thread still wakes this often; the eventfd is what stops it.
constexpr int idlePollMs = 1000;
// Replies waiting for their delay beyond this many are dropped, like datagrams lost.
constexpr std::size_t maxPending = 4096;

std::string failure(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

sockaddr_in socketAddress(uint32_t address, uint16_t port)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(address);
    return sin;
}

} // namespace

std::unique_ptr<UdpEndpoint> UdpEndpoint::bind(uint32_t address, uint16_t port, std::string *error)
{
    FileDescriptor sock(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!sock.valid()) {
        *error = failure("socket");
        return nullptr;
    }
    sockaddr_in sin = socketAddress(address, port);
    if (::bind(sock.get(), reinterpret_cast<const sockaddr *>(&sin), sizeof sin) != 0) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &sin.sin_addr, text, sizeof text);
        *error = failure(("bind " + std::string(text) + ":" + std::to_string(port)).c_str());
        return nullptr;
    }
    socklen_t length = sizeof sin;
    if (::getsockname(sock.get(), reinterpret_cast<sockaddr *>(&sin), &length) != 0) {
        *error = failure("getsockname");
        return nullptr;
    }
    FileDescriptor wakeup(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wakeup.valid()) {
        *error = failure("eventfd");
        return nullptr;
    }
    return std::unique_ptr<UdpEndpoint>(
        new UdpEndpoint(std::move(sock), std::move(wakeup), ntohs(sin.sin_port)));
}

UdpEndpoint::UdpEndpoint(FileDescriptor socket, FileDescriptor wakeup, uint16_t port)
    : socket_(std::move(socket)), wakeup_(std::move(wakeup)), port_(port)
{
}

UdpEndpoint::~UdpEndpoint()
{
    stop();
}

bool UdpEndpoint::start(Receiver receiver, std::string *error)
{
    if (thread_.joinable()) {
        *error = "endpoint already started";
        return false;
    }
    receiver_ = std::move(receiver);
    thread_ = std::thread([this] { run(); });
    return true;
}

void UdpEndpoint::stop()
{
    if (!thread_.joinable()) {
        return;
    }
    uint64_t one = 1;
    while (::write(wakeup_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
    pending_.clear();
}

void UdpEndpoint::run()
{
    for (;;) {
        pollfd fds[] = {{socket_.get(), POLLIN, 0}, {wakeup_.get(), POLLIN, 0}};
        int ready = ::poll(fds, 2, pollTimeoutMs());
        if (ready < 0 && errno != EINTR) {
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            receiveOne();
        }
        sendDue();
    }
}

int UdpEndpoint::pollTimeoutMs() const
{
    if (pending_.empty()) {
        return idlePollMs;
    }
    auto next = std::min_element(pending_.begin(), pending_.end(),
                                 [](const Pending &a, const Pending &b) { return a.due < b.due; });
    auto wait = std::chrono::ceil<std::chrono::milliseconds>(next->due - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(wait.count(), 0, idlePollMs));
}

void UdpEndpoint::receiveOne()
{
    Bytes buffer(maxDatagram + 1);
    sockaddr_in from{};
    socklen_t fromLength = sizeof from;
    ssize_t received = ::recvfrom(socket_.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                  reinterpret_cast<sockaddr *>(&from), &fromLength);
    if (received < 0 || from.sin_family != AF_INET) {
        return;
    }
    std::optional<Outgoing> reply =
        receiver_(std::span<const uint8_t>(buffer.data(), static_cast<std::size_t>(received)), from);
    if (!reply || reply->bytes.size() > maxDatagram || pending_.size() >= maxPending) {
        return;
    }
    pending_.push_back({std::chrono::steady_clock::now() + reply->delay, std::move(reply->bytes), from});
}

void UdpEndpoint::sendDue()
{
    auto now = std::chrono::steady_clock::now();
    auto due = std::stable_partition(pending_.begin(), pending_.end(),
                                     [now](const Pending &p) { return p.due > now; });
    for (auto it = due; it != pending_.end(); ++it) {
        // Loopback sends do not block; a failed one is like a lost datagram.
        (void)::sendto(socket_.get(), it->bytes.data(), it->bytes.size(), 0,
                       reinterpret_cast<const sockaddr *>(&it->to), sizeof it->to);
    }
    pending_.erase(due, pending_.end());
}

} // namespace scripted
