// The TCP call path against servers that misbehave in ways no real server does on its own: one
// that is killed under a window of calls, one that keeps streaming bytes that answer nothing,
// one that closes after every reply and one that resets its connection every 32 to 96 KiB.
// The portmapper is the scripted server's; the program is served by a record server of the
// test's own on the same address.
#include "server/scriptedServer.h"

#include "core/nfsConfig.h"
#include "rpc/nfsRemoteCall.h"

#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <future>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kProg = 100003;
constexpr const char *kAddress = "127.0.0.91";
constexpr const char *kHost = "scripted-tcp-faults";
constexpr u_int kEcho = 4096;

using Clock = std::chrono::steady_clock;

// Procedure 1 echoes a byte string of up to kEcho bytes.
struct Echo {
    char *data;
    u_int length;
};
bool_t xdrEcho(XDR *xdrs, Echo *echo)
{
    return xdr_bytes(xdrs, &echo->data, &echo->length, kEcho);
}
char **echoBuffer(Echo &echo)
{
    return &echo.data;
}

// A program served over TCP, one connection at a time, in one of the ways above.
class RecordServer {
public:
    enum class Mode { answer, closeAfterReply, resetEvery, emptyFragments, foreignRecords, oneByteFragments };

    explicit RecordServer(Mode mode) : mode_(mode)
    {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = inet_addr(kAddress);
        const int on = 1;
        setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            listen(listener_, 8) != 0)
            return;
        socklen_t length = sizeof address;
        getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { run(); });
    }
    RecordServer(const RecordServer &) = delete;
    RecordServer &operator=(const RecordServer &) = delete;
    ~RecordServer() { kill(); }

    uint16_t port() const { return port_; }
    unsigned connections() const { return connections_.load(); }
    // Stops listening and drops the connection, as a server process that dies.
    void kill()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (listener_ >= 0)
            close(listener_);
        listener_ = -1;
    }

private:
    void run()
    {
        std::mt19937 random(7);
        while (!stop_) {
            pollfd waiting{listener_, POLLIN, 0};
            if (poll(&waiting, 1, 20) <= 0)
                continue;
            const int fd = accept(listener_, nullptr, nullptr);
            if (fd < 0)
                continue;
            ++connections_;
            const int on = 1; // answers go at once, as a server's do
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            const std::size_t resetAfter = 32768 + random() % 65536;
            serve(fd, resetAfter);
            close(fd);
        }
    }

    // Reads one record into *record; false when the connection ends or the server stops.
    bool readRecord(int fd, std::vector<uint8_t> *record)
    {
        record->clear();
        for (bool last = false; !last;) {
            uint32_t mark = 0;
            if (!readAll(fd, reinterpret_cast<uint8_t *>(&mark), sizeof mark))
                return false;
            mark = ntohl(mark);
            last = (mark & 0x80000000u) != 0;
            const std::size_t at = record->size();
            record->resize(at + (mark & 0x7fffffffu));
            if (!readAll(fd, record->data() + at, mark & 0x7fffffffu))
                return false;
        }
        return true;
    }

    bool readAll(int fd, uint8_t *into, std::size_t length)
    {
        std::size_t got = 0;
        while (got < length && !stop_) {
            pollfd waiting{fd, POLLIN, 0};
            if (poll(&waiting, 1, 20) <= 0)
                continue;
            const ssize_t read = recv(fd, into + got, length - got, 0);
            if (read <= 0)
                return false;
            got += static_cast<std::size_t>(read);
        }
        return got == length;
    }

    bool sendAll(int fd, const std::vector<uint8_t> &bytes)
    {
        std::size_t sent = 0;
        while (sent < bytes.size() && !stop_) {
            const ssize_t wrote = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (wrote <= 0)
                return false;
            sent += static_cast<std::size_t>(wrote);
        }
        return sent == bytes.size();
    }

    // An accepted reply to XID whose results are RESULTS, as one record.
    static std::vector<uint8_t> reply(uint32_t xid, const uint8_t *results, std::size_t length,
                                      bool last = true)
    {
        const uint32_t header[] = {htonl(xid), htonl(1), 0, 0, 0, 0};
        std::vector<uint8_t> bytes(4);
        bytes.insert(bytes.end(), reinterpret_cast<const uint8_t *>(header),
                     reinterpret_cast<const uint8_t *>(header) + sizeof header);
        bytes.insert(bytes.end(), results, results + length);
        const uint32_t mark = htonl((last ? 0x80000000u : 0) | static_cast<uint32_t>(bytes.size() - 4));
        std::memcpy(bytes.data(), &mark, 4);
        return bytes;
    }

    void serve(int fd, std::size_t resetAfter)
    {
        std::size_t sent = 0;
        std::vector<uint8_t> record;
        while (!stop_ && readRecord(fd, &record)) {
            scripted::RpcCall call;
            std::size_t argsAt = 0;
            if (scripted::decodeCall(record, &call, &argsAt) != scripted::CallDecode::ok)
                return;
            if (mode_ >= Mode::emptyFragments) {
                stream(fd, call.xid);
                return;
            }
            const std::vector<uint8_t> answer =
                reply(call.xid, record.data() + argsAt, record.size() - argsAt);
            if (!sendAll(fd, answer))
                return;
            sent += answer.size();
            if (mode_ == Mode::closeAfterReply)
                return;
            if (mode_ == Mode::resetEvery && sent >= resetAfter) {
                const linger reset{1, 0};
                setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
                return;
            }
        }
    }

    // Bytes that never answer XID, sent without a pause for up to six seconds.
    void stream(int fd, uint32_t xid)
    {
        const uint8_t nothing[4] = {};
        const std::vector<uint8_t> foreign = reply(xid ^ 0x5a5a5a5au, nothing, sizeof nothing);
        std::vector<uint8_t> chunk;
        if (mode_ == Mode::emptyFragments) {
            chunk.assign(4096, 0); // empty fragments, none of them the last
        } else if (mode_ == Mode::foreignRecords) {
            for (int i = 0; i < 64; ++i)
                chunk.insert(chunk.end(), foreign.begin(), foreign.end());
        } else {
            for (std::size_t i = 4; i < foreign.size(); ++i) { // the foreign record a byte a fragment
                const uint32_t mark = htonl((i + 1 == foreign.size() ? 0x80000000u : 0) | 1u);
                const auto *bytes = reinterpret_cast<const uint8_t *>(&mark);
                chunk.insert(chunk.end(), bytes, bytes + 4);
                chunk.push_back(foreign[i]);
            }
        }
        const Clock::time_point end = Clock::now() + std::chrono::seconds(6);
        while (!stop_ && Clock::now() < end && sendAll(fd, chunk)) {
        }
    }

    Mode mode_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::atomic<unsigned> connections_{0};
    std::thread thread_;
};

class RpcTcpFaults : public testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        portmapper_ = scripted::ScriptedServer::start({.address = kAddress}, &error);
        ASSERT_NE(portmapper_, nullptr) << error;
        ASSERT_EQ(hostAdd(kHost, kAddress), 0);
        nfsAuthUnixSet("scripted-client", 2001, 100, 0, nullptr);
        nfsTransport = NFS_TRANSPORT_TCP;
        nfsClientClose();
    }
    void TearDown() override
    {
        nfsClientClose();
        nfsTransport = NFS_TRANSPORT_UDP_WHERE_OFFERED;
        nfsTimeoutSec = savedTimeout_;
        nfsMaxInFlight = savedWindow_;
    }

    // The program over TCP on SERVER's port.
    void serve(const RecordServer &server)
    {
        ASSERT_NE(server.port(), 0);
        portmapper_->setRegistrations({{kProg, 3, scripted::ipprotoTcp, server.port()}});
    }

    // N echo calls of kEcho bytes each (at most kMostInFlight), their answers checked byte for
    // byte: the calls that failed, and how.
    static std::vector<int> echoBatch(std::size_t n, unsigned seed)
    {
        std::vector<std::vector<char>> out(n, std::vector<char>(kEcho));
        std::vector<std::vector<char>> in(n, std::vector<char>(kEcho));
        nfsrpc::Batch<Echo, Echo> batch(xdrEcho, xdrEcho, echoBuffer);
        for (std::size_t i = 0; i < n; ++i) {
            for (std::size_t b = 0; b < kEcho; ++b)
                out[i][b] = static_cast<char>(seed * 31 + i * 7 + b);
            batch.add({out[i].data(), kEcho}, {in[i].data(), kEcho});
        }
        batch.run({kHost, kProg, 3}, 1);
        std::vector<int> errors;
        for (std::size_t i = 0; i < n; ++i) {
            if (batch.error(i) != 0)
                errors.push_back(batch.error(i));
            else if (batch[i].length != kEcho || in[i] != out[i])
                errors.push_back(-1); // answered with other bytes
        }
        return errors;
    }

    // Runs WORK, which must end within LIMIT: a call that never ends cannot be left behind, so
    // the run is abandoned.
    template <typename Work> static auto bounded(Work work, std::chrono::seconds limit)
    {
        auto running = std::async(std::launch::async, work);
        if (running.wait_for(limit) != std::future_status::ready) {
            ADD_FAILURE() << "still running after " << limit.count() << " s";
            std::fflush(nullptr);
            std::_Exit(1);
        }
        return running.get();
    }

    std::unique_ptr<scripted::ScriptedServer> portmapper_;
    int32_t savedTimeout_ = nfsTimeoutSec;
    int32_t savedWindow_ = nfsMaxInFlight;
};

// The server dies under a window of calls: every call fails within its time-out and a second,
// the connection refused at every attempt.
TEST_F(RpcTcpFaults, AKilledServerEndsEveryCallByItsTimeOut)
{
    for (const int32_t window : {4, 16}) {
        RecordServer server(RecordServer::Mode::answer);
        serve(server);
        nfsMaxInFlight = window;
        nfsTimeoutSec = 2;
        Clock::duration took{};
        // The task that made the connection calls again after the server is gone.
        const std::vector<int> errors = bounded(
            [&server, &took] {
                if (!echoBatch(2, 1).empty())
                    return std::vector<int>{};
                server.kill();
                const Clock::time_point started = Clock::now();
                std::vector<int> failed = echoBatch(nfsrpc::kMostInFlight, 2);
                took = Clock::now() - started;
                nfsClientClose();
                return failed;
            },
            std::chrono::seconds(20));
        EXPECT_LT(took, std::chrono::seconds(nfsTimeoutSec + 1)) << window;
        EXPECT_EQ(errors.size(), nfsrpc::kMostInFlight) << window;
        for (const int error : errors)
            EXPECT_EQ(error, K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT) << window;
    }
}

// Bytes that keep arriving without answering the call do not keep it alive past its time-out.
TEST_F(RpcTcpFaults, AStreamThatAnswersNothingEndsTheCallAtItsTimeOut)
{
    using Mode = RecordServer::Mode;
    for (const Mode mode : {Mode::emptyFragments, Mode::foreignRecords, Mode::oneByteFragments}) {
        RecordServer server(mode);
        serve(server);
        nfsClientClose();
        nfsTimeoutSec = 1;
        const Clock::time_point started = Clock::now();
        const int error = bounded(
            [] {
                const int result = nfsClientCall(kHost, kProg, 3, 0, nfsXdrProc(xdr_void), nullptr,
                                                 nfsXdrProc(xdr_void), nullptr);
                const int failure = result == 0 ? 0 : errnoGet();
                nfsClientClose();
                return failure;
            },
            std::chrono::seconds(20));
        EXPECT_EQ(error, K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT) << static_cast<int>(mode);
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(nfsTimeoutSec + 1)) << static_cast<int>(mode);
    }
}

// Connections that break often: a server closing after every reply, and one resetting every 32
// to 96 KiB. The transfer completes byte-exact at every window, within twice the time of one
// call at a time.
TEST_F(RpcTcpFaults, ConnectionsThatBreakOftenStillCarryTheWindow)
{
    using Mode = RecordServer::Mode;
    constexpr int kBatches = 16; // 1 MiB each way
    for (const Mode mode : {Mode::closeAfterReply, Mode::resetEvery}) {
        Clock::duration oneAtATime{};
        for (const int32_t window : {1, 4, 16}) {
            RecordServer server(mode);
            serve(server);
            nfsClientClose();
            nfsTimeoutSec = 1;
            nfsMaxInFlight = window;
            const Clock::time_point started = Clock::now();
            const std::vector<int> errors = bounded(
                [] {
                    std::vector<int> all;
                    for (int i = 0; i < kBatches; ++i) {
                        const std::vector<int> batch =
                            echoBatch(nfsrpc::kMostInFlight, static_cast<unsigned>(i));
                        all.insert(all.end(), batch.begin(), batch.end());
                    }
                    nfsClientClose();
                    return all;
                },
                std::chrono::seconds(60));
            const Clock::duration took = Clock::now() - started;
            EXPECT_TRUE(errors.empty())
                << static_cast<int>(mode) << " window " << window << ": " << errors.size()
                << " failed, the first " << std::hex << (errors.empty() ? 0 : errors.front());
            EXPECT_GT(server.connections(), 1u);
            if (window == 1)
                oneAtATime = took;
            else
                EXPECT_LT(took, 2 * oneAtATime + std::chrono::milliseconds(250))
                    << static_cast<int>(mode) << " window " << window;
        }
    }
}

} // namespace
