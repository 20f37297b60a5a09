// Version 4 data calls: each one compound, PUTFH and the operation.
#include "state/nfs4FileData.h"

#include "rpc/nfsRpcClient.h"
#include "state/nfs4OpenRegistry.h"
#include "state/nfs4Resend.h"

#include <kernel/kernelErrno.h>

#include <algorithm>

namespace {

using nfsres::Fail;
using nfsres::Result;
using nfsres::Status;

constexpr u_int kOp = 1; // the operation after PUTFH
// Recoveries one call waits for: a restart during a recovery is met by the next one.
constexpr int kMostRecoveries = 3;

// A call that carries FILE's open state id, BUILD(ops, reply, stateid) making its compound:
// built again with the open's state id after a recovery that changed it. An open the server
// refused to give back fails with the refusal's error number.
template <typename Build>
Status openCall(Nfs4ClientState &state, const Nfs4OpenFile &file, Nfs4Reply &reply, Build build)
{
    for (int recoveries = 0;; ++recoveries) {
        const Result<Nfs4OpenNow> now = nfs4OpenNow(state, file);
        NFS_TRY(now);
        Nfs4Ops ops;
        build(ops, reply, now.value().stateid);
        const Status status = nfs4FileCall(state, ops.ops, ops.n, reply);
        if (status.ok() || recoveries == kMostRecoveries ||
            !nfs4OpenRecovered(state, file, now.value().stateid, status.error()))
            return status;
    }
}

// The data one call carries at most: what the connection's buffers and the session were made for.
uint32_t dataMost(uint32_t count)
{
    return std::min(count, nfsRpcLargestTransfer(IPPROTO_TCP));
}

Nfs4Verifier verifierOf(const verifier4 verifier)
{
    Nfs4Verifier out{};
    std::copy(verifier, verifier + NFS4_VERIFIER_SIZE, out.begin());
    return out;
}

// The times of a change: the server's clock, or the seconds given.
settime4 timeOf(NfsAttrChange::Times times, int64_t seconds)
{
    settime4 out{};
    out.set_it = times == NfsAttrChange::Times::now ? SET_TO_SERVER_TIME4 : SET_TO_CLIENT_TIME4;
    out.time.seconds = seconds;
    return out;
}

fattr4 changeAttrs(const NfsAttrChange &change)
{
    fattr4 attrs{};
    if (change.size.has_value()) {
        nfs4BitmapSet(&attrs.attrmask, FATTR4_SIZE);
        attrs.size = *change.size;
    }
    if (change.mode.has_value()) {
        nfs4BitmapSet(&attrs.attrmask, FATTR4_MODE);
        attrs.mode = *change.mode & 07777;
    }
    if (change.times != NfsAttrChange::Times::keep) {
        nfs4BitmapSet(&attrs.attrmask, FATTR4_TIME_ACCESS_SET);
        nfs4BitmapSet(&attrs.attrmask, FATTR4_TIME_MODIFY_SET);
        attrs.time_access_set = timeOf(change.times, change.atime);
        attrs.time_modify_set = timeOf(change.times, change.mtime);
    }
    return attrs;
}

// The READ of PIECE as its compound's operations after the SEQUENCE's place.
void readOps(Nfs4Together &call, const Nfs4ReadPiece &piece, const NfsFh &fh, const stateid4 &stateid)
{
    Nfs4Ops ops;
    ops.putFh(fh);
    auto &read = ops.add(OP_READ).nfs_argop4_u.opread;
    read.stateid = stateid;
    read.offset = piece.offset;
    read.count = dataMost(piece.count);
    std::copy(ops.ops, ops.ops + ops.n, call.ops + 1);
    call.n = ops.n;
    call.readBuffer = piece.buffer;
    call.readCapacity = read.count;
}

Result<Nfs4ReadDone> readDone(const READ4resok &done, uint32_t most, const char *buffer)
{
    if (done.data.len > most || done.data.val != buffer)
        return Fail{K_EIO};
    return Nfs4ReadDone{done.data.len, done.eof != 0};
}

void writeOps(Nfs4Together &call, const Nfs4WritePiece &piece, const NfsFh &fh, const stateid4 &stateid,
              stable_how4 stable)
{
    Nfs4Ops ops;
    ops.putFh(fh);
    WRITE4args &write = ops.add(OP_WRITE).nfs_argop4_u.opwrite;
    write.stateid = stateid;
    write.offset = piece.offset;
    write.stable = stable;
    write.data = Nfs4Bytes{dataMost(piece.count), const_cast<char *>(piece.data)}; // only encoded
    std::copy(ops.ops, ops.ops + ops.n, call.ops + 1);
    call.n = ops.n;
}

Result<Nfs4WriteDone> writeDone(const WRITE4resok &done, uint32_t most, stable_how4 stable)
{
    if (done.count > most || done.committed < stable || done.committed > FILE_SYNC4)
        return Fail{K_EIO};
    return Nfs4WriteDone{done.count, done.committed, verifierOf(done.writeverf)};
}

// PIECES[0..N) in rounds of calls sent together, each round with the open's state id of its
// moment: BUILD(call, piece, stateid) makes a piece's compound, TAKE(piece, replies, i) reads
// the answer of call I, ALONE(piece) sends a piece again on its own. What a fault costs is
// what one call pays for it: a pause (once a round) before what the server said to wait out,
// the open's recovery before what met a stale state id.
template <typename Piece, typename Build, typename Take, typename Alone>
void together(Nfs4ClientState &state, const Nfs4OpenFile &file, Piece *pieces, std::size_t n, Build build,
              Take take, Alone alone)
{
    using Outcome = Nfs4Together::Outcome;
    for (std::size_t at = 0; at < n;) {
        const std::size_t m = std::min(n - at, Nfs4Compounds::kMost);
        const Result<Nfs4OpenNow> now = nfs4OpenNow(state, file);
        Nfs4Together calls[Nfs4Compounds::kMost];
        for (std::size_t k = 0; k < m && now.ok(); ++k)
            build(calls[k], pieces[at + k], now.value().stateid);
        Nfs4Compounds replies;
        const Status status = now.ok() ? nfs4StateCallsTogether(state, calls, m, replies) : Status{now.fail()};
        if (!status.ok()) {
            for (std::size_t k = at; k < n; ++k)
                pieces[k].done = status.fail();
            return;
        }
        nfsrpc::RetryPacing pacing;
        bool paused = false;
        const auto waited = [&](Piece &piece, int error) {
            if (!paused && !pacing.pause()) {
                piece.done = Fail{error};
                return;
            }
            paused = true;
            piece.done = alone(piece);
        };
        std::size_t sent = 0;
        for (std::size_t k = 0; k < m && calls[k].outcome != Outcome::Unsent; ++k, ++sent) {
            Piece &piece = pieces[at + k];
            const Outcome outcome = calls[k].outcome;
            const int error = replies.status(k).error();
            if (outcome == Outcome::Pause || nfs4WaitedOut(error))
                waited(piece, error != 0 ? error : nfs4Error(NFS4ERR_DELAY));
            else if (outcome == Outcome::Done && replies.status(k).ok())
                piece.done = take(piece, replies, k);
            else if (outcome == Outcome::Again || nfs4OpenRecovered(state, file, now.value().stateid, error))
                piece.done = alone(piece);
            else
                piece.done = Fail{error};
        }
        if (sent == 0) { // the state is to be established again: the single call does that
            pieces[at].done = alone(pieces[at]);
            sent = 1;
        }
        at += sent;
    }
}

} // namespace

void nfs4ReadTogether(Nfs4ClientState &state, const Nfs4OpenFile &file, Nfs4ReadPiece *pieces, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        if (pieces[i].buffer == nullptr || file.fh.empty() || pieces[i].count > NFS4_MAXDATA_DECODED) {
            for (std::size_t k = 0; k < n; ++k)
                pieces[k].done = Fail{NFS_ERRNO_INVAL};
            return;
        }
    }
    together(
        state, file, pieces, n,
        [&](Nfs4Together &call, const Nfs4ReadPiece &piece, const stateid4 &stateid) {
            readOps(call, piece, file.fh, stateid);
        },
        [](const Nfs4ReadPiece &piece, const Nfs4Compounds &replies, std::size_t i) {
            return readDone(replies.result(i, kOp).nfs_resop4_u.opread, dataMost(piece.count), piece.buffer);
        },
        [&](const Nfs4ReadPiece &piece) { return nfs4Read(state, file, piece.offset, piece.buffer, piece.count); });
}

void nfs4WriteTogether(Nfs4ClientState &state, const Nfs4OpenFile &file, Nfs4WritePiece *pieces, std::size_t n,
                       stable_how4 stable)
{
    for (std::size_t i = 0; i < n; ++i) {
        if ((pieces[i].data == nullptr && pieces[i].count > 0) || file.fh.empty() ||
            pieces[i].count > NFS4_MAXDATA_DECODED) {
            for (std::size_t k = 0; k < n; ++k)
                pieces[k].done = Fail{NFS_ERRNO_INVAL};
            return;
        }
    }
    together(
        state, file, pieces, n,
        [&](Nfs4Together &call, const Nfs4WritePiece &piece, const stateid4 &stateid) {
            writeOps(call, piece, file.fh, stateid, stable);
        },
        [stable](const Nfs4WritePiece &piece, const Nfs4Compounds &replies, std::size_t i) {
            return writeDone(replies.result(i, kOp).nfs_resop4_u.opwrite, dataMost(piece.count), stable);
        },
        [&](const Nfs4WritePiece &piece) {
            return nfs4Write(state, file, piece.offset, piece.data, piece.count, stable);
        });
}

Result<Nfs4ReadDone> nfs4Read(Nfs4ClientState &state, const Nfs4OpenFile &file, uint64_t offset, char *buffer,
                              uint32_t count)
{
    if (buffer == nullptr || file.fh.empty() || count > NFS4_MAXDATA_DECODED)
        return Fail{NFS_ERRNO_INVAL};
    const uint32_t most = dataMost(count);
    Nfs4Reply reply;
    NFS_TRY(openCall(state, file, reply, [&](Nfs4Ops &ops, Nfs4Reply &into, const stateid4 &stateid) {
        ops.putFh(file.fh);
        auto &read = ops.add(OP_READ).nfs_argop4_u.opread;
        read.stateid = stateid;
        read.offset = offset;
        read.count = most;
        into.readInto(buffer, most);
    }));
    return readDone(reply[kOp].nfs_resop4_u.opread, most, buffer);
}

Result<Nfs4WriteDone> nfs4Write(Nfs4ClientState &state, const Nfs4OpenFile &file, uint64_t offset,
                                const char *data, uint32_t count, stable_how4 stable)
{
    if ((data == nullptr && count > 0) || file.fh.empty() || count > NFS4_MAXDATA_DECODED)
        return Fail{NFS_ERRNO_INVAL};
    const uint32_t most = dataMost(count);
    Nfs4Reply reply;
    NFS_TRY(openCall(state, file, reply, [&](Nfs4Ops &ops, Nfs4Reply &, const stateid4 &stateid) {
        ops.putFh(file.fh);
        WRITE4args &write = ops.add(OP_WRITE).nfs_argop4_u.opwrite;
        write.stateid = stateid;
        write.offset = offset;
        write.stable = stable;
        write.data = Nfs4Bytes{most, const_cast<char *>(data)}; // only encoded
    }));
    return writeDone(reply[kOp].nfs_resop4_u.opwrite, most, stable);
}

Result<Nfs4Verifier> nfs4Commit(Nfs4ClientState &state, const NfsFh &fh, uint64_t offset, uint32_t count)
{
    if (fh.empty())
        return Fail{NFS_ERRNO_INVAL};
    Nfs4Ops ops;
    ops.putFh(fh);
    auto &commit = ops.add(OP_COMMIT).nfs_argop4_u.opcommit;
    commit.offset = offset;
    commit.count = count;
    Nfs4Reply reply;
    NFS_TRY(nfs4FileCall(state, ops.ops, ops.n, reply));
    return verifierOf(reply[kOp].nfs_resop4_u.opcommit);
}

Result<Nfs4Attrs> nfs4GetAttr(Nfs4ClientState &state, const NfsFh &fh)
{
    if (fh.empty())
        return Fail{NFS_ERRNO_INVAL};
    Nfs4Ops ops;
    ops.putFh(fh);
    ops.getAttrs();
    Nfs4Reply reply;
    NFS_TRY(nfs4FileCall(state, ops.ops, ops.n, reply));
    return nfs4AttrsOf(reply[kOp].nfs_resop4_u.opgetattr);
}

Result<Nfs4Attrs> nfs4SetAttr(Nfs4ClientState &state, const Nfs4OpenFile &file, const NfsAttrChange &change)
{
    if (file.fh.empty())
        return Fail{NFS_ERRNO_INVAL};
    Nfs4Reply reply;
    NFS_TRY(openCall(state, file, reply, [&](Nfs4Ops &ops, Nfs4Reply &, const stateid4 &stateid) {
        ops.putFh(file.fh);
        auto &set = ops.add(OP_SETATTR).nfs_argop4_u.opsetattr;
        set.stateid = stateid;
        set.obj_attributes = changeAttrs(change);
        ops.getAttrs();
    }));
    return nfs4AttrsOf(reply[kOp + 1].nfs_resop4_u.opgetattr);
}
