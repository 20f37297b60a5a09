// The remote-call path against the scripted server: what the client puts on the wire, when it
// keeps and when it rebuilds its handle, and how each RPC failure is reported.
#include "nfs/consoleCapture.h"
#include "server/scriptedServer.h"

#include "core/nfsConfig.h"

#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsErrors.h>
#include <brisnel/nfsRpcLib.h>
#include <brisnel/nfsStatLib.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <memory>
#include <regex>
#include <set>
#include <thread>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kProg = 100003;
constexpr const char *kAddress = "127.0.0.5";
constexpr const char *kHost = "scripted-call";

class ClientCallScripted : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        server_ = scripted::ScriptedServer::start({.address = kAddress}, &error);
        ASSERT_NE(server_, nullptr) << error;
        server_->handle(kProg, 3, 0, [](const scripted::RpcCall &, XDR *) { return scripted::Reply::ok(); });
        server_->handle(100005, 3, 0, [](const scripted::RpcCall &, XDR *) { return scripted::Reply::ok(); });
        ASSERT_EQ(hostAdd(kHost, kAddress), 0);
        nfsAuthUnixSet("scripted-client", 2001, 100, 0, nullptr);
        nfsClientClose();
    }
    void TearDown() override
    {
        nfsClientClose();
        nfsAuthUnixSet("scripted-client", 2001, 100, 0, nullptr);
        nfsTimeoutSec = savedTimeout_;
        nfs3MaxMsgLen = savedMsgLen_;
        nfs3MaxRddirSz = savedRddirSz_;
        nfsSockBufSize = savedSockBufSize_;
    }

    static int nullCall(uint32_t prog = kProg, uint32_t vers = 3)
    {
        return nfsClientCall(kHost, prog, vers, 0, nfsXdrProc(xdr_void), nullptr, nfsXdrProc(xdr_void),
                             nullptr);
    }

    std::unique_ptr<scripted::ScriptedServer> server_;
    int32_t savedTimeout_ = nfsTimeoutSec;
    uint32_t savedMsgLen_ = nfs3MaxMsgLen;
    int32_t savedRddirSz_ = nfs3MaxRddirSz;
    int32_t savedSockBufSize_ = nfsSockBufSize;
};

TEST_F(ClientCallScripted, OneHandleServesARunOfCallsToOneProgram)
{
    for (int i = 0; i < 5; ++i)
        ASSERT_EQ(nullCall(), 0);
    EXPECT_EQ(server_->callCount(kProg, 3, 0), 5u);
    EXPECT_EQ(server_->clientPortCount(), 1u) << "one socket";
    EXPECT_EQ(server_->portmapperCallCount(scripted::pmapProcGetPort), 1u) << "one portmapper look-up";

    ASSERT_EQ(nullCall(100005, 3), 0);
    ASSERT_EQ(nullCall(), 0);
    EXPECT_EQ(server_->portmapperCallCount(scripted::pmapProcGetPort), 3u)
        << "MOUNT in between rebuilds twice";
}

TEST_F(ClientCallScripted, TheCredentialCarriesTheRecordAndItsChanges)
{
    ASSERT_EQ(nullCall(), 0);
    auto call = server_->lastCall(kProg, 3, 0);
    ASSERT_TRUE(call && call->authUnix);
    EXPECT_EQ(call->authUnix->machineName, "scripted-client");
    EXPECT_EQ(call->authUnix->uid, 2001u);
    EXPECT_EQ(call->authUnix->gid, 100u);
    EXPECT_TRUE(call->authUnix->gids.empty());

    nfsIdSet(0);
    ASSERT_EQ(nullCall(), 0);
    call = server_->lastCall(kProg, 3, 0);
    EXPECT_EQ(call->authUnix->uid, 0u);
    EXPECT_EQ(server_->portmapperCallCount(scripted::pmapProcGetPort), 2u) << "the change built a new handle";
}

TEST_F(ClientCallScripted, TwentyGroupsReachTheWireAsTheFirstSixteen)
{
    std::vector<int> groups;
    for (int i = 0; i < 20; ++i)
        groups.push_back(700 + i);
    nfsAuthUnixSet("groups", 5, 6, 20, groups.data());
    ASSERT_EQ(nullCall(), 0) << std::hex << errnoGet();
    const auto call = server_->lastCall(kProg, 3, 0);
    ASSERT_TRUE(call && call->authUnix);
    ASSERT_EQ(call->authUnix->gids.size(), 16u);
    EXPECT_EQ(call->authUnix->gids.front(), 700u);
    EXPECT_EQ(call->authUnix->gids.back(), 715u);
}

TEST_F(ClientCallScripted, ASilentProgramTimesOutAndTheNextCallStartsAfresh)
{
    ASSERT_EQ(nullCall(), 0);
    nfsTimeoutSec = 2;
    server_->setProgramBehaviour(kProg, scripted::Behaviour::silent());
    EXPECT_EQ(nullCall(), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT);
    const NfsRpcClient *client = nfsRpcClientCurrent();
    EXPECT_EQ(client->valid, 0);
    EXPECT_EQ(client->pClient, nullptr);

    server_->setProgramBehaviour(kProg, scripted::Behaviour::answer());
    ASSERT_EQ(nullCall(), 0);
    EXPECT_EQ(server_->portmapperCallCount(scripted::pmapProcGetPort), 2u);
}

TEST_F(ClientCallScripted, RefusalsAreReportedWithTheirRpcStatus)
{
    // Not registered: the portmapper says so, the call goes to port 2049, where nothing listens.
    EXPECT_EQ(nullCall(kProg, 2), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTRECV);
    EXPECT_EQ(nfsRpcClientCurrent()->pClient, nullptr);
    const uint32_t port = server_->programPort();
    server_->setRegistrations(
        {{kProg, 3, scripted::ipprotoUdp, port}, {kProg, 2, scripted::ipprotoUdp, port}});
    EXPECT_EQ(nullCall(kProg, 2), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_PROGVERSMISMATCH);
    EXPECT_EQ(nfsClientCall(kHost, kProg, 3, 9, nfsXdrProc(xdr_void), nullptr, nfsXdrProc(xdr_void), nullptr),
              -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_PROCUNAVAIL);
    EXPECT_EQ(nfsClientCall("no-such-host.invalid", kProg, 3, 0, nfsXdrProc(xdr_void), nullptr,
                            nfsXdrProc(xdr_void), nullptr),
              -1);
    EXPECT_EQ(errnoGet(), K_HOST_UNKNOWN);
    EXPECT_EQ(nfsRpcClientCurrent()->valid, 0);
}

// Answers with a foreign transaction id, waiting before the call or arriving during it, are
// dropped without costing the call any of its time-out.
TEST_F(ClientCallScripted, StrayDatagramsBeforeAndDuringACallCostItNothing)
{
    ASSERT_EQ(nullCall(), 0);
    sockaddr_in clientAddress{};
    socklen_t length = sizeof clientAddress;
    ASSERT_EQ(
        getsockname(nfsRpcClientCurrent()->socket, reinterpret_cast<sockaddr *>(&clientAddress), &length), 0);
    clientAddress.sin_addr.s_addr = inet_addr(kAddress);
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(sender, 0);
    const uint32_t stray[6] = {htonl(0xdead0000u), htonl(1), 0, 0, 0, 0};
    const auto sendStrays = [&](int count, std::chrono::milliseconds gap) {
        for (int i = 0; i < count; ++i) {
            sendto(sender, stray, sizeof stray, 0, reinterpret_cast<sockaddr *>(&clientAddress),
                   sizeof clientAddress);
            std::this_thread::sleep_for(gap);
        }
    };
    // More than the time-out's worth of retransmission intervals, before the call...
    sendStrays(10, std::chrono::milliseconds(0));
    EXPECT_EQ(nullCall(), 0) << std::hex << errnoGet();
    // ...and during a slow answer.
    nfsReXmitSec = 0;
    nfsReXmitUSec = 100000;
    nfsTimeoutSec = 1;
    server_->setProgramBehaviour(kProg, scripted::Behaviour::delayed(std::chrono::milliseconds(400)));
    std::thread flood(sendStrays, 40, std::chrono::milliseconds(5));
    EXPECT_EQ(nullCall(), 0) << std::hex << errnoGet();
    flood.join();
    close(sender);
    nfsReXmitSec = 5;
    nfsReXmitUSec = 0;
}

// Every kind of refusal a server can send becomes the library's error number for it, and the
// handle is dropped; none of them may touch what the reply's other arm would have held.
TEST_F(ClientCallScripted, RejectionsAndRefusalsBecomeTheLibrarysErrorNumbers)
{
    const struct {
        scripted::ReplyKind kind;
        clnt_stat status;
    } cases[] = {{scripted::ReplyKind::rpcMismatch, RPC_VERSMISMATCH},
                 {scripted::ReplyKind::authError, RPC_AUTHERROR},
                 {scripted::ReplyKind::garbageArgs, RPC_CANTDECODEARGS},
                 {scripted::ReplyKind::systemErr, RPC_SYSTEMERROR}};
    for (const auto &c : cases) {
        server_->handle(kProg, 3, 1, [c](const scripted::RpcCall &, XDR *) {
            scripted::Reply reply = scripted::Reply::of(c.kind);
            reply.low = 7;
            reply.high = 9;
            return reply;
        });
        char *text = nullptr; // a result the decoder would allocate
        errnoSet(0);
        EXPECT_EQ(nfsClientCall(kHost, kProg, 3, 1, nfsXdrProc(xdr_void), nullptr, nfsXdrProc(xdr_wrapstring),
                                &text),
                  -1);
        EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | c.status) << static_cast<int>(c.kind);
        EXPECT_EQ(text, nullptr);
        EXPECT_EQ(nfsRpcClientCurrent()->valid, 0);
    }
}

// A reply whose status is neither accepted nor denied is refused as undecodable, without its
// status being read as the library's enumeration (which cannot hold it).
TEST_F(ClientCallScripted, AReplyWithAnUnknownStatusIsRefused)
{
    for (const uint32_t status : {2u, 7u, 0x80000000u}) {
        server_->handle(kProg, 3, 1, [status](const scripted::RpcCall &call, XDR *) {
            const uint32_t words[] = {htonl(call.xid), htonl(1), htonl(status), 0, 0, 0};
            const auto *bytes = reinterpret_cast<const uint8_t *>(words);
            return scripted::Reply::raw(scripted::Bytes(bytes, bytes + sizeof words));
        });
        EXPECT_EQ(
            nfsClientCall(kHost, kProg, 3, 1, nfsXdrProc(xdr_void), nullptr, nfsXdrProc(xdr_void), nullptr),
            -1);
        EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES) << status;
    }
}

// A server bound to a wildcard address may answer from another of its addresses: the answer
// is taken by its transaction id.
TEST_F(ClientCallScripted, AnAnswerFromAnotherAddressOfTheServerIsTaken)
{
    const int other = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(other, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = inet_addr("127.0.0.9");
    ASSERT_EQ(bind(other, reinterpret_cast<sockaddr *>(&from), sizeof from), 0);
    server_->handle(kProg, 3, 1, [other](const scripted::RpcCall &call, XDR *) {
        const auto bytes = scripted::encodeReply(call.xid, scripted::Reply::ok());
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(call.clientAddr);
        to.sin_port = htons(call.clientPort);
        sendto(other, bytes->data(), bytes->size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
        return scripted::Reply::of(scripted::ReplyKind::silent);
    });
    nfsTimeoutSec = 2;
    EXPECT_EQ(nfsClientCall(kHost, kProg, 3, 1, nfsXdrProc(xdr_void), nullptr, nfsXdrProc(xdr_void), nullptr),
              0)
        << std::hex << errnoGet();
    close(other);
}

// The port query of a new handle is bounded by the call's time-out, and leaves time for the
// well-known NFS port.
TEST_F(ClientCallScripted, ASilentPortmapperLeavesTheCallWithinItsTimeOut)
{
    std::string error;
    const auto onNfsPort =
        scripted::ScriptedServer::start({.address = "127.0.0.6", .programPort = 2049}, &error);
    ASSERT_NE(onNfsPort, nullptr) << error;
    onNfsPort->handle(kProg, 3, 0, [](const scripted::RpcCall &, XDR *) { return scripted::Reply::ok(); });
    onNfsPort->setPortmapperBehaviour(scripted::Behaviour::silent());
    ASSERT_EQ(hostAdd("scripted-silent-pmap", "127.0.0.6"), 0);
    nfsTimeoutSec = 2;
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(nfsClientCall("scripted-silent-pmap", kProg, 3, 0, nfsXdrProc(xdr_void), nullptr,
                            nfsXdrProc(xdr_void), nullptr),
              0)
        << std::hex << errnoGet();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(nfsTimeoutSec));
    EXPECT_EQ(onNfsPort->callCount(kProg, 3, 0), 1u);
}

// Proc 1 of the test program echoes a byte string: a message as large as a READ or WRITE.
struct EchoBytes {
    std::vector<char> bytes;
    static bool_t code(XDR *xdrs, EchoBytes *echo)
    {
        char *data = echo->bytes.data();
        u_int length = static_cast<u_int>(echo->bytes.size());
        return xdr_bytes(xdrs, &data, &length, static_cast<u_int>(echo->bytes.size()));
    }
};

int socketBuffer(int option)
{
    int size = 0;
    socklen_t length = sizeof size;
    getsockopt(nfsRpcClientCurrent()->socket, SOL_SOCKET, option, &size, &length);
    return size;
}

TEST_F(ClientCallScripted, HandlesAreSizedForTheLargestTransferTheWordsAllow)
{
    constexpr std::size_t kLarge = 30000;
    server_->handle(kProg, 3, 1, [](const scripted::RpcCall &, XDR *args) {
        auto echo = std::make_shared<EchoBytes>();
        echo->bytes.resize(kLarge);
        char *data = echo->bytes.data();
        u_int length = 0;
        if (xdr_bytes(args, &data, &length, kLarge) == 0)
            return scripted::Reply::of(scripted::ReplyKind::garbageArgs);
        echo->bytes.resize(length);
        return scripted::Reply::ok([echo](XDR *xdrs) { return EchoBytes::code(xdrs, echo.get()) != 0; });
    });
    EchoBytes out{std::vector<char>(kLarge)};
    for (std::size_t i = 0; i < kLarge; ++i)
        out.bytes[i] = static_cast<char>(i * 7);
    auto echoCall = [&out](EchoBytes *in) {
        return nfsClientCall(kHost, kProg, 3, 1, nfsXdrProc(EchoBytes::code), &out,
                             nfsXdrProc(EchoBytes::code), in);
    };

    ASSERT_EQ(nullCall(), 0);
    EchoBytes in{std::vector<char>(kLarge)};
    EXPECT_EQ(echoCall(&in), -1) << "the default words allow 8 KiB";
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTENCODEARGS);

    nfs3MaxMsgLen = 32768;
    ASSERT_EQ(nullCall(), 0);
    const uint64_t lookUps = server_->portmapperCallCount(scripted::pmapProcGetPort);
    ASSERT_EQ(echoCall(&in), 0) << std::hex << errnoGet();
    EXPECT_TRUE(in.bytes == out.bytes) << "30000 bytes each way";
    EXPECT_GE(socketBuffer(SO_RCVBUF), 32768) << "socket buffers raised with the handle's";
    EXPECT_GE(socketBuffer(SO_SNDBUF), 32768);
    nfs3MaxMsgLen = savedMsgLen_;
    ASSERT_EQ(nullCall(), 0);
    EXPECT_EQ(server_->portmapperCallCount(scripted::pmapProcGetPort), lookUps)
        << "a handle larger than needed is kept";

    // A directory count raises the buffers too; a larger socket buffer of the user's stays.
    nfsClientClose();
    nfs3MaxRddirSz = 40000;
    nfsSockBufSize = 200000;
    ASSERT_EQ(echoCall(&in), 0) << std::hex << errnoGet();
    EXPECT_GE(socketBuffer(SO_RCVBUF), 200000);
}

// A UDP socket's buffers hold the user's word, raised only as far as a window of the largest
// messages needs (the system reports twice what it was given, its own overhead included).
// Tasks calling one server share its socket. The server holds three tasks' calls and answers
// them in reverse order: whichever task reads, each answer reaches the task that sent its
// transaction id.
TEST_F(ClientCallScripted, TasksShareOneSocketAndEachAnswerReachesItsCaller)
{
    constexpr std::size_t kTasks = 3;
    server_->handle(kProg, 3, 1, [](const scripted::RpcCall &, XDR *args) {
        u_int value = 0;
        if (xdr_u_int(args, &value) == 0)
            return scripted::Reply::of(scripted::ReplyKind::garbageArgs);
        return scripted::Reply::ok(xdr_u_int, value * 1000 + 7);
    });
    server_->setProgramBehaviour(kProg, scripted::Behaviour::reversed(kTasks, std::chrono::milliseconds(20)));
    std::array<u_int, kTasks> answers{};
    std::array<int, kTasks> results{};
    std::vector<std::thread> tasks;
    for (std::size_t i = 0; i < kTasks; ++i) {
        tasks.emplace_back([&answers, &results, i] {
            u_int value = static_cast<u_int>(i + 1);
            results[i] = nfsClientCall(kHost, kProg, 3, 1, nfsXdrProc(xdr_u_int), &value, nfsXdrProc(xdr_u_int),
                                       &answers[i]);
            nfsClientClose();
        });
    }
    for (std::thread &task : tasks)
        task.join();
    server_->setProgramBehaviour(kProg, scripted::Behaviour::answer());
    std::set<uint16_t> ports;
    for (const scripted::RpcCall &call : server_->calls()) {
        if (call.prog == kProg && call.proc == 1)
            ports.insert(call.clientPort);
    }
    EXPECT_EQ(ports.size(), 1u) << "one socket for every task";
    for (std::size_t i = 0; i < kTasks; ++i) {
        EXPECT_EQ(results[i], 0) << i;
        EXPECT_EQ(answers[i], static_cast<u_int>((i + 1) * 1000 + 7)) << i;
    }
}

// Refusals the shared socket heard while the server was away (its port closed), read only
// once it is back, fail no call made since: each quotes a call nobody waits for. A refusal of
// a call made while the server is away still ends that call at once.
TEST_F(ClientCallScripted, RefusalsHeardWhileTheServerWasAwayFailNoLaterCall)
{
    ASSERT_EQ(nullCall(), 0); // the task's handle now holds the server's channel
    int fd = -1;
    ASSERT_TRUE(clnt_control(nfsRpcClientCurrent()->pClient, CLGET_FD, reinterpret_cast<char *>(&fd)));
    const uint16_t port = server_->programPort();
    const auto away = [this, port] {
        server_.reset();
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, kAddress, &to.sin_addr);
        return to;
    };
    const sockaddr_in to = away();
    // Datagrams of calls that gave up, each refused by the closed port. A send that meets the
    // socket's pending error is not made: about every second one goes.
    for (uint32_t i = 0; i < 100; ++i) {
        const uint32_t xid = htonl(0xfeed0000U + i);
        static_cast<void>(sendto(fd, &xid, sizeof xid, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to));
    }
    pollfd heard{fd, 0, 0};
    ASSERT_EQ(poll(&heard, 1, 5000), 1) << "no refusal reached the socket";
    std::string error;
    server_ = scripted::ScriptedServer::start({.address = kAddress, .programPort = port}, &error);
    ASSERT_NE(server_, nullptr) << error;
    server_->handle(kProg, 3, 0, [](const scripted::RpcCall &, XDR *) { return scripted::Reply::ok(); });
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(nullCall(), 0) << "call " << i << ", " << std::hex << errnoGet();
    EXPECT_EQ(server_->portmapperCallCount(scripted::pmapProcGetPort), 0u) << "the handle was kept";

    away();
    EXPECT_EQ(nullCall(), -1);
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | RPC_CANTRECV) << "refused, not timed out";
}

TEST_F(ClientCallScripted, SocketBuffersFollowTheWordAndTheWindow)
{
    const int32_t savedWindow = nfsMaxInFlight;
    constexpr int kMessage = 8192 + 1024; // the default transfer and the header room
    const struct {
        int32_t word;
        int32_t window;
        int least; // of the data the buffer holds
        int most;
    } cases[] = {{10000, 1, 10000, 10000},
                 {50000, 1, 50000, 50000},
                 {10000, 4, 4 * kMessage, 4 * kMessage},
                 {100000, 4, 100000, 100000}};
    for (const auto &c : cases) {
        nfsClientClose();
        nfsSockBufSize = c.word;
        nfsMaxInFlight = c.window;
        ASSERT_EQ(nullCall(), 0) << std::hex << errnoGet();
        for (const int option : {SO_RCVBUF, SO_SNDBUF}) {
            EXPECT_GE(socketBuffer(option) / 2, c.least) << c.word << " " << c.window;
            EXPECT_LE(socketBuffer(option) / 2, c.most) << c.word << " " << c.window;
        }
    }
    nfsMaxInFlight = savedWindow;
}

// The counters: each call once however often it went out, each resend a retransmission, the
// time-out counted, the bytes received exact (a GETPORT answer is 28 bytes, a NULL answer 24);
// printed by procedure under its transport, and zeroed.
TEST_F(ClientCallScripted, CountersFollowCallsRetransmissionsAndTimeOuts)
{
    nfsStatZero();
    ASSERT_EQ(nullCall(), 0);
    ASSERT_EQ(nullCall(), 0);
    nfsReXmitSec = 0;
    nfsReXmitUSec = 200000;
    nfsTimeoutSec = 1;
    server_->setProgramBehaviour(kProg, scripted::Behaviour::silent());
    EXPECT_EQ(nullCall(), -1);
    nfsReXmitSec = 5;
    nfsReXmitUSec = 0;

    NfsStatCounts udp{};
    NfsStatCounts tcp{};
    ASSERT_EQ(nfsStatGet(IPPROTO_UDP, &udp), 0);
    ASSERT_EQ(nfsStatGet(IPPROTO_TCP, &tcp), 0);
    EXPECT_EQ(udp.calls, 4u) << "one GETPORT, three NULL";
    EXPECT_GE(udp.retransmissions, 2u);
    EXPECT_EQ(udp.timeouts, 1u);
    EXPECT_EQ(udp.reconnects, 0u);
    EXPECT_EQ(udp.bytesReceived, 28u + 2 * 24u);
    EXPECT_GT(udp.bytesSent, 0u);
    EXPECT_EQ(tcp.calls + tcp.bytesSent + tcp.bytesReceived, 0u);

    const std::string shown = capturedStdout([] { nfsStatShow(); });
    EXPECT_TRUE(std::regex_search(shown, std::regex(R"(udp +PMAP +GETPORT +1 +0 +0 +0 +[0-9]+ +28\n)")))
        << shown;
    EXPECT_TRUE(std::regex_search(shown, std::regex(R"(udp +NFS3 +NULL +3 +[0-9]+ +1 +0 +[0-9]+ +48\n)")))
        << shown;
    EXPECT_TRUE(std::regex_search(shown, std::regex(R"(tcp +total +0 +0 +0 +0 +0 +0\n)"))) << shown;

    nfsStatZero();
    ASSERT_EQ(nfsStatGet(IPPROTO_UDP, &udp), 0);
    EXPECT_EQ(udp.calls + udp.retransmissions + udp.timeouts + udp.bytesSent + udp.bytesReceived, 0u);
    EXPECT_EQ(nfsStatGet(99, &udp), -1);
    EXPECT_EQ(nfsStatGet(IPPROTO_UDP, nullptr), -1);
}

TEST(NfsErrnoSet, StatusBecomesTheModulesErrorNumber)
{
    nfsErrnoSet(70);
    EXPECT_EQ(errnoGet(), 0x300046);
    nfsErrnoSet(2);
    EXPECT_EQ(errnoGet(), 0x300002);
    nfsErrnoSet(10004);
    EXPECT_EQ(errnoGet(), NFS_ERRNO_NOTSUPP);
}

} // namespace
