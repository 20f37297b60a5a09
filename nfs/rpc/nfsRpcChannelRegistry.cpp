// The module's open channels, one per server address, port and transport, each held by the task
// handles that call there: the first hold opens it (a TCP connection within the opener's
// deadline, made outside the registry's lock), the last release closes it.
#include "rpc/nfsRpcChannel.h"

#include "rpc/nfsRpcSockets.h"

#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <vector>

namespace {

struct Registry {
    SEM_ID lock = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE); // guards open; never held over a network wait
    std::vector<NfsRpcChannel *> open;
};

Registry &registry()
{
    static Registry *const made = new Registry; // outlives every task's exit handlers
    return *made;
}

bool sameServer(const NfsRpcChannel *channel, const sockaddr_in &server, int transport)
{
    return channel->transport() == transport && channel->server().sin_addr.s_addr == server.sin_addr.s_addr &&
           channel->server().sin_port == server.sin_port;
}

// A held channel to the server, or null.
NfsRpcChannel *heldOpen(const sockaddr_in &server, int transport)
{
    for (NfsRpcChannel *channel : registry().open) {
        if (sameServer(channel, server, transport)) {
            ++channel->users;
            return channel;
        }
    }
    return nullptr;
}

// The error number of a socket that could not be opened.
int openingError(int transport)
{
    if (transport == IPPROTO_TCP && errno == ETIMEDOUT)
        return K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT; // the call's deadline passed while connecting
    return errno;
}

} // namespace

NfsRpcChannel *nfsRpcChannelOpen(const sockaddr_in &server, int transport, NfsRpcClock::time_point deadline,
                                 int *error)
{
    Registry &all = registry();
    {
        const SemGuard guard(all.lock);
        if (NfsRpcChannel *channel = heldOpen(server, transport))
            return channel;
    }
    const int socket =
        transport == IPPROTO_TCP ? nfsRpcTcpConnect(server, -1, deadline) : nfsRpcUdpSocket();
    if (socket < 0) {
        *error = openingError(transport);
        return nullptr;
    }
    std::unique_ptr<NfsRpcChannel> made(new (std::nothrow) NfsRpcChannel(server, transport, socket, true));
    if (made == nullptr || !made->ready()) {
        if (made == nullptr)
            close(socket);
        *error = K_ENOMEM;
        return nullptr;
    }
    const SemGuard guard(all.lock);
    // Another task may have opened one meanwhile: the first stays, this one closes.
    if (NfsRpcChannel *channel = heldOpen(server, transport))
        return channel;
    try {
        all.open.push_back(made.get());
    } catch (const std::bad_alloc &) {
        *error = K_ENOMEM;
        return nullptr;
    }
    made->users = 1;
    return made.release();
}

void nfsRpcChannelHold(NfsRpcChannel *channel)
{
    const SemGuard guard(registry().lock);
    ++channel->users;
}

int nfsRpcChannelHolders(const NfsRpcChannel *channel)
{
    if (channel == nullptr)
        return 0;
    const SemGuard guard(registry().lock);
    return channel->users;
}

void nfsRpcChannelRelease(NfsRpcChannel *channel)
{
    if (channel == nullptr)
        return;
    Registry &all = registry();
    {
        const SemGuard guard(all.lock);
        if (--channel->users > 0)
            return;
        std::erase(all.open, channel);
    }
    delete channel;
}
