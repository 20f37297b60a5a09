// A UDP relay between the client and a real server that loses, delays, reorders and
// duplicates datagrams in both directions, at random from a seed. It listens on its own
// loopback address at each port it is given and forwards to the same port of the server, so
// that the portmapper's answers (ports of the server) lead the client back through the relay.
// A delay holds each datagram in a queue until it is due, so that datagrams in flight overlap
// as on a network with that latency: a fixed delay of 500 us each way is a 1 ms round trip.
#ifndef TESTS_LIVE_FAULTRELAY_H
#define TESTS_LIVE_FAULTRELAY_H

#include <netinet/in.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace live {

struct FaultPlan {
    double loss = 0;                     // each datagram is lost with this chance
    double duplicate = 0;                // each datagram that goes through is sent twice with this chance
    std::chrono::microseconds delay{0};  // every datagram waits this long...
    std::chrono::microseconds jitter{0}; // ...and up to this much more: later ones overtake it
    std::vector<uint16_t> silentPorts;   // server ports whose traffic is all lost
};

struct RelayCounts {
    unsigned forwarded = 0;
    unsigned lost = 0;
    unsigned duplicated = 0;
};

class FaultRelay {
public:
    // Null on failure, with the reason in *error.
    static std::unique_ptr<FaultRelay> start(const std::string &listenAddress,
                                             const std::string &serverAddress,
                                             const std::vector<uint16_t> &ports, uint32_t seed,
                                             std::string *error);
    FaultRelay(const FaultRelay &) = delete;
    FaultRelay &operator=(const FaultRelay &) = delete;
    ~FaultRelay();

    void setPlan(const FaultPlan &plan);
    RelayCounts counts() const;

    struct Impl;

private:
    explicit FaultRelay(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace live

#endif
