// The remote-call path against rpcbind and nfs-ganesha on loopback: handle reuse and rebuild,
// the credential on the wire, task exit, and the fallbacks when a peer falls silent.
#include "live/liveServer.h"

#include "core/nfsConfig.h"

#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <rpc/rpc.h>
#include <rpc/pmap_prot.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kMount = MOUNT_PROGRAM;
constexpr uint32_t kNfs = NFS_PROGRAM;

class ClientCallLive : public testing::Test {
protected:
    void SetUp() override
    {
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
        nfsClientClose();
    }
    void TearDown() override
    {
        nfsClientClose();
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
    }
};

TEST_F(ClientCallLive, ConsecutiveCallsToOneProgramShareOneSocket)
{
    ASSERT_EQ(live::nullCall(live::host(), kNfs, 3), 0);
    const NfsRpcClient *client = nfsRpcClientCurrent();
    ASSERT_NE(client, nullptr);
    const CLIENT *handle = client->pClient;
    const std::string socket = live::currentSocket();
    ASSERT_EQ(socket.rfind("socket:", 0), 0u) << socket;
    ASSERT_EQ(live::nullCall(live::host(), kNfs, 3), 0);
    EXPECT_EQ(client->pClient, handle);
    EXPECT_EQ(live::currentSocket(), socket);
    EXPECT_EQ(client->valid, 1);
    EXPECT_STREQ(client->hostName, live::host().c_str());
}

TEST_F(ClientCallLive, AnotherProgramVersionOrHostSpellingBuildsANewHandle)
{
    ASSERT_EQ(live::nullCall(live::host(), kNfs, 3), 0);
    std::string last = live::currentSocket();
    const auto expectNewSocket = [&last](const char *what) {
        const std::string now = live::currentSocket();
        EXPECT_FALSE(now.empty()) << what;
        EXPECT_NE(now, last) << what;
        last = now;
    };
    ASSERT_EQ(live::nullCall(live::host(), kMount, 3), 0);
    expectNewSocket("MOUNT after NFS");
    ASSERT_EQ(live::nullCall(live::host(), kMount, 1), 0);
    expectNewSocket("MOUNT version 1 after version 3");
    ASSERT_EQ(live::nullCall("localhost", kMount, 1), 0);
    expectNewSocket("another host name");
    ASSERT_EQ(live::nullCall("LOCALHOST", kMount, 1), 0);
    expectNewSocket("the same host in other letters");
    ASSERT_EQ(live::nullCall(live::host(), kNfs, 3), 0);
    expectNewSocket("NFS again after MOUNT");
}

TEST_F(ClientCallLive, PortmapperListComesBackThroughTheCallPath)
{
    pmaplist *list = nullptr;
    ASSERT_EQ(nfsClientCall(live::host().c_str(), PMAPPROG, PMAPVERS, PMAPPROC_DUMP, nfsXdrProc(xdr_void),
                            nullptr, nfsXdrProc(xdr_pmaplist), &list),
              0);
    bool nfsUdp = false;
    bool mount3Udp = false;
    const auto served = static_cast<u_long>(live::servedTransport());
    for (const pmaplist *node = list; node != nullptr; node = node->pml_next) {
        nfsUdp |=
            node->pml_map.pm_prog == kNfs && node->pml_map.pm_vers == 3 && node->pml_map.pm_prot == served;
        mount3Udp |=
            node->pml_map.pm_prog == kMount && node->pml_map.pm_vers == 3 && node->pml_map.pm_prot == served;
    }
    EXPECT_TRUE(nfsUdp);
    EXPECT_TRUE(mount3Udp);
    clnt_freeres(nfsRpcClientCurrent()->pClient, nfsXdrProc(xdr_pmaplist), reinterpret_cast<char *>(&list));
}

TEST_F(ClientCallLive, NewCredentialsReachTheServerOnTheNextCall)
{
    live::RootHandle root;
    ASSERT_TRUE(live::mountRoot(&root));
    ASSERT_EQ(live::createInRoot(&root, "owner-2001"), 0);
    const std::string before = live::currentSocket();
    EXPECT_EQ(live::ownerOnServer("owner-2001"), 2001);

    nfsIdSet(2345);
    ASSERT_EQ(live::createInRoot(&root, "owner-2345"), 0);
    EXPECT_NE(live::currentSocket(), before) << "a credential change rebuilds the handle";
    EXPECT_EQ(live::ownerOnServer("owner-2345"), 2345);
}

TEST_F(ClientCallLive, MoreThanSixteenGroupsStillMakeWorkingCalls)
{
    std::vector<int> groups;
    for (int i = 0; i < 20; ++i)
        groups.push_back(500 + i);
    nfsAuthUnixSet("many-groups", 2001, 100, 20, groups.data());
    live::RootHandle root;
    ASSERT_TRUE(live::mountRoot(&root)) << std::hex << errnoGet();
    ASSERT_EQ(live::createInRoot(&root, "owner-groups"), 0);
    EXPECT_EQ(live::ownerOnServer("owner-groups"), 2001);
}

TEST_F(ClientCallLive, TasksShareTheServersChannelWhichClosesWithTheLastHandle)
{
    ASSERT_EQ(live::nullCall(live::host(), kNfs, 3), 0);
    const std::string mine = live::currentSocket();
    const int myFd = nfsRpcClientCurrent()->socket;
    const CLIENT *myHandle = nfsRpcClientCurrent()->pClient;
    std::string theirs;
    const CLIENT *theirHandle = nullptr;
    std::thread([&] {
        ASSERT_EQ(live::nullCall(live::host(), kNfs, 3), 0);
        theirs = live::currentSocket();
        theirHandle = nfsRpcClientCurrent()->pClient;
    }).join();
    EXPECT_EQ(theirs, mine) << "one socket for the server, whichever task calls";
    EXPECT_NE(theirHandle, myHandle) << "each task its own handle and credential";
    EXPECT_EQ(live::currentSocket(), mine) << "the ended task's exit leaves the channel to this task";
    ASSERT_EQ(live::nullCall(live::host(), kNfs, 3), 0);
    nfsClientClose();
    EXPECT_NE(live::descriptorTarget(myFd), mine) << "the last handle's release closes the socket";
}

TEST_F(ClientCallLive, CloseWithoutAnyCallDoesNothing)
{
    std::thread([] {
        nfsClientClose();
        EXPECT_EQ(nfsRpcClientCurrent(), nullptr);
    }).join();
}

TEST_F(ClientCallLive, HostNameTooLongForTheRecordIsRefused)
{
    const std::string longName(64, 'h');
    EXPECT_EQ(live::nullCall(longName, kNfs, 3), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_EQ(live::nullCall(std::string(63, 'h'), kNfs, 3), -1);
    EXPECT_EQ(errnoGet(), K_HOST_UNKNOWN) << "63 characters fit and go to the resolver";
    EXPECT_EQ(live::nullCall(live::host(), kNfs, 3), 0);
}

TEST_F(ClientCallLive, SilentServerTimesOutAndTheNextCallBuildsANewHandle)
{
    ASSERT_EQ(live::nullCall(live::host(), kNfs, 3), 0);
    const auto start = std::chrono::steady_clock::now();
    int error = 0;
    {
        live::PeerPaused paused("RT_GANESHA_PID");
        EXPECT_EQ(live::nullCall(live::host(), kNfs, 3), -1);
        error = errnoGet();
    }
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error, K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT);
    EXPECT_GE(waited, std::chrono::seconds(nfsTimeoutSec - 1));
    const NfsRpcClient *client = nfsRpcClientCurrent();
    EXPECT_EQ(client->valid, 0);
    EXPECT_EQ(client->pClient, nullptr);
    EXPECT_STREQ(client->hostName, "");
    ASSERT_EQ(live::nullCall(live::host(), kNfs, 3), 0);
    EXPECT_EQ(client->valid, 1);
}

// Over UDP, or over TCP when the word says so (a server without UDP has nothing on UDP 2049).
TEST_F(ClientCallLive, SilentPortmapperSendsNfsCallsToPort2049)
{
    live::PeerPaused paused("RT_RPCBIND_PID");
    nfsTimeoutSec = 2; // the port query has half of it
    nfsTransport = live::serverOffersUdp() ? NFS_TRANSPORT_UDP_WHERE_OFFERED : NFS_TRANSPORT_TCP;
    const int called = live::nullCall(live::host(), kNfs, 3);
    nfsTransport = NFS_TRANSPORT_UDP_WHERE_OFFERED;
    nfsTimeoutSec = 25;
    ASSERT_EQ(called, 0) << std::hex << errnoGet();
    EXPECT_EQ(nfsRpcClientCurrent()->transport, live::servedTransport());
    sockaddr_in peer{};
    ASSERT_TRUE(
        clnt_control(nfsRpcClientCurrent()->pClient, CLGET_SERVER_ADDR, reinterpret_cast<char *>(&peer)));
    EXPECT_EQ(ntohs(peer.sin_port), 2049);
    EXPECT_EQ(nfsRpcClientCurrent()->server.sin_port, peer.sin_port)
        << "the record sends where the handle would";
}

} // namespace
