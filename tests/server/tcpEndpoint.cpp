#include "server/tcpEndpoint.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

namespace scripted {
namespace {

constexpr uint32_t lastFragment = 0x80000000u;
// A record longer than this (the largest call a test sends, with room) ends its connection.
constexpr std::size_t maxRecord = 4u << 20;
constexpr int idlePollMs = 1000;

std::string failure(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

bool sendAll(int fd, const uint8_t *data, std::size_t length)
{
    while (length > 0) {
        const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        data += sent;
        length -= static_cast<std::size_t>(sent);
    }
    return true;
}

uint32_t wordAt(const Bytes &bytes, std::size_t at)
{
    uint32_t word = 0;
    std::memcpy(&word, bytes.data() + at, 4);
    return ntohl(word);
}

// The first whole record held (its fragments joined) and the bytes it took; 0 bytes when it
// is not all there. *tooLong when its fragments announce more than maxRecord.
std::size_t takeRecord(const Bytes &held, Bytes *record, bool *tooLong)
{
    record->clear();
    std::size_t at = 0;
    for (;;) {
        if (held.size() < at + 4)
            return 0;
        const uint32_t mark = wordAt(held, at);
        const std::size_t length = mark & ~lastFragment;
        if (record->size() + length > maxRecord) {
            *tooLong = true;
            return 0;
        }
        if (held.size() < at + 4 + length)
            return 0;
        record->insert(record->end(), held.begin() + static_cast<std::ptrdiff_t>(at + 4),
                       held.begin() + static_cast<std::ptrdiff_t>(at + 4 + length));
        at += 4 + length;
        if ((mark & lastFragment) != 0)
            return at;
    }
}

} // namespace

std::unique_ptr<TcpEndpoint> TcpEndpoint::listen(uint32_t address, uint16_t port, std::string *error)
{
    FileDescriptor sock(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!sock.valid()) {
        *error = failure("socket");
        return nullptr;
    }
    const int on = 1;
    ::setsockopt(sock.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(address);
    if (::bind(sock.get(), reinterpret_cast<const sockaddr *>(&sin), sizeof sin) != 0 ||
        ::listen(sock.get(), 16) != 0) {
        *error = failure("listen on TCP port " + std::to_string(port));
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
    return std::unique_ptr<TcpEndpoint>(
        new TcpEndpoint(std::move(sock), std::move(wakeup), ntohs(sin.sin_port)));
}

TcpEndpoint::TcpEndpoint(FileDescriptor listener, FileDescriptor wakeup, uint16_t port)
    : listener_(std::move(listener)), wakeup_(std::move(wakeup)), port_(port)
{
}

TcpEndpoint::~TcpEndpoint()
{
    stop();
}

bool TcpEndpoint::start(Receiver receiver, std::string *error)
{
    if (thread_.joinable()) {
        *error = "endpoint already started";
        return false;
    }
    receiver_ = std::move(receiver);
    thread_ = std::thread([this] { run(); });
    return true;
}

void TcpEndpoint::stop()
{
    if (!thread_.joinable())
        return;
    uint64_t one = 1;
    while (::write(wakeup_.get(), &one, sizeof one) < 0 && errno == EINTR) {
    }
    thread_.join();
    connections_.clear();
}

void TcpEndpoint::run()
{
    for (;;) {
        std::vector<pollfd> fds{{wakeup_.get(), POLLIN, 0}, {listener_.get(), POLLIN, 0}};
        for (const Connection &connection : connections_)
            fds.push_back({connection.fd.get(), POLLIN, 0});
        if (::poll(fds.data(), fds.size(), idlePollMs) < 0 && errno != EINTR)
            return;
        if ((fds[0].revents & POLLIN) != 0)
            return;
        std::size_t index = 2;
        for (auto it = connections_.begin(); it != connections_.end(); ++index) {
            if (fds[index].revents != 0 && !serve(*it)) {
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
        if ((fds[1].revents & POLLIN) != 0)
            acceptOne();
    }
}

void TcpEndpoint::acceptOne()
{
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    FileDescriptor fd(::accept4(listener_.get(), reinterpret_cast<sockaddr *>(&peer), &length, SOCK_CLOEXEC));
    if (fd.valid())
        connections_.push_back({std::move(fd), peer, {}});
}

bool TcpEndpoint::serve(Connection &connection)
{
    uint8_t chunk[65536];
    const ssize_t got = ::recv(connection.fd.get(), chunk, sizeof chunk, MSG_DONTWAIT);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (got == 0)
        return false;
    connection.held.insert(connection.held.end(), chunk, chunk + got);
    Bytes record;
    bool tooLong = false;
    while (std::size_t taken = takeRecord(connection.held, &record, &tooLong)) {
        connection.held.erase(connection.held.begin(),
                              connection.held.begin() + static_cast<std::ptrdiff_t>(taken));
        const std::optional<Outgoing> reply = receiver_(std::span<const uint8_t>(record), connection.peer);
        if (!reply)
            continue;
        Bytes out(4);
        const uint32_t mark = htonl(lastFragment | static_cast<uint32_t>(reply->bytes.size()));
        std::memcpy(out.data(), &mark, 4);
        out.insert(out.end(), reply->bytes.begin(), reply->bytes.end());
        if (!sendAll(connection.fd.get(), out.data(), out.size()))
            return false;
    }
    return !tooLong;
}

} // namespace scripted
