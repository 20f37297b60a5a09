// The scripted test server: ONC RPC over UDP (and, when asked, TCP) on a loopback address of
// its own, with a portmapper responder on port 111 and one port for the programs a test adds. Each
// (program, version, procedure) has a handler; switches make the portmapper or a program
// silent or slow; every call is counted and recorded so that a test can check what a client
// sent. It stands in for a real server where none produces what a test needs: faults,
// malformed replies, registrations of its choosing, NFS version 2.
//
// Threads: one per socket. Handlers run on the program sockets' threads (portmapper
// overrides on the portmapper's), never under the server's lock, so a handler may call the
// server's accessors. Everything else is safe to call from any thread.
#ifndef TESTS_SERVER_SCRIPTEDSERVER_H
#define TESTS_SERVER_SCRIPTEDSERVER_H

#include "server/rpcMessage.h"
#include "server/tcpEndpoint.h"
#include "server/udpEndpoint.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace scripted {

inline constexpr uint32_t portmapperProgram = 100000;
inline constexpr uint32_t portmapperVersion = 2;
inline constexpr uint32_t pmapProcNull = 0;
inline constexpr uint32_t pmapProcGetPort = 3;
inline constexpr uint32_t pmapProcDump = 4;
inline constexpr uint32_t ipprotoTcp = 6;
inline constexpr uint32_t ipprotoUdp = 17;
inline constexpr uint16_t nfsPort = 2049;

// How the portmapper or a program treats the calls it gets. A silent one counts and records
// calls but runs no handler and sends nothing; a delayed one answers after the delay; a
// reversing one answers each group of `group` calls last first: the k-th call of a group
// (from 0) waits (group - k) delays, so that calls sent together are answered in reverse.
struct Behaviour {
    enum class Mode { answer, silent, delay, reverse };
    Mode mode = Mode::answer;
    std::chrono::milliseconds delay{0};
    unsigned group = 1;

    static Behaviour answer() { return {}; }
    static Behaviour silent() { return {Mode::silent, {}}; }
    static Behaviour delayed(std::chrono::milliseconds ms) { return {Mode::delay, ms}; }
    static Behaviour reversed(unsigned group, std::chrono::milliseconds step)
    {
        return {Mode::reverse, step, group > 0 ? group : 1};
    }
};

// struct mapping { unsigned int prog; unsigned int vers; unsigned int prot; unsigned int port; };
struct Mapping {
    uint32_t prog = 0;
    uint32_t vers = 0;
    uint32_t prot = ipprotoUdp;
    uint32_t port = 0;
    bool operator==(const Mapping &) const = default;
};

// Gets the decoded call and a stream positioned at its arguments; returns the answer.
using Handler = std::function<Reply(const RpcCall &call, XDR *args)>;

struct ServerOptions {
    // Dotted loopback address. Empty: the first of 127.0.0.2 .. 127.0.0.253 whose ports are
    // free, so that servers of concurrent test runs do not meet.
    std::string address;
    // 0 for an ephemeral port; nfsPort for clients that fall back to it.
    uint16_t programPort = 0;
    uint16_t portmapperPort = 111;
    // Also serve the portmapper and the programs over TCP (record marking), on the same port
    // numbers, and register the programs for both transports.
    bool tcp = false;
};

class ScriptedServer {
public:
    // Binds both sockets and starts their threads. Null on failure, with the reason in *error.
    static std::unique_ptr<ScriptedServer> start(const ServerOptions &options, std::string *error);

    ScriptedServer(const ScriptedServer &) = delete;
    ScriptedServer &operator=(const ScriptedServer &) = delete;
    ~ScriptedServer(); // stops and joins both threads

    const std::string &address() const { return address_; }
    uint16_t programPort() const { return programEndpoint_->port(); }
    uint16_t portmapperPort() const { return portmapperEndpoint_->port(); }

    // Program table. A version with at least one handler also answers NULL (procedure 0)
    // unless that has a handler of its own. Calls to an unknown program get PROG_UNAVAIL,
    // to an unknown version PROG_MISMATCH with the lowest and highest known versions, to an
    // unknown procedure PROC_UNAVAIL.
    void handle(uint32_t prog, uint32_t vers, uint32_t proc, Handler handler);
    void removeProgram(uint32_t prog);
    // Replaces the built-in portmapper procedure PROC (NULL, GETPORT, DUMP, or any other).
    void handlePortmapper(uint32_t proc, Handler handler);

    // Portmapper registrations. By default the portmapper itself and every version in the
    // program table, over UDP on the program port; an explicit list replaces that until cleared.
    void setRegistrations(std::vector<Mapping> mappings);
    void clearRegistrations();
    std::vector<Mapping> registrations() const;

    void setPortmapperBehaviour(Behaviour behaviour);
    void setProgramBehaviour(uint32_t prog, Behaviour behaviour);
    // NFS version 3's "try again later": the next `calls` calls of NFS version 3 (NULL aside)
    // are answered NFS3ERR_JUKEBOX, with empty attributes, before any handler runs; a negative
    // count answers every call so until the count is set again.
    void setRetryLater(int calls);

    // Counts since start or the last resetCounts. Malformed datagrams are those that are not
    // an RPC version 2 call with a readable credential, on either socket.
    uint64_t callCount(uint32_t prog, uint32_t vers, uint32_t proc) const;
    uint64_t callCount(uint32_t prog) const;
    uint64_t portmapperCallCount(uint32_t proc) const;
    uint64_t malformedCount() const;
    // Distinct client source ports seen on the program port and on the portmapper port.
    std::size_t clientPortCount() const;
    std::size_t portmapperClientPortCount() const;
    // The calls on the program port, oldest first (the most recent ones, if there were many).
    std::vector<RpcCall> calls() const;
    std::optional<RpcCall> lastCall(uint32_t prog, uint32_t vers, uint32_t proc) const;
    void resetCounts();

private:
    using ProcKey = std::tuple<uint32_t, uint32_t, uint32_t>;

    struct TcpEndpoints {
        std::unique_ptr<TcpEndpoint> portmapper;
        std::unique_ptr<TcpEndpoint> program;
    };
    ScriptedServer(std::string address, std::unique_ptr<UdpEndpoint> portmapper,
                   std::unique_ptr<UdpEndpoint> program, TcpEndpoints tcp);
    bool startThreads(std::string *error);

    std::optional<Outgoing> onProgramDatagram(std::span<const uint8_t> datagram, const sockaddr_in &from);
    std::optional<Outgoing> onPortmapperDatagram(std::span<const uint8_t> datagram, const sockaddr_in &from);
    // Decodes the header, counting and answering what is not a usable call.
    std::optional<RpcCall> acceptCall(std::span<const uint8_t> datagram, const sockaddr_in &from,
                                      std::size_t *argsOffset, std::optional<Outgoing> *refusal);
    Reply dispatchProgram(const RpcCall &call, XDR *args);
    Reply dispatchPortmapper(const RpcCall &call, XDR *args);
    Reply builtinPortmapper(const RpcCall &call, XDR *args) const;
    std::vector<Mapping> registrationsLocked() const;

    const std::string address_;
    std::unique_ptr<UdpEndpoint> portmapperEndpoint_;
    std::unique_ptr<UdpEndpoint> programEndpoint_;
    TcpEndpoints tcp_; // null unless asked for

    // Guards every member below. Never held while a handler runs.
    mutable std::mutex mutex_;
    std::map<ProcKey, Handler> handlers_;
    std::map<uint32_t, Handler> portmapperHandlers_;
    std::optional<std::vector<Mapping>> explicitRegistrations_;
    Behaviour portmapperBehaviour_;
    std::map<uint32_t, Behaviour> programBehaviours_;
    unsigned reversedCalls_ = 0; // calls a reversing program got since its behaviour was set
    int retryLater_ = 0;         // NFS version 3 calls still to answer NFS3ERR_JUKEBOX
    std::map<ProcKey, uint64_t> callCounts_;
    std::map<uint32_t, uint64_t> portmapperCounts_;
    uint64_t malformed_ = 0;
    std::set<uint16_t> clientPorts_;
    std::set<uint16_t> portmapperClientPorts_;
    std::vector<RpcCall> calls_;
};

// Decodes the arguments with ENCODER into *VALUE; a handler answers GARBAGE_ARGS when this
// fails. The value is released through XDR_FREE by the returned guard.
template <typename T> class DecodedArgs {
public:
    DecodedArgs(XDR *args, bool_t (*decoder)(XDR *, T *)) : decoder_(decoder)
    {
        ok_ = decoder_(args, &value_) != 0;
    }
    DecodedArgs(const DecodedArgs &) = delete;
    DecodedArgs &operator=(const DecodedArgs &) = delete;
    ~DecodedArgs()
    {
        // The library's routine type is variadic; a cast through void (*)() says the change is meant.
        xdr_free(reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(decoder_)),
                 reinterpret_cast<char *>(&value_));
    }

    bool ok() const { return ok_; }
    T &value() { return value_; }

private:
    bool_t (*decoder_)(XDR *, T *);
    T value_{};
    bool ok_ = false;
};

} // namespace scripted

#endif
