// Holds of mounted devices on their server's channel (rpc/nfsRpcChannel.h).
#ifndef NFS_RPC_NFSRPCDEVICEHOLDS_H
#define NFS_RPC_NFSRPCDEVICEHOLDS_H

// DEVICE holds the channel of the calling task's NFS handle (the one its mount's calls took),
// until nfsRpcDeviceRelease; nothing when the task has no NFS handle.
void nfsRpcDeviceHold(const void *device);
// Gives up DEVICE's hold, if it has one; the channel closes when nothing else holds it.
void nfsRpcDeviceRelease(const void *device);

#endif
