// Runs a scripted server for manual checks: a portmapper on port 111 of the given address and
// a test program that answers NULL, until interrupted.
//   scriptedServer ADDRESS [PROGRAM [VERSION [PORT]]]
#include "server/scriptedServer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr uint32_t defaultProgram = 0x20000001; // user-defined program range
constexpr uint32_t defaultVersion = 1;

bool parseWord(const char *text, unsigned long limit, unsigned long *value)
{
    char *end = nullptr;
    *value = std::strtoul(text, &end, 0);
    return end != text && *end == '\0' && *value <= limit;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 5) {
        std::fprintf(stderr, "usage: %s ADDRESS [PROGRAM [VERSION [PORT]]]\n", argv[0]);
        return 2;
    }
    unsigned long program = defaultProgram;
    unsigned long version = defaultVersion;
    unsigned long port = 0;
    if ((argc > 2 && !parseWord(argv[2], UINT32_MAX, &program)) ||
        (argc > 3 && !parseWord(argv[3], UINT32_MAX, &version)) ||
        (argc > 4 && !parseWord(argv[4], 65535, &port))) {
        std::fprintf(stderr, "%s: bad number\n", argv[0]);
        return 2;
    }

    // Block the stop signals before any thread starts, so that only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    std::string error;
    scripted::ServerOptions options{argv[1], static_cast<uint16_t>(port), 111};
    auto server = scripted::ScriptedServer::start(options, &error);
    if (!server) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.c_str());
        return 1;
    }
    auto prog = static_cast<uint32_t>(program);
    auto vers = static_cast<uint32_t>(version);
    server->handle(prog, vers, 0, [](const scripted::RpcCall &, XDR *) { return scripted::Reply::ok(); });
    std::printf("scripted server on %s: portmapper port %u, program %u version %u on UDP port %u\n",
                server->address().c_str(), server->portmapperPort(), prog, vers, server->programPort());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    std::printf("calls: %llu NULL, %llu malformed\n",
                static_cast<unsigned long long>(server->callCount(prog, vers, 0)),
                static_cast<unsigned long long>(server->malformedCount()));
    return 0;
}
