// A TCP socket listening on loopback with one thread that accepts connections, takes the
// record-marked calls on each, hands every whole record to a callback (the same as the UDP
// endpoint's) and sends back what it returns as one record. Replies go at once: delays are
// for datagrams.
#ifndef TESTS_SERVER_TCPENDPOINT_H
#define TESTS_SERVER_TCPENDPOINT_H

#include "server/fileDescriptor.h"
#include "server/udpEndpoint.h"

#include <netinet/in.h>

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <thread>

namespace scripted {

class TcpEndpoint {
public:
    using Receiver = UdpEndpoint::Receiver;

    // Listens on ADDRESS:PORT (host byte order; port 0 for an ephemeral one). Null on failure,
    // with the reason in *error.
    static std::unique_ptr<TcpEndpoint> listen(uint32_t address, uint16_t port, std::string *error);

    TcpEndpoint(const TcpEndpoint &) = delete;
    TcpEndpoint &operator=(const TcpEndpoint &) = delete;
    ~TcpEndpoint();

    bool start(Receiver receiver, std::string *error);
    // Stops and joins the thread and closes every connection.
    void stop();

    uint16_t port() const { return port_; }

private:
    struct Connection {
        FileDescriptor fd;
        sockaddr_in peer;
        Bytes held; // bytes received and not yet a whole record
    };

    TcpEndpoint(FileDescriptor listener, FileDescriptor wakeup, uint16_t port);
    void run();
    void acceptOne();
    // Reads what waits and answers every whole record; false when the connection is done.
    bool serve(Connection &connection);

    FileDescriptor listener_;
    FileDescriptor wakeup_; // eventfd that ends the thread
    uint16_t port_;
    Receiver receiver_;
    std::list<Connection> connections_; // touched by the thread only
    std::thread thread_;
};

} // namespace scripted

#endif
