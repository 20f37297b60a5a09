// The channels that mounted devices hold, so that a server's socket or connection stays open
// from one task of the device to the next (each shell command runs in a task of its own, and a
// connection opened per task would go through reserved ports and handshakes): the mount takes
// a hold on the channel its NFS calls took, the device's release gives it up.
#include "rpc/nfsRpcChannel.h"
#include "rpc/nfsRpcDeviceHolds.h"

#include <brisnel/nfsRpcLib.h>
#include <kernel/semGuard.h>

#include <algorithm>
#include <new>
#include <vector>

namespace {

constexpr uint32_t kNfsProgram = 100003;

struct DeviceHold {
    const void *device;
    NfsRpcChannel *channel;
};

struct DeviceHolds {
    SEM_ID lock = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE); // guards holds; no call under it
    std::vector<DeviceHold> holds;
};

DeviceHolds &deviceHolds()
{
    static DeviceHolds *const made = new DeviceHolds; // outlives every task's exit handlers
    return *made;
}

} // namespace

void nfsRpcDeviceHold(const void *device)
{
    const NfsRpcClient *client = nfsRpcClientCurrent();
    if (device == nullptr || client == nullptr || client->valid == 0 || client->progNum != kNfsProgram)
        return; // no NFS call of the mount went out on this task's handle: nothing to keep open
    NfsRpcChannel *channel = nfsRpcHandleChannel(client->pClient);
    if (channel == nullptr)
        return;
    DeviceHolds &all = deviceHolds();
    const SemGuard guard(all.lock);
    try {
        all.holds.push_back({device, channel});
    } catch (const std::bad_alloc &) {
        return; // the device works without: its tasks' handles hold the channel while they call
    }
    nfsRpcChannelHold(channel);
}

void nfsRpcDeviceRelease(const void *device)
{
    NfsRpcChannel *channel = nullptr;
    {
        DeviceHolds &all = deviceHolds();
        const SemGuard guard(all.lock);
        const auto found = std::find_if(all.holds.begin(), all.holds.end(),
                                        [device](const DeviceHold &hold) { return hold.device == device; });
        if (found == all.holds.end())
            return;
        channel = found->channel;
        all.holds.erase(found);
    }
    nfsRpcChannelRelease(channel);
}
