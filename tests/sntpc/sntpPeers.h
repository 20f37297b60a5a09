// Scripted SNTP peers on loopback: a responder that answers requests with a datagram of the
// test's choosing, and an announcer that keeps sending one datagram to an address and port.
#ifndef TESTS_SNTPC_SNTPPEERS_H
#define TESTS_SNTPC_SNTPPEERS_H

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sntptest {

using Bytes = std::vector<unsigned char>;

// A packet with the given first byte, stratum, poll, precision and transmit timestamp.
Bytes packet(unsigned char byte0, uint32_t seconds, uint32_t fraction, unsigned char stratum = 2,
             unsigned char poll = 6, unsigned char precision = 0xEC);

// Byte 0 from its three fields.
unsigned char firstByte(unsigned leap, unsigned version, unsigned mode);

// A local UDP port that was free a moment ago.
uint16_t freePort();

// Writes a 64-bit timestamp at `offset`, big-endian (24 originate, 32 receive, 40 transmit).
void putTimestamp(Bytes &bytes, std::size_t offset, uint64_t stamp);

// A request's transmit timestamp (bytes 40 to 47), as the client sent it.
uint64_t transmitStamp(const Bytes &request);

// One datagram sent back to a request. Its originate timestamp (bytes 24 to 31) is the
// request's transmit timestamp with `originateFlip` flipped, or, with echo false, as written.
struct Reply {
    Bytes datagram;
    bool echo = true;
    uint64_t originateFlip = 0;
};

class Responder {
public:
    Responder(); // on 127.0.0.1, a port of the system's choosing
    ~Responder();
    Responder(const Responder &) = delete;
    Responder &operator=(const Responder &) = delete;

    uint16_t port() const { return port_; }
    // What to send back to each request, its originate echoing the request; an empty reply
    // sends nothing.
    void reply(Bytes datagram);
    // The datagrams to send back to each request, in order.
    void replies(std::vector<Reply> script);
    // How long to wait before answering.
    void delay(std::chrono::milliseconds wait);
    int requests() const { return requests_.load(); }
    // Every request received so far, as it arrived.
    std::vector<Bytes> received() const;

private:
    void serve();
    int fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    mutable std::mutex lock_; // guards script_, delay_ and received_
    std::vector<Reply> script_;
    std::chrono::milliseconds delay_{0};
    std::vector<Bytes> received_;
    std::thread thread_;
};

class Announcer {
public:
    // Sends `datagram` to address:port every few milliseconds until destroyed; for a multicast
    // address, out of the loopback interface.
    Announcer(const std::string &address, uint16_t port, Bytes datagram);
    ~Announcer();
    Announcer(const Announcer &) = delete;
    Announcer &operator=(const Announcer &) = delete;

private:
    void announce();
    int fd_ = -1;
    std::string address_;
    uint16_t port_;
    Bytes datagram_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace sntptest

#endif
