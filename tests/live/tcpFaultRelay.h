// A TCP relay between the client and a real server that breaks record-marked RPC streams in
// the ways a network or a server can: connections reset mid-call, a server that accepts and
// never answers, replies cut into many small fragments each sent on its own, a fragment header
// announcing more than any buffer, connections closed while idle, and a fixed latency each way.
// It listens on its own loopback address at each port it is given and forwards to the same
// port of the server; one thread per connection; calls and replies are taken whole, by their
// record marks.
#ifndef TESTS_LIVE_TCPFAULTRELAY_H
#define TESTS_LIVE_TCPFAULTRELAY_H

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace live {

struct TcpFaultPlan {
    bool silent = false;            // calls are read and dropped: nothing ever answers
    unsigned resetCalls = 0;        // the next N calls reach the server, then the client's
                                    // connection is reset before the answer
    std::size_t fragmentBytes = 0;  // non-zero: each reply re-framed into fragments of at most
                                    // this many bytes, each in a send of its own
    bool oversizeNextReply = false; // the next reply's fragment header announces 2^31 - 1 bytes
    bool foreignFirst = false;      // each reply preceded by a copy under another transaction id
    // Each call and each reply is held this long before it is passed on; the records behind it
    // are read and held meanwhile, so calls in flight overlap as on a network with that latency.
    std::chrono::microseconds delay{0};
};

// A call seen on its way to the server: the connection it came on (counted from 1) and its
// transaction id.
struct TcpRelayCall {
    unsigned connection;
    uint32_t xid;
};

class TcpFaultRelay {
public:
    // Null on failure, with the reason in *error.
    static std::unique_ptr<TcpFaultRelay> start(const std::string &listenAddress,
                                                const std::string &serverAddress,
                                                const std::vector<uint16_t> &ports, std::string *error);
    TcpFaultRelay(const TcpFaultRelay &) = delete;
    TcpFaultRelay &operator=(const TcpFaultRelay &) = delete;
    ~TcpFaultRelay();

    void setPlan(const TcpFaultPlan &plan);
    // Closes every open connection in order (as a server closes idle ones).
    void closeAll();
    std::vector<TcpRelayCall> calls() const;
    unsigned connections() const;
    unsigned resets() const;

    struct Impl;

private:
    explicit TcpFaultRelay(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace live

#endif
