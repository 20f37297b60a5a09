// A call message encoded for a gathering send: the large opaque pieces of its arguments (a
// WRITE's data) are not copied into the message buffer but sent from where they lie, each
// between the buffer's bytes before and after it. The bytes on the wire are the same as those
// of nfsRpcEncodeCall.
#ifndef NFS_RPC_NFSRPCGATHER_H
#define NFS_RPC_NFSRPCGATHER_H

#include "rpc/nfsRpcExchange.h"

#include <sys/uio.h>

#include <cstddef>

// Pieces of at least this many bytes are sent from where they lie; smaller ones are copied.
constexpr u_int kGatherLeast = 4096;
// The most pieces one message sends from where they lie; later ones are copied.
constexpr std::size_t kMostGatherPieces = 4;
// The most iovec entries a gathered message needs: each piece and the buffer's bytes around it.
constexpr std::size_t kMostGatherIov = 2 * kMostGatherPieces + 1;

struct NfsRpcGathered {
    struct Piece {
        std::size_t at;    // where it goes among the buffer's bytes
        const char *bytes; // where it lies, until the message is sent
        std::size_t length;
    };
    std::size_t inBuffer = 0; // the buffer's bytes
    std::size_t pieces = 0;
    Piece piece[kMostGatherPieces] = {};

    // The whole message's length.
    std::size_t length() const;
    // Every piece moved `by` bytes further into the buffer (a record mark put before the message).
    void shift(std::size_t by);
};

// Encodes the call as nfsRpcEncodeCall does into AT (ROOM bytes, the whole message's most), its
// large pieces listed in *gathered: the message's length, or 0.
u_int nfsRpcEncodeGathered(const NfsRpcExchange &call, uint32_t xid, char *at, u_int room,
                           NfsRpcGathered *gathered);

// The message after its first SKIP bytes (those sent already) as iovec entries over BUFFER and
// the pieces, into iov (kMostGatherIov room): their count, 0 when nothing is left.
int nfsRpcGatherIov(const char *buffer, const NfsRpcGathered &gathered, std::size_t skip, iovec *iov);

#endif
