// How large a client handle's buffers must be for the largest transfer the words allow.
#include "core/nfsCallSettings.h"
#include "rpc/nfsRpcClient.h"

#include "core/nfsConfig.h"

#include <netinet/in.h>

#include <algorithm>

namespace {

// The most a UDP datagram over IPv4 carries.
constexpr uint32_t kLargestDatagram = 65507;
// Room for everything around the data: the call header with the largest credential and
// verifier (400 bytes each), a version 3 handle, offsets, attributes and counts.
constexpr uint32_t kHeaderRoom = 1024;

} // namespace

uint32_t nfsRpcTransferLimit(int transport)
{
    return transport == IPPROTO_TCP ? NFS_TCP_MAX_TRANSFER : kLargestDatagram - kHeaderRoom;
}

uint32_t nfsRpcLargestTransfer(int transport)
{
    const int32_t rddir = nfsWordGet(nfs3MaxRddirSz);
    const uint32_t directory = rddir > 0 ? static_cast<uint32_t>(rddir) : 0;
    const uint32_t largest = std::max(nfsCallTransferMost(), directory);
    return std::min(largest, nfsRpcTransferLimit(transport));
}

uint32_t nfsRpcBufferSize(int transport)
{
    return nfsRpcLargestTransfer(transport) + kHeaderRoom;
}

int nfsRpcCurrentTransport()
{
    const NfsRpcClient *client = nfsRpcClientCurrent();
    return client != nullptr && client->valid != 0 && client->transport == IPPROTO_TCP ? IPPROTO_TCP
                                                                                       : IPPROTO_UDP;
}
