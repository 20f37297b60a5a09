// Module-private: how the operations make their calls. Each NFS program version is a peer of
// its own; a failed call leaves its error number for the exported routine to set.
#ifndef NFS_OPS_NFSOPSCALL_H
#define NFS_OPS_NFSOPSCALL_H

#include "rpc/nfsRemoteCall.h"
#include "core/nfsResult.h"

#include <brisnel/mount3Xdr.h>
#include <brisnel/nfs2Xdr.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>

#include <cstdint>

namespace nfsops {

inline nfsrpc::Peer nfs3Peer(const char *host)
{
    return {host, NFS_PROGRAM, NFS_V3};
}
inline nfsrpc::Peer nfs2Peer(const char *host)
{
    return {host, NFS_PROGRAM, NFS_V2};
}
inline nfsrpc::Peer mountPeer(const char *host, uint32_t version)
{
    return {host, MOUNT_PROGRAM, version};
}

// On the C convention, for the data transfers: true for an NFS_OK (NFS3_OK) status; otherwise
// false with the error number set from it.
inline bool statusOk(nfsstat status)
{
    if (status == NFS_OK)
        return true;
    errnoSet(NFS_ERRNO_BASE | static_cast<int>(status));
    return false;
}

// XDR void: a procedure without arguments or results.
inline bool_t noData(XDR * /*xdrs*/, void ** /*nothing*/)
{
    return TRUE;
}

// The pointer arguments of an exported routine given, else a failure with 0x300016.
template <typename... Pointers> nfsres::Status given(const Pointers *...pointers)
{
    if ((... && (pointers != nullptr)))
        return {};
    return nfsres::Fail{NFS_ERRNO_INVAL};
}
// The task's client record ready.
inline nfsres::Status clientReady()
{
    return nfsres::statusOf(nfsres::viaErrno(nfsInit));
}
// Both, in that order.
template <typename... Pointers> nfsres::Status ready(const Pointers *...pointers)
{
    if (!(... && (pointers != nullptr)))
        return nfsres::Fail{NFS_ERRNO_INVAL};
    return clientReady();
}

// An NFS_OK (NFS3_OK) status, or its failure with the status as error number.
template <typename Status> nfsres::Status statusOf(Status status)
{
    return nfsres::statusOf(status == NFS_OK, NFS_ERRNO_BASE | static_cast<int>(status));
}

// The call's failure, or its reply's status as statusOf gives it.
template <typename Res, typename Status>
nfsres::Status outcome(const nfsrpc::Reply<Res> &reply, Status status)
{
    if (!reply.ok())
        return nfsres::Fail{reply.error()};
    return statusOf(status);
}
// The same for a reply that is a bare status.
template <typename Res> nfsres::Status outcome(const nfsrpc::Reply<Res> &reply)
{
    if (!reply.ok())
        return nfsres::Fail{reply.error()};
    return statusOf(*reply);
}

// On the C convention, for the data transfers: true when the call failed, with its error number set.
template <typename Res> bool failed(const nfsrpc::Reply<Res> &reply)
{
    if (reply.ok())
        return false;
    errnoSet(reply.error());
    return true;
}

} // namespace nfsops

#endif
