// The restart signs of lock managers' servers (nlmRestart.h).
#include "lock/nlmRestart.h"

#include <kernel/semGuard.h>
#include <kernel/semLib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

struct Server {
    std::string host;
    uint32_t seen = 0;      // restarts seen
    uint32_t reclaimed = 0; // the restart the last pass was for
    bool inGrace = false;   // a grace answer counted, no other answer since
};

constexpr std::size_t kVerfSize = 8;

struct Verifier {
    const void *dev;
    std::array<char, kVerfSize> verf;
};

// Guards the records below; taken alone, never across a call.
SEM_ID restartSem()
{
    static const SEM_ID sem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    return sem;
}

// Guarded by restartSem; never destroyed (tasks may call while exit handlers run).
std::vector<Server> &servers()
{
    static auto *list = new std::vector<Server>;
    return *list;
}

std::vector<Verifier> &verifiers()
{
    static auto *list = new std::vector<Verifier>;
    return *list;
}

// Whether any host has a restart not reclaimed, or is known in its grace period: the calls
// look no further while neither.
std::atomic<uint32_t> pendingHosts{0};
std::atomic<uint32_t> graceHosts{0};

// The host's record, made when MAKE; null when there is none (or no memory for one).
Server *serverOf(const char *host, bool make)
{
    std::vector<Server> &all = servers();
    const auto known = std::find_if(all.begin(), all.end(), [host](const Server &s) { return s.host == host; });
    if (known != all.end())
        return &*known;
    if (!make)
        return nullptr;
    try {
        all.push_back(Server{host});
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
    return &all.back();
}

void restarted(const char *host)
{
    Server *server = serverOf(host, true);
    if (server == nullptr)
        return;
    if (server->seen == server->reclaimed)
        ++pendingHosts;
    ++server->seen;
}

} // namespace

void nlmVerifierSeen(const void *dev, const char *host, const char *verf, std::size_t length)
{
    if (dev == nullptr || host == nullptr || length != kVerfSize)
        return;
    const SemGuard guard(restartSem());
    if (!guard.held())
        return;
    std::vector<Verifier> &all = verifiers();
    const auto known = std::find_if(all.begin(), all.end(), [dev](const Verifier &v) { return v.dev == dev; });
    if (known == all.end()) {
        try {
            all.push_back(Verifier{dev, {}});
        } catch (const std::bad_alloc &) {
            return;
        }
        std::memcpy(all.back().verf.data(), verf, kVerfSize);
        return;
    }
    if (std::memcmp(known->verf.data(), verf, kVerfSize) == 0)
        return;
    std::memcpy(known->verf.data(), verf, kVerfSize);
    restarted(host);
}

void nlmVerifierForget(const void *dev)
{
    const SemGuard guard(restartSem());
    if (!guard.held())
        return;
    std::vector<Verifier> &all = verifiers();
    all.erase(std::remove_if(all.begin(), all.end(), [dev](const Verifier &v) { return v.dev == dev; }), all.end());
}

void nlmGraceAnswered(const char *host)
{
    const SemGuard guard(restartSem());
    if (!guard.held())
        return;
    Server *server = serverOf(host, true);
    if (server == nullptr || server->inGrace)
        return;
    server->inGrace = true;
    ++graceHosts;
    restarted(host);
}

void nlmGraceOver(const char *host)
{
    if (graceHosts == 0)
        return;
    const SemGuard guard(restartSem());
    if (!guard.held())
        return;
    Server *server = serverOf(host, false);
    if (server != nullptr && server->inGrace) {
        server->inGrace = false;
        --graceHosts;
    }
}

bool nlmRestartDue(const char *host, uint32_t *restarts)
{
    if (pendingHosts == 0 || host == nullptr)
        return false;
    const SemGuard guard(restartSem());
    if (!guard.held())
        return false;
    const Server *server = serverOf(host, false);
    if (server == nullptr || server->seen == server->reclaimed)
        return false;
    *restarts = server->seen;
    return true;
}

void nlmRestartReclaimed(const char *host, uint32_t restarts)
{
    const SemGuard guard(restartSem());
    if (!guard.held())
        return;
    Server *server = serverOf(host, false);
    if (server == nullptr || server->reclaimed == server->seen)
        return;
    server->reclaimed = restarts;
    if (server->reclaimed == server->seen)
        --pendingHosts;
}
