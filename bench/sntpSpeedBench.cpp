// The SNTP client's query against chrony (tests/peers/with-chrony.sh names its port) and its
// floor, a bare UDP exchange of the same 48-byte packets on a socket opened and closed per
// query as the client's own is; printed as JSON lines for bench/report.py.
//
//   sntpSpeedBench [--runs N] [--quick]
#include "benchSupport.h"

#include <kernel/sysLib.h>
#include <tovelle/sntpcLib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

bool bareExchange(uint16_t port)
{
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0)
        return false;
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(port);
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    unsigned char packet[48] = {0x1b}; // version 3, client mode
    bool ok = sendto(sock, packet, sizeof packet, 0, reinterpret_cast<sockaddr *>(&server), sizeof server) ==
              static_cast<ssize_t>(sizeof packet);
    pollfd wait{sock, POLLIN, 0};
    ok = ok && poll(&wait, 1, 1000) == 1 &&
         recv(sock, packet, sizeof packet, 0) == static_cast<ssize_t>(sizeof packet);
    close(sock);
    return ok;
}

} // namespace

int main(int argc, char **argv)
{
    int runs = 5;
    int exchanges = 2000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") {
            runs = 1;
            exchanges = 5;
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: sntpSpeedBench [--runs N] [--quick]\n");
            return 2;
        }
    }
    const char *portText = std::getenv("SNTPC_CHRONY_PORT");
    if (portText == nullptr) {
        std::fprintf(stderr, "sntpSpeedBench: run through tests/peers/with-chrony.sh\n");
        return 2;
    }
    const auto port = static_cast<uint16_t>(std::atoi(portText));
    sntpcInit(port, nullptr);
    const auto timeout = static_cast<uint32_t>(sysClkRateGet());
    // The server's first answers are slow: one exchange of each kind before timing.
    timespec warm{};
    int failed = sntpcTimeGet("127.0.0.1", timeout, &warm) != 0 || !bareExchange(port);
    std::vector<double> ours;
    std::vector<double> bare;
    for (int run = 0; run < runs; ++run) {
        ours.push_back(bench::timed([&] {
                           timespec now{};
                           for (int i = 0; i < exchanges; ++i)
                               failed += sntpcTimeGet("127.0.0.1", timeout, &now) != 0;
                       }).wall /
                       exchanges);
        bare.push_back(bench::timed([&] {
                           for (int i = 0; i < exchanges; ++i)
                               failed += !bareExchange(port);
                       }).wall /
                       exchanges);
    }
    const double query = bench::median(ours);
    const double floor = bench::median(bare);
    bench::Record("SNTP query vs bare UDP exchange", "sntpcTimeGet against chrony on loopback")
        .number("queryUs", query * 1e6)
        .number("bareUs", floor * 1e6)
        .number("ratio", query > 0 ? floor / query : 0)
        .flag("met", query > 0 && floor / query >= 0.9)
        .number("failed", failed)
        .print();
    return failed == 0 ? 0 : 1;
}
