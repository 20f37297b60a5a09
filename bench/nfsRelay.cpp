// The fault relays as a program of their own, for measuring any client through a network's
// latency: UDP and TCP relays on LISTEN at each PORT, forwarding to the same ports of SERVER,
// each datagram and record held DELAY_US microseconds each way, until interrupted. UDP only at
// a port that TCP cannot take (the portmapper's, which listens on TCP at every address).
//
//   nfsRelay LISTEN SERVER DELAY_US PORT... [-u PORT...]
//   e.g. nfsRelay 127.0.0.77 127.0.0.1 500 2049 20048 -u 111
#include "live/faultRelay.h"
#include "live/tcpFaultRelay.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s LISTEN SERVER DELAY_US PORT... [-u PORT...]\n", argv[0]);
        return 2;
    }
    const std::chrono::microseconds delay(std::atol(argv[3]));
    std::vector<uint16_t> both;
    std::vector<uint16_t> udpOnly;
    bool udp = false;
    for (int i = 4; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-u") {
            udp = true;
            continue;
        }
        const long port = std::atol(arg.c_str());
        if (port <= 0 || port > 65535) {
            std::fprintf(stderr, "%s: bad port %s\n", argv[0], arg.c_str());
            return 2;
        }
        (udp ? udpOnly : both).push_back(static_cast<uint16_t>(port));
    }
    // Block the stop signals before the relays' threads start, so that only sigwait sees them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::vector<uint16_t> udpPorts = both;
    udpPorts.insert(udpPorts.end(), udpOnly.begin(), udpOnly.end());
    std::string error;
    const auto udpRelay = live::FaultRelay::start(argv[1], argv[2], udpPorts, 1, &error);
    const auto tcpRelay = udpRelay ? live::TcpFaultRelay::start(argv[1], argv[2], both, &error) : nullptr;
    if (!udpRelay || !tcpRelay) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
        return 1;
    }
    udpRelay->setPlan({.delay = delay, .silentPorts = {}});
    tcpRelay->setPlan({.delay = delay});
    std::printf("nfsRelay: %s -> %s, %lld us each way\n", argv[1], argv[2],
                static_cast<long long>(delay.count()));
    std::fflush(stdout);
    int signal = 0;
    sigwait(&stop, &signal);
    const live::RelayCounts counts = udpRelay->counts();
    std::printf("nfsRelay: %u datagrams forwarded, %zu TCP calls\n", counts.forwarded,
                tcpRelay->calls().size());
    return 0;
}
