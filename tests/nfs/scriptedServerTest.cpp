// The scripted test server itself, driven through libtirpc's own client calls and raw
// datagrams: portmapper answers, handler round trips with the caller's AUTH_UNIX fields,
// the standard refusals, the silent and delay switches, counts, and malformed input.
#include "server/scriptedServer.h"

#include <arpa/inet.h>
#include <rpc/pmap_clnt.h>
#include <rpc/pmap_prot.h>
#include <rpc/rpc.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using scripted::Behaviour;
using scripted::Bytes;
using scripted::Mapping;
using scripted::Reply;
using scripted::ReplyKind;
using scripted::RpcCall;
using scripted::ScriptedServer;

constexpr uint32_t testProg = 0x20000101;
constexpr uint32_t mountProg = 100005;

// The library's routine type is variadic; a cast through void (*)() says the change is meant.
template <typename F> xdrproc_t xdrProc(F routine)
{
    return reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(routine));
}

timeval toTimeval(std::chrono::milliseconds ms)
{
    return {static_cast<time_t>(ms.count() / 1000), static_cast<suseconds_t>((ms.count() % 1000) * 1000)};
}

sockaddr_in addressOf(const std::string &host, uint16_t port)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    inet_pton(AF_INET, host.c_str(), &sin.sin_addr);
    return sin;
}

// A libtirpc UDP client handle with its credential, destroyed with its holder.
class Client {
public:
    Client(const std::string &host, uint16_t port, uint32_t prog, uint32_t vers,
           std::chrono::milliseconds retry = 1s)
    {
        sockaddr_in sin = addressOf(host, port);
        handle_ = clntudp_create(&sin, prog, vers, toTimeval(retry), &socket_);
    }
    Client(const Client &) = delete;
    Client &operator=(const Client &) = delete;
    ~Client()
    {
        if (handle_ != nullptr) {
            if (handle_->cl_auth != nullptr) {
                auth_destroy(handle_->cl_auth);
            }
            clnt_destroy(handle_);
        }
    }

    bool ok() const { return handle_ != nullptr; }
    CLIENT *get() { return handle_; }

    void useAuthUnix(const char *machine, uid_t uid, gid_t gid, std::vector<gid_t> groups)
    {
        auth_destroy(handle_->cl_auth);
        handle_->cl_auth = authunix_create(const_cast<char *>(machine), uid, gid,
                                           static_cast<int>(groups.size()), groups.data());
    }

    uint16_t localPort() const
    {
        sockaddr_in sin{};
        socklen_t length = sizeof sin;
        getsockname(socket_, reinterpret_cast<sockaddr *>(&sin), &length);
        return ntohs(sin.sin_port);
    }

    clnt_stat callVoid(uint32_t proc, std::chrono::milliseconds timeout = 2s)
    {
        return clnt_call(handle_, proc, xdrProc(xdr_void), nullptr, xdrProc(xdr_void), nullptr,
                         toTimeval(timeout));
    }

    rpc_err lastError()
    {
        rpc_err error{};
        clnt_geterr(handle_, &error);
        return error;
    }

private:
    CLIENT *handle_ = nullptr;
    int socket_ = RPC_ANYSOCK;
};

// Sends DATAGRAM to HOST:PORT from a fresh socket and returns the answer, or nothing
// within WAIT.
std::optional<Bytes> exchange(const std::string &host, uint16_t port, const Bytes &datagram,
                              std::chrono::milliseconds wait = 300ms)
{
    int sock = socket(AF_INET, SOCK_DGRAM, 0);
    timeval tv = toTimeval(wait);
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in to = addressOf(host, port);
    sendto(sock, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to);
    Bytes answer(scripted::maxDatagram);
    ssize_t got = recv(sock, answer.data(), answer.size(), 0);
    close(sock);
    if (got < 0) {
        return std::nullopt;
    }
    answer.resize(static_cast<std::size_t>(got));
    return answer;
}

// The server's count of malformed datagrams once it has reached WANT, or what it is after
// two seconds: the server counts on its own thread, after the sender has stopped waiting.
uint64_t malformedCountReaching(const ScriptedServer &server, uint64_t want)
{
    const auto deadline = std::chrono::steady_clock::now() + 2s;
    while (server.malformedCount() < want && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    return server.malformedCount();
}

// Big-endian words for hand-built messages.
class Words {
public:
    Words &u32(uint32_t v)
    {
        for (int shift = 24; shift >= 0; shift -= 8) {
            bytes_.push_back(static_cast<uint8_t>(v >> shift));
        }
        return *this;
    }
    Words &opaque(const std::string &raw)
    {
        u32(static_cast<uint32_t>(raw.size()));
        bytes_.insert(bytes_.end(), raw.begin(), raw.end());
        while (bytes_.size() % 4 != 0) {
            bytes_.push_back(0);
        }
        return *this;
    }
    Words &append(const Words &other)
    {
        bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end());
        return *this;
    }
    const Bytes &bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

uint32_t wordAt(const Bytes &bytes, std::size_t index)
{
    uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value = (value << 8) | bytes.at(index * 4 + i);
    }
    return value;
}

// A call header up to the verifier, with an AUTH_UNIX credential.
Words callHeader(uint32_t xid, uint32_t prog, uint32_t vers, uint32_t proc, uint32_t rpcvers = 2)
{
    Words cred;
    cred.u32(7).opaque("host").u32(1).u32(2).u32(1).u32(3);
    Words call;
    call.u32(xid).u32(0).u32(rpcvers).u32(prog).u32(vers).u32(proc);
    call.u32(1).opaque(std::string(cred.bytes().begin(), cred.bytes().end()));
    call.u32(0).u32(0);
    return call;
}

std::unique_ptr<ScriptedServer> startServer(const scripted::ServerOptions &options = {})
{
    std::string error;
    auto server = ScriptedServer::start(options, &error);
    EXPECT_NE(server, nullptr) << error;
    return server;
}

class ScriptedServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        server_ = startServer();
        ASSERT_NE(server_, nullptr);
        server_->handle(testProg, 1, 1, echoLength);
    }

    // Procedure 1: a string in, its length out.
    static Reply echoLength(const RpcCall &, XDR *args)
    {
        scripted::DecodedArgs<char *> text(args, xdr_wrapstring);
        if (!text.ok()) {
            return Reply::of(ReplyKind::garbageArgs);
        }
        return Reply::ok(xdr_u_int, static_cast<u_int>(std::strlen(text.value())));
    }

    clnt_stat callLength(Client &client, const char *text, u_int *length,
                         std::chrono::milliseconds timeout = 2s)
    {
        char *argument = const_cast<char *>(text);
        return clnt_call(client.get(), 1, xdrProc(xdr_wrapstring), &argument, xdrProc(xdr_u_int), length,
                         toTimeval(timeout));
    }

    std::unique_ptr<ScriptedServer> server_;
};

TEST_F(ScriptedServerTest, PortmapperDumpListsItselfAndTheProgramsByDefault)
{
    server_->handle(testProg, 2, 0, [](const RpcCall &, XDR *) { return Reply::ok(); });
    Client pmap(server_->address(), server_->portmapperPort(), PMAPPROG, PMAPVERS);
    ASSERT_TRUE(pmap.ok());
    pmaplist *list = nullptr;
    ASSERT_EQ(clnt_call(pmap.get(), PMAPPROC_DUMP, xdrProc(xdr_void), nullptr, xdrProc(xdr_pmaplist), &list,
                        toTimeval(2s)),
              RPC_SUCCESS);
    std::vector<Mapping> seen;
    for (pmaplist *node = list; node != nullptr; node = node->pml_next) {
        seen.push_back(
            {static_cast<uint32_t>(node->pml_map.pm_prog), static_cast<uint32_t>(node->pml_map.pm_vers),
             static_cast<uint32_t>(node->pml_map.pm_prot), static_cast<uint32_t>(node->pml_map.pm_port)});
    }
    clnt_freeres(pmap.get(), xdrProc(xdr_pmaplist), reinterpret_cast<char *>(&list));
    std::vector<Mapping> expected{
        {scripted::portmapperProgram, scripted::portmapperVersion, scripted::ipprotoUdp, 111},
        {testProg, 1, scripted::ipprotoUdp, server_->programPort()},
        {testProg, 2, scripted::ipprotoUdp, server_->programPort()}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(server_->portmapperCallCount(scripted::pmapProcDump), 1U);
}

TEST_F(ScriptedServerTest, PortmapperAnswersWithTheChosenRegistrations)
{
    // MOUNT over TCP only, and a version that the program table does not have.
    const std::vector<Mapping> chosen{{mountProg, 3, scripted::ipprotoTcp, 635},
                                      {testProg, 9, scripted::ipprotoUdp, 4000}};
    server_->setRegistrations(chosen);
    EXPECT_EQ(server_->registrations(), chosen);

    sockaddr_in sin = addressOf(server_->address(), 0);
    EXPECT_EQ(pmap_getport(&sin, mountProg, 3, IPPROTO_TCP), 635);
    EXPECT_EQ(pmap_getport(&sin, mountProg, 3, IPPROTO_UDP), 0);
    EXPECT_EQ(pmap_getport(&sin, testProg, 9, IPPROTO_UDP), 4000);
    EXPECT_EQ(pmap_getport(&sin, testProg, 1, IPPROTO_UDP), 0);
    EXPECT_EQ(server_->portmapperCallCount(scripted::pmapProcGetPort), 4U);

    server_->clearRegistrations();
    EXPECT_EQ(pmap_getport(&sin, testProg, 1, IPPROTO_UDP), server_->programPort());
}

TEST_F(ScriptedServerTest, ClientFindsTheProgramThroughThePortmapper)
{
    Client client(server_->address(), 0, testProg, 1);
    ASSERT_TRUE(client.ok());
    u_int length = 0;
    EXPECT_EQ(callLength(client, "through the portmapper", &length), RPC_SUCCESS);
    EXPECT_EQ(length, 22U);
    EXPECT_GE(server_->portmapperCallCount(scripted::pmapProcGetPort), 1U);
}

TEST_F(ScriptedServerTest, HandlerSeesTheArgumentsAndTheCallersCredential)
{
    Client client(server_->address(), server_->programPort(), testProg, 1);
    ASSERT_TRUE(client.ok());
    client.useAuthUnix("tester-box", 2001, 100, {100, 7, 65534});
    u_int length = 0;
    ASSERT_EQ(callLength(client, "hello", &length), RPC_SUCCESS);
    EXPECT_EQ(length, 5U);

    std::optional<RpcCall> call = server_->lastCall(testProg, 1, 1);
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->credFlavor, scripted::authUnix);
    ASSERT_TRUE(call->authUnix.has_value());
    EXPECT_EQ(call->authUnix->machineName, "tester-box");
    EXPECT_EQ(call->authUnix->uid, 2001U);
    EXPECT_EQ(call->authUnix->gid, 100U);
    EXPECT_EQ(call->authUnix->gids, (std::vector<uint32_t>{100, 7, 65534}));
    EXPECT_EQ(call->clientPort, client.localPort());
    EXPECT_EQ(call->clientAddr, 0x7f000001U);
}

TEST_F(ScriptedServerTest, CallWithoutCredentialHasNoAuthUnixFields)
{
    Client client(server_->address(), server_->programPort(), testProg, 1);
    ASSERT_EQ(client.callVoid(0), RPC_SUCCESS);
    std::optional<RpcCall> call = server_->lastCall(testProg, 1, 0);
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->credFlavor, scripted::authNone);
    EXPECT_FALSE(call->authUnix.has_value());
}

TEST_F(ScriptedServerTest, StandardRefusals)
{
    server_->handle(testProg, 3, 1, echoLength);
    {
        Client unknownProgram(server_->address(), server_->programPort(), testProg + 1, 1);
        EXPECT_EQ(unknownProgram.callVoid(0), RPC_PROGUNAVAIL);
    }
    {
        Client unknownVersion(server_->address(), server_->programPort(), testProg, 2);
        EXPECT_EQ(unknownVersion.callVoid(0), RPC_PROGVERSMISMATCH);
        rpc_err error = unknownVersion.lastError();
        EXPECT_EQ(error.re_vers.low, 1U);
        EXPECT_EQ(error.re_vers.high, 3U);
    }
    Client client(server_->address(), server_->programPort(), testProg, 1);
    EXPECT_EQ(client.callVoid(0), RPC_SUCCESS) << "NULL needs no handler";
    EXPECT_EQ(client.callVoid(7), RPC_PROCUNAVAIL);
    // A string argument that claims more bytes than the call carries.
    u_int length = 0;
    u_int tooLong = 1000;
    EXPECT_EQ(
        clnt_call(client.get(), 1, xdrProc(xdr_u_int), &tooLong, xdrProc(xdr_u_int), &length, toTimeval(2s)),
        RPC_CANTDECODEARGS);
    EXPECT_EQ(server_->callCount(testProg, 1, 1), 1U);
}

TEST_F(ScriptedServerTest, HandlerChosenReplies)
{
    server_->handle(testProg, 1, 2, [](const RpcCall &, XDR *) { return Reply::of(ReplyKind::systemErr); });
    server_->handle(testProg, 1, 3, [](const RpcCall &call, XDR *) {
        // A reply cut short: header and accept status, but no result word.
        Words reply;
        reply.u32(call.xid).u32(1).u32(0).u32(0).u32(0).u32(0);
        return Reply::raw(reply.bytes());
    });
    Client client(server_->address(), server_->programPort(), testProg, 1);
    EXPECT_EQ(client.callVoid(2), RPC_SYSTEMERROR);
    u_int result = 0;
    EXPECT_EQ(
        clnt_call(client.get(), 3, xdrProc(xdr_void), nullptr, xdrProc(xdr_u_int), &result, toTimeval(2s)),
        RPC_CANTDECODERES);
}

TEST_F(ScriptedServerTest, SilentProgramTimesOutAndRunsNoHandler)
{
    std::atomic<int> handled{0};
    server_->handle(testProg, 1, 2, [&handled](const RpcCall &, XDR *) {
        ++handled;
        return Reply::ok();
    });
    server_->setProgramBehaviour(testProg, Behaviour::silent());
    Client client(server_->address(), server_->programPort(), testProg, 1, 100ms);
    EXPECT_EQ(client.callVoid(2, 350ms), RPC_TIMEDOUT);
    EXPECT_EQ(handled.load(), 0);
    EXPECT_GE(server_->callCount(testProg, 1, 2), 2U) << "retransmissions are counted too";

    server_->setProgramBehaviour(testProg, Behaviour::answer());
    EXPECT_EQ(client.callVoid(2), RPC_SUCCESS);
    EXPECT_EQ(handled.load(), 1);
}

TEST_F(ScriptedServerTest, SilentPortmapperTimesOutWhileTheProgramStillAnswers)
{
    server_->setPortmapperBehaviour(Behaviour::silent());
    Client pmap(server_->address(), server_->portmapperPort(), PMAPPROG, PMAPVERS, 100ms);
    EXPECT_EQ(pmap.callVoid(PMAPPROC_NULL, 300ms), RPC_TIMEDOUT);
    EXPECT_GE(server_->portmapperCallCount(PMAPPROC_NULL), 1U);

    Client client(server_->address(), server_->programPort(), testProg, 1);
    EXPECT_EQ(client.callVoid(0), RPC_SUCCESS);

    server_->setPortmapperBehaviour(Behaviour::answer());
    EXPECT_EQ(pmap.callVoid(PMAPPROC_NULL), RPC_SUCCESS);
}

TEST_F(ScriptedServerTest, DelayedProgramAnswersLate)
{
    server_->setProgramBehaviour(testProg, Behaviour::delayed(500ms));
    Client impatient(server_->address(), server_->programPort(), testProg, 1, 5s);
    EXPECT_EQ(impatient.callVoid(0, 100ms), RPC_TIMEDOUT);
    Client patient(server_->address(), server_->programPort(), testProg, 1, 5s);
    EXPECT_EQ(patient.callVoid(0, 5s), RPC_SUCCESS);
}

TEST_F(ScriptedServerTest, CountsCallsAndClientSockets)
{
    Client first(server_->address(), server_->programPort(), testProg, 1);
    Client second(server_->address(), server_->programPort(), testProg, 1);
    u_int length = 0;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(callLength(first, "abc", &length), RPC_SUCCESS);
    }
    ASSERT_EQ(callLength(second, "abc", &length), RPC_SUCCESS);
    ASSERT_EQ(second.callVoid(0), RPC_SUCCESS);

    EXPECT_EQ(server_->callCount(testProg, 1, 1), 4U);
    EXPECT_EQ(server_->callCount(testProg, 1, 0), 1U);
    EXPECT_EQ(server_->callCount(testProg), 5U);
    EXPECT_EQ(server_->clientPortCount(), 2U);
    EXPECT_EQ(server_->calls().size(), 5U);
    EXPECT_EQ(server_->portmapperClientPortCount(), 0U);

    server_->resetCounts();
    EXPECT_EQ(server_->callCount(testProg), 0U);
    EXPECT_EQ(server_->clientPortCount(), 0U);
    EXPECT_TRUE(server_->calls().empty());
}

TEST_F(ScriptedServerTest, SurvivesMalformedDatagramsOnBothSockets)
{
    Words valid = callHeader(42, testProg, 1, 1);
    valid.opaque("abc");
    const std::size_t headerLength = callHeader(42, testProg, 1, 1).bytes().size();

    // Every prefix of a valid call: those short of the header are malformed, the others are
    // calls whose arguments are cut short.
    for (std::size_t length = 0; length < valid.bytes().size(); ++length) {
        Bytes cut(valid.bytes().begin(), valid.bytes().begin() + static_cast<std::ptrdiff_t>(length));
        // Silence needs only a short wait; an answer gets time, as under an emulator.
        std::optional<Bytes> answer =
            exchange(server_->address(), server_->programPort(), cut, length < headerLength ? 20ms : 5s);
        if (length < headerLength) {
            EXPECT_FALSE(answer.has_value()) << "prefix of " << length;
        } else {
            ASSERT_TRUE(answer.has_value()) << "prefix of " << length;
            EXPECT_EQ(wordAt(*answer, 5), 4U) << "GARBAGE_ARGS for a prefix of " << length;
        }
    }
    EXPECT_EQ(malformedCountReaching(*server_, headerLength), headerLength);

    // A reply sent to a server, and a credential longer than its limit.
    Words reply;
    reply.u32(1).u32(1).u32(0);
    Words hugeCred;
    hugeCred.u32(1).u32(0).u32(2).u32(testProg).u32(1).u32(0).u32(1).u32(0xfffffff0);
    for (uint16_t port : {server_->programPort(), server_->portmapperPort()}) {
        EXPECT_FALSE(exchange(server_->address(), port, reply.bytes(), 50ms).has_value());
        EXPECT_FALSE(exchange(server_->address(), port, hugeCred.bytes(), 50ms).has_value());
    }
    EXPECT_EQ(malformedCountReaching(*server_, headerLength + 4), headerLength + 4);

    Client client(server_->address(), server_->programPort(), testProg, 1);
    EXPECT_EQ(client.callVoid(0), RPC_SUCCESS);
    Client pmap(server_->address(), server_->portmapperPort(), PMAPPROG, PMAPVERS);
    EXPECT_EQ(pmap.callVoid(PMAPPROC_NULL), RPC_SUCCESS);
}

TEST_F(ScriptedServerTest, RefusesOtherRpcVersionsAndUnreadableCredentials)
{
    std::optional<Bytes> answer =
        exchange(server_->address(), server_->programPort(), callHeader(5, testProg, 1, 0, 3).bytes());
    ASSERT_TRUE(answer.has_value());
    // xid, REPLY, MSG_DENIED, RPC_MISMATCH, low 2, high 2
    EXPECT_EQ(wordAt(*answer, 0), 5U);
    EXPECT_EQ(wordAt(*answer, 2), 1U);
    EXPECT_EQ(wordAt(*answer, 3), 0U);
    EXPECT_EQ(wordAt(*answer, 4), 2U);
    EXPECT_EQ(wordAt(*answer, 5), 2U);

    // An AUTH_UNIX body whose machine name runs past the body.
    Words badCred;
    badCred.u32(6).u32(0).u32(2).u32(testProg).u32(1).u32(0);
    badCred.u32(1).opaque(std::string("\0\0\0\0\0\0\0\x40", 8)).u32(0).u32(0);
    answer = exchange(server_->address(), server_->portmapperPort(), badCred.bytes());
    ASSERT_TRUE(answer.has_value());
    // xid, REPLY, MSG_DENIED, AUTH_ERROR, AUTH_BADCRED
    EXPECT_EQ(wordAt(*answer, 0), 6U);
    EXPECT_EQ(wordAt(*answer, 2), 1U);
    EXPECT_EQ(wordAt(*answer, 3), 1U);
    EXPECT_EQ(wordAt(*answer, 4), 1U);
    EXPECT_EQ(server_->malformedCount(), 2U);
}

TEST(ScriptedServerSetup, ServersGetAddressesOfTheirOwnAndCanTakeTheNfsPort)
{
    auto first = startServer();
    scripted::ServerOptions onNfsPort;
    onNfsPort.programPort = scripted::nfsPort;
    auto second = startServer(onNfsPort);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first->address(), second->address());
    EXPECT_EQ(second->programPort(), scripted::nfsPort);
    EXPECT_EQ(first->portmapperPort(), 111);

    scripted::ServerOptions taken;
    taken.address = first->address();
    std::string error;
    EXPECT_EQ(ScriptedServer::start(taken, &error), nullptr);
    EXPECT_NE(error.find("bind"), std::string::npos) << error;
    taken.address = "not-an-address";
    EXPECT_EQ(ScriptedServer::start(taken, &error), nullptr);
}

} // namespace
