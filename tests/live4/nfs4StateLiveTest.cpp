// The version 4 client state against a server of version 4 alone (with-nfs-peers.sh with
// RT_NFS_SERVER_VERSIONS=4 and a short lease, RT_NFS_V4_LEASE): the 4.1 session shared by
// tasks, the mount walk, the lease of 4.1 and of 4.0 (asked for) kept by the renewal task, and
// the teardown.
#include "live/liveServer.h"
#include "live4/nfs4Live.h"

#include "state/nfs4ClientState.h"
#include "state/nfs4FileData.h"
#include "state/nfs4FileOpen.h"
#include "state/nfs4MountWalk.h"

#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/semGuard.h>

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

// What the state holds, read under its semaphore while the renewal task runs.
struct Snapshot {
    uint32_t minor;
    clientid4 clientId;
    uint32_t generation;
    uint32_t clientIds;
    uint32_t leaseSec;
    uint32_t slots;
    sessionid4 session;
};

Snapshot snapshot(Nfs4ClientState &state)
{
    const SemGuard guard(state.guard);
    Snapshot s{
        state.minor, state.clientId, state.generation, state.clientIds, state.leaseSec, state.slots.slots(),
        {}};
    std::memcpy(s.session, state.session, NFS4_SESSIONID_SIZE);
    return s;
}

struct stat exportStat()
{
    struct stat st {};
    EXPECT_EQ(0, stat(live::exportDir().c_str(), &st));
    return st;
}

// The walk of the export, checked against the exported folder.
void expectExportRoot(Nfs4ClientState &state)
{
    const nfsres::Result<Nfs4ExportRoot> root = nfs4MountWalk(state, live::env("RT_NFS_V4_EXPORT").c_str());
    ASSERT_TRUE(root.ok()) << std::hex << root.error();
    const struct stat st = exportStat();
    EXPECT_FALSE(root.value().fh.empty());
    EXPECT_EQ(NF4DIR, root.value().type);
    EXPECT_EQ(static_cast<uint64_t>(st.st_ino), root.value().fileid);
    EXPECT_EQ(st.st_mode & 07777, root.value().mode & 07777);
}

// A compound sent outside any state, so that no recovery hides what the server says.
nfsstat4 rawStatus(uint32_t minor, const nfs_argop4 &op)
{
    Nfs4Reply reply;
    (void)nfs4CompoundCall(live::host().c_str(), minor, &op, 1, 0, reply).ok();
    EXPECT_TRUE(reply.answered());
    return reply.status();
}

nfs_argop4 renewOf(clientid4 id)
{
    nfs_argop4 op{};
    op.argop = OP_RENEW;
    op.nfs_argop4_u.opdestroy_clientid = id;
    return op;
}

} // namespace

TEST(Nfs4StateLive, FourTasksShareTwoSlotsOfOneSession)
{
    // Two slots for four tasks: each waits its turn for a slot, and no sequence id is reused
    // (a slot sent twice at once would fail with a sequence fault or a recovery).
    const int32_t savedWindow = nfsMaxInFlight;
    nfsMaxInFlight = 2;
    StateUser user;
    nfsMaxInFlight = savedWindow;
    ASSERT_TRUE(user.ok());
    const Snapshot before = snapshot(*user);
    EXPECT_EQ(1U, before.minor);
    EXPECT_EQ(2U, before.slots);
    std::atomic<int> failures{0};
    std::vector<std::thread> tasks;
    for (int t = 0; t < 4; ++t) {
        tasks.emplace_back([&] {
            for (int i = 0; i < 25; ++i) {
                const auto root = nfs4MountWalk(*user, live::env("RT_NFS_V4_EXPORT").c_str());
                failures += root.ok() && !root.value().fh.empty() ? 0 : 1;
            }
        });
    }
    for (std::thread &task : tasks)
        task.join();
    EXPECT_EQ(0, failures.load());
    const Snapshot after = snapshot(*user);
    EXPECT_EQ(before.generation, after.generation) << "the session was established again";
    EXPECT_EQ(1U, after.clientIds);
}

TEST(Nfs4StateLive, TasksMovingWindowsOfDataShareTheSessionsSlots)
{
    // Three tasks each write a file of their own in 8 KiB pieces (the transfer size of a task
    // with no device), sent together through a session of four slots, and read it back
    // likewise: every piece on a slot of its own, none sent twice at once (a sequence fault
    // would end in a new session), every byte as the server holds it.
    constexpr uint32_t kPiece = 8192;
    constexpr std::size_t kPieces = 40;
    const int32_t savedWindow = nfsMaxInFlight;
    nfsMaxInFlight = 4;
    StateUser user;
    ASSERT_TRUE(user.ok());
    const Snapshot before = snapshot(*user);
    const nfsres::Result<Nfs4ExportRoot> root = nfs4MountWalk(*user, live::env("RT_NFS_V4_EXPORT").c_str());
    ASSERT_TRUE(root.ok()) << std::hex << root.error();
    std::vector<std::vector<char>> written(3, std::vector<char>(kPiece * kPieces));
    std::atomic<int> failures{0};
    std::atomic<int> firstError{0};
    std::vector<std::thread> tasks;
    for (std::size_t t = 0; t < written.size(); ++t) {
        for (std::size_t i = 0; i < written[t].size(); ++i)
            written[t][i] = static_cast<char>((i * 7 + t * 13) ^ (i >> 11));
        tasks.emplace_back([&, t] {
            const std::string name = "window-" + std::to_string(t) + ".bin";
            nfsres::Result<Nfs4OpenFile> opened = nfs4Open(
                *user, root.value().fh, name.c_str(), {OPEN4_SHARE_ACCESS_BOTH, Nfs4Create::Unchecked, 0644});
            if (!opened.ok()) {
                ++failures;
                return;
            }
            Nfs4OpenFile file = opened.value();
            std::vector<Nfs4WritePiece> out;
            std::vector<char> back(written[t].size());
            std::vector<Nfs4ReadPiece> in;
            for (std::size_t p = 0; p < kPieces; ++p) {
                out.push_back({p * kPiece, written[t].data() + p * kPiece, kPiece, nfsres::Fail{K_EIO}});
                in.push_back({p * kPiece, back.data() + p * kPiece, kPiece, nfsres::Fail{K_EIO}});
            }
            nfs4WriteTogether(*user, file, out.data(), out.size(), UNSTABLE4);
            for (const Nfs4WritePiece &piece : out) {
                failures += piece.done.ok() && piece.done.value().count == kPiece ? 0 : 1;
                if (!piece.done.ok())
                    firstError = piece.done.error();
            }
            failures += nfs4Commit(*user, file.fh, 0, 0).ok() ? 0 : 1;
            nfs4ReadTogether(*user, file, in.data(), in.size());
            for (const Nfs4ReadPiece &piece : in)
                failures += piece.done.ok() && piece.done.value().count == kPiece ? 0 : 1;
            failures += back == written[t] ? 0 : 1;
            failures += nfs4Close(*user, file).ok() ? 0 : 1;
        });
    }
    for (std::thread &task : tasks)
        task.join();
    nfsMaxInFlight = savedWindow;
    EXPECT_EQ(0, failures.load()) << std::hex << firstError.load();
    for (std::size_t t = 0; t < written.size(); ++t) {
        std::ifstream in(live::exportDir() + "/window-" + std::to_string(t) + ".bin", std::ios::binary);
        EXPECT_TRUE(std::vector<char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) ==
                    written[t])
            << t;
    }
    const Snapshot after = snapshot(*user);
    EXPECT_EQ(4U, after.slots);
    EXPECT_EQ(before.generation, after.generation) << "the session was established again";
}

TEST(Nfs4StateLive, MountWalk)
{
    StateUser user;
    ASSERT_TRUE(user.ok());
    expectExportRoot(*user);
    std::ofstream(live::exportDir() + "/plain.txt") << "x";
    const struct {
        const char *path;
        int error;
    } cases[] = {
        {"/", 0},
        {"//export/", 0},
        {"/export/missing", nfs4Error(NFS4ERR_NOENT)},
        {"/missing/export", nfs4Error(NFS4ERR_NOENT)},
        {"/export/plain.txt", nfs4Error(NFS4ERR_NOTDIR)},
        {"/export/a/b/c/d/e/f/g/h/i/j/k/l/m/n/o/p/q/r/s/t/u/v/w/x/y/z/1/2", K_ENAMETOOLONG},
    };
    for (const auto &c : cases) {
        const nfsres::Result<Nfs4ExportRoot> root = nfs4MountWalk(*user, c.path);
        EXPECT_EQ(c.error, root.ok() ? 0 : root.error()) << c.path;
    }
}

// Version 4 travels over TCP whatever the transport word says: with the word at UDP only the
// task's handle is still used again from call to call, not built anew with a new connection.
TEST(Nfs4StateLive, TheTransportWordLeavesVersion4ItsConnection)
{
    const int32_t savedTransport = nfsTransport;
    nfsTransport = NFS_TRANSPORT_UDP;
    {
        StateUser user;
        ASSERT_TRUE(user.ok());
        expectExportRoot(*user);
        const NfsRpcClient *client = nfsRpcClientCurrent();
        ASSERT_NE(client, nullptr);
        const CLIENT *handle = client->pClient;
        EXPECT_EQ(IPPROTO_TCP, client->transport);
        expectExportRoot(*user);
        EXPECT_EQ(handle, nfsRpcClientCurrent()->pClient) << "the handle was built again";
    }
    nfsTransport = savedTransport;
}

TEST(Nfs4StateLive, LeaseKeptAcrossThreeIdleLeases)
{
    StateUser v41;
    StateUser v40(Nfs4Minors::Only40);
    ASSERT_TRUE(v41.ok() && v40.ok());
    const Snapshot before41 = snapshot(*v41);
    const Snapshot before40 = snapshot(*v40);
    EXPECT_EQ(1U, before41.minor);
    EXPECT_EQ(0U, before40.minor); // SETCLIENTID and its confirmation
    ASSERT_LE(before41.leaseSec, 6U) << "run with RT_NFS_V4_LEASE=5";
    std::this_thread::sleep_for(std::chrono::seconds(3 * before41.leaseSec + 1));
    // The 4.0 client id, asked outside the state, is still the server's; the 4.1 session answers
    // without being made again.
    EXPECT_EQ(NFS4_OK, rawStatus(0, renewOf(before40.clientId)));
    expectExportRoot(*v41);
    expectExportRoot(*v40);
    EXPECT_EQ(before41.generation, snapshot(*v41).generation);
    EXPECT_EQ(before40.generation, snapshot(*v40).generation);
}

TEST(Nfs4StateLive, LastUserDestroysSessionAndClientId)
{
    StateUser first;
    StateUser second;
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(&*first, &*second);
    first.release();
    expectExportRoot(*second);
    const Snapshot s = snapshot(*second);
    second.release();

    nfs_argop4 sequence{};
    sequence.argop = OP_SEQUENCE;
    std::memcpy(sequence.nfs_argop4_u.opsequence.sa_sessionid, s.session, NFS4_SESSIONID_SIZE);
    sequence.nfs_argop4_u.opsequence.sa_sequenceid = 1000;
    EXPECT_EQ(NFS4ERR_BADSESSION, rawStatus(1, sequence));
    nfs_argop4 create{};
    create.argop = OP_CREATE_SESSION;
    create.nfs_argop4_u.opcreate_session = {
        s.clientId, 1, 0, {0, 4096, 4096, 0, 8, 1, 0, 0}, {0, 4096, 4096, 0, 2, 1, 0, 0}, 0x40000000, 1};
    EXPECT_EQ(NFS4ERR_STALE_CLIENTID, rawStatus(1, create));

    StateUser again;
    ASSERT_TRUE(again.ok());
    EXPECT_NE(s.clientId, snapshot(*again).clientId);
    expectExportRoot(*again);
}
