// A UDP socket bound on loopback with one thread that receives datagrams, hands each to a
// callback and sends back what it returns, at once or after a delay.
#ifndef TESTS_SERVER_UDPENDPOINT_H
#define TESTS_SERVER_UDPENDPOINT_H

#include "server/fileDescriptor.h"
#include "server/rpcMessage.h"

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace scripted {

struct Outgoing {
    Bytes bytes;
    std::chrono::milliseconds delay{0};
};

class UdpEndpoint {
public:
    using Receiver = std::function<std::optional<Outgoing>(std::span<const uint8_t>, const sockaddr_in &)>;

    // Binds ADDRESS:PORT (host byte order; port 0 for an ephemeral one). Null on failure,
    // with the reason in *error.
    static std::unique_ptr<UdpEndpoint> bind(uint32_t address, uint16_t port, std::string *error);

    UdpEndpoint(const UdpEndpoint &) = delete;
    UdpEndpoint &operator=(const UdpEndpoint &) = delete;
    ~UdpEndpoint();

    // Starts the receiving thread; RECEIVER runs on it for every datagram.
    bool start(Receiver receiver, std::string *error);
    // Stops and joins the thread; replies still waiting for their delay are dropped.
    void stop();

    uint16_t port() const { return port_; }

private:
    struct Pending {
        std::chrono::steady_clock::time_point due;
        Bytes bytes;
        sockaddr_in to;
    };

    UdpEndpoint(FileDescriptor socket, FileDescriptor wakeup, uint16_t port);
    void run();
    void receiveOne();
    void sendDue();
    int pollTimeoutMs() const;

    FileDescriptor socket_;
    FileDescriptor wakeup_; // eventfd that ends the thread
    uint16_t port_;
    Receiver receiver_;
    std::vector<Pending> pending_; // touched by the receiving thread only
    std::thread thread_;
};

} // namespace scripted

#endif
