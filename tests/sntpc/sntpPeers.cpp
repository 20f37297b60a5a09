#include "sntpPeers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace sntptest {
namespace {

constexpr int kPollMs = 20;

void putWord(Bytes &bytes, std::size_t offset, uint32_t word)
{
    for (std::size_t i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<unsigned char>(word >> (24 - 8 * i));
}

sockaddr_in loopback(uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int boundUdpSocket(uint16_t &port)
{
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0)
        throw std::runtime_error("socket");
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        close(fd);
        throw std::runtime_error("bind");
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

unsigned char firstByte(unsigned leap, unsigned version, unsigned mode)
{
    return static_cast<unsigned char>(leap << 6 | version << 3 | mode);
}

Bytes packet(unsigned char byte0, uint32_t seconds, uint32_t fraction, unsigned char stratum,
             unsigned char poll, unsigned char precision)
{
    Bytes bytes(48, 0);
    bytes[0] = byte0;
    bytes[1] = stratum;
    bytes[2] = poll;
    bytes[3] = precision;
    putWord(bytes, 40, seconds);
    putWord(bytes, 44, fraction);
    return bytes;
}

uint16_t freePort()
{
    uint16_t port = 0;
    close(boundUdpSocket(port));
    return port;
}

Responder::Responder()
{
    fd_ = boundUdpSocket(port_);
    thread_ = std::thread([this] { serve(); });
}

Responder::~Responder()
{
    stop_ = true;
    thread_.join();
    close(fd_);
}

void putTimestamp(Bytes &bytes, std::size_t offset, uint64_t stamp)
{
    putWord(bytes, offset, static_cast<uint32_t>(stamp >> 32));
    putWord(bytes, offset + 4, static_cast<uint32_t>(stamp));
}

uint64_t transmitStamp(const Bytes &request)
{
    uint64_t stamp = 0;
    for (std::size_t i = 40; i < 48 && i < request.size(); ++i)
        stamp = stamp << 8 | request[i];
    return stamp;
}

void Responder::reply(Bytes datagram)
{
    if (datagram.empty())
        replies({});
    else
        replies({Reply{std::move(datagram)}});
}

void Responder::replies(std::vector<Reply> script)
{
    const std::lock_guard guard(lock_);
    script_ = std::move(script);
}

void Responder::delay(std::chrono::milliseconds wait)
{
    const std::lock_guard guard(lock_);
    delay_ = wait;
}

std::vector<Bytes> Responder::received() const
{
    const std::lock_guard guard(lock_);
    return received_;
}

void Responder::serve()
{
    while (!stop_) {
        pollfd watched{fd_, POLLIN, 0};
        if (poll(&watched, 1, kPollMs) <= 0)
            continue;
        Bytes request(512);
        sockaddr_in sender{};
        socklen_t senderLength = sizeof sender;
        const ssize_t length = recvfrom(fd_, request.data(), request.size(), 0,
                                        reinterpret_cast<sockaddr *>(&sender), &senderLength);
        if (length < 0)
            continue;
        request.resize(static_cast<std::size_t>(length));
        std::vector<Reply> script;
        std::chrono::milliseconds wait{0};
        {
            const std::lock_guard guard(lock_);
            received_.push_back(request);
            script = script_;
            wait = delay_;
        }
        ++requests_;
        std::this_thread::sleep_for(wait);
        for (Reply &answer : script) {
            if (answer.echo && answer.datagram.size() >= 32)
                putTimestamp(answer.datagram, 24, transmitStamp(request) ^ answer.originateFlip);
            sendto(fd_, answer.datagram.data(), answer.datagram.size(), 0,
                   reinterpret_cast<sockaddr *>(&sender), senderLength);
        }
    }
}

Announcer::Announcer(const std::string &address, uint16_t port, Bytes datagram)
    : fd_(socket(AF_INET, SOCK_DGRAM, 0)), address_(address), port_(port), datagram_(std::move(datagram))
{
    if (fd_ < 0)
        throw std::runtime_error("socket");
    in_addr outgoing{};
    outgoing.s_addr = htonl(INADDR_LOOPBACK);
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_IF, &outgoing, sizeof outgoing);
    const unsigned char loop = 1;
    setsockopt(fd_, IPPROTO_IP, IP_MULTICAST_LOOP, &loop, sizeof loop);
    thread_ = std::thread([this] { announce(); });
}

Announcer::~Announcer()
{
    stop_ = true;
    thread_.join();
    close(fd_);
}

void Announcer::announce()
{
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port_);
    inet_pton(AF_INET, address_.c_str(), &destination.sin_addr);
    while (!stop_) {
        sendto(fd_, datagram_.data(), datagram_.size(), 0, reinterpret_cast<sockaddr *>(&destination),
               sizeof destination);
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
}

} // namespace sntptest
