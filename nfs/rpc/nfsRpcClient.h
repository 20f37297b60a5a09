// Module-private parts of the remote-call path.
#ifndef NFS_CORE_NFSRPCCLIENT_H
#define NFS_CORE_NFSRPCCLIENT_H

#include <brisnel/nfsRpcLib.h>
#include <kernel/taskLib.h>

// The largest data or directory count that the words allow in one message over TRANSPORT
// (IPPROTO_UDP: a datagram; IPPROTO_TCP: up to NFS_TCP_MAX_TRANSFER), and the send and
// receive buffer a handle needs to carry it with its headers.
uint32_t nfsRpcTransferLimit(int transport);
uint32_t nfsRpcLargestTransfer(int transport);
uint32_t nfsRpcBufferSize(int transport);
// IPPROTO_TCP when the task's handle is a valid TCP one, else IPPROTO_UDP (the smaller limit).
int nfsRpcCurrentTransport();

// Tears down a record's handle (the record may be null); the record stays.
void nfsClientCleanUp(NfsRpcClient *client);
// Registered with the kernel: releases a dying task's handle and record.
void nfsDeleteHook(TaskRecord *dyingTask);

#endif
