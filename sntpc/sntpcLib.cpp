// The client's entry points: checking the arguments, resolving the server, choosing the mode.
#include "sntpcInternal.h"

#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>

#include <arpa/inet.h>

extern "C" {
uint16_t sntpcPort;
uint32_t sntpcVersion = 1;
}

namespace {

constexpr uint16_t kNtpPort = 123;
constexpr uint32_t kTopBit = 0x80000000u;

// The server's IPv4 address in network order, from the host table or dotted decimal.
bool serverResolve(const char *serverName, uint32_t &address)
{
    const int fromTable = hostGetByName(serverName);
    if (fromTable != -1) {
        address = static_cast<uint32_t>(fromTable);
        return true;
    }
    const in_addr_t dotted = inet_addr(serverName);
    if (dotted == INADDR_NONE)
        return false;
    address = dotted;
    return true;
}

int invalidParameter()
{
    errnoSet(SNTPC_ERR_INVALID_PARAMETER);
    return -1;
}

int timeGet(const char *serverName, uint32_t timeout, struct timespec *pCurrTime, const char *interfaceName,
            unsigned char *pServerInfo)
{
    // The words are read once, so a concurrent change cannot split one call between two values.
    const uint16_t port = sntpcPort;
    if (serverName == nullptr)
        return tovelle::sntpcListen(port, timeout, pCurrTime, interfaceName, pServerInfo);
    // Only requests carry the version, so listen mode works whatever the word holds.
    const uint32_t version = sntpcVersion;
    if (!tovelle::requestVersionValid(version))
        return invalidParameter();
    uint32_t address = 0;
    if (!serverResolve(serverName, address)) {
        errnoSet(SNTPC_ERR_INVALID_ADDRESS);
        return -1;
    }
    return tovelle::sntpcServerQuery(address, port, version, timeout, pCurrTime, pServerInfo);
}

} // namespace

extern "C" {

int sntpcInit(uint16_t port, const char * /*interfaceName*/)
{
    sntpcPort = port;
    return 0;
}

__attribute__((constructor)) void sntpcLoadInit(void)
{
    (void)sntpcInit(kNtpPort, nullptr);
}

int sntpcTimeGet(const char *serverName, uint32_t timeout, struct timespec *pCurrTime)
{
    if (pCurrTime == nullptr || ((timeout & kTopBit) != 0 && timeout != SNTPC_WAIT_FOREVER))
        return invalidParameter();
    return timeGet(serverName, timeout, pCurrTime, nullptr, nullptr);
}

int mSntpcTimeGet(const char *serverName, uint32_t timeout, struct timespec *pCurrTime,
                  const char *interfaceName, unsigned char *pServerInfo)
{
    if (pCurrTime == nullptr)
        return invalidParameter();
    // In server mode the interface name plays no part.
    return timeGet(serverName, timeout, pCurrTime, serverName == nullptr ? interfaceName : nullptr,
                   pServerInfo);
}
}
