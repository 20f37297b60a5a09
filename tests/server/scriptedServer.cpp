#include "server/scriptedServer.h"

#include <arpa/inet.h>

#include <algorithm>
#include <iterator>
#include <utility>

namespace scripted {
namespace {

// Keeps the call record from growing without bound in long tests.
constexpr std::size_t maxRecordedCalls = 10000;
constexpr uint32_t autoAddressFirst = 0x7f000002; // 127.0.0.2
constexpr uint32_t autoAddressLast = 0x7f0000fd;  // 127.0.0.253; .254 belongs to the real peers
constexpr uint32_t authBadCred = 1;

std::string dotted(uint32_t address)
{
    in_addr in{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

std::optional<Outgoing> outgoing(uint32_t xid, const Reply &reply, const Behaviour &behaviour)
{
    std::optional<Bytes> bytes = encodeReply(xid, reply);
    if (!bytes) {
        return std::nullopt;
    }
    auto delay = behaviour.mode == Behaviour::Mode::answer ? std::chrono::milliseconds(0) : behaviour.delay;
    return Outgoing{std::move(*bytes), delay};
}

// struct pmaplist { mapping map; pmaplist *next; }, sent as a TRUE word before each
// mapping and a FALSE word after the last.
bool encodeMappingList(XDR *xdrs, const std::vector<Mapping> &mappings)
{
    for (Mapping mapping : mappings) {
        bool_t more = TRUE;
        if (!xdr_bool(xdrs, &more) || !xdr_u_int(xdrs, &mapping.prog) || !xdr_u_int(xdrs, &mapping.vers) ||
            !xdr_u_int(xdrs, &mapping.prot) || !xdr_u_int(xdrs, &mapping.port)) {
            return false;
        }
    }
    bool_t end = FALSE;
    return xdr_bool(xdrs, &end) != 0;
}

constexpr uint32_t nfsProgram = 100003;
constexpr uint32_t nfsVersion3 = 3;
constexpr uint32_t nfs3ErrJukebox = 10008;

// NFS3ERR_JUKEBOX for version 3 procedure PROC: the status, then the procedure's failure arm
// with every attribute left out (each post_op_attr and pre_op_attr a FALSE word; a wcc_data is
// two of them, RENAME has two, LINK one attribute and one wcc_data, GETATTR none).
Reply retryLaterReply(uint32_t proc)
{
    static constexpr uint32_t emptyAttributes[] = {0, 0, 2, 1, 1, 1, 1, 2, 2, 2, 2,
                                                   2, 2, 2, 4, 3, 1, 1, 1, 1, 1, 2};
    const uint32_t words = proc < std::size(emptyAttributes) ? emptyAttributes[proc] : 0;
    return Reply::ok([words](XDR *xdrs) {
        uint32_t status = nfs3ErrJukebox;
        bool_t absent = FALSE;
        bool ok = xdr_u_int(xdrs, &status) != 0;
        for (uint32_t i = 0; ok && i < words; ++i)
            ok = xdr_bool(xdrs, &absent) != 0;
        return ok;
    });
}

} // namespace

std::unique_ptr<ScriptedServer> ScriptedServer::start(const ServerOptions &options, std::string *error)
{
    uint32_t first = autoAddressFirst;
    uint32_t last = autoAddressLast;
    if (!options.address.empty()) {
        in_addr in{};
        if (inet_pton(AF_INET, options.address.c_str(), &in) != 1) {
            *error = "not an IPv4 address: " + options.address;
            return nullptr;
        }
        first = last = ntohl(in.s_addr);
    }
    for (uint32_t address = first; address <= last; ++address) {
        auto portmapper = UdpEndpoint::bind(address, options.portmapperPort, error);
        if (!portmapper) {
            continue;
        }
        auto program = UdpEndpoint::bind(address, options.programPort, error);
        if (!program) {
            continue;
        }
        TcpEndpoints tcp;
        if (options.tcp) {
            tcp.portmapper = TcpEndpoint::listen(address, portmapper->port(), error);
            tcp.program = TcpEndpoint::listen(address, program->port(), error);
            if (!tcp.portmapper || !tcp.program) {
                continue;
            }
        }
        std::unique_ptr<ScriptedServer> server(
            new ScriptedServer(dotted(address), std::move(portmapper), std::move(program), std::move(tcp)));
        if (!server->startThreads(error)) {
            return nullptr;
        }
        return server;
    }
    return nullptr;
}

ScriptedServer::ScriptedServer(std::string address, std::unique_ptr<UdpEndpoint> portmapper,
                               std::unique_ptr<UdpEndpoint> program, TcpEndpoints tcp)
    : address_(std::move(address)), portmapperEndpoint_(std::move(portmapper)),
      programEndpoint_(std::move(program)), tcp_(std::move(tcp))
{
}

ScriptedServer::~ScriptedServer()
{
    portmapperEndpoint_->stop();
    programEndpoint_->stop();
    for (const auto &endpoint : {tcp_.portmapper.get(), tcp_.program.get()}) {
        if (endpoint != nullptr) {
            endpoint->stop();
        }
    }
}

bool ScriptedServer::startThreads(std::string *error)
{
    if (tcp_.program &&
        (!tcp_.program->start(
             [this](auto record, const auto &from) { return onProgramDatagram(record, from); }, error) ||
         !tcp_.portmapper->start(
             [this](auto record, const auto &from) { return onPortmapperDatagram(record, from); }, error))) {
        return false;
    }
    return programEndpoint_->start(
               [this](auto datagram, const auto &from) { return onProgramDatagram(datagram, from); },
               error) &&
           portmapperEndpoint_->start(
               [this](auto datagram, const auto &from) { return onPortmapperDatagram(datagram, from); },
               error);
}

void ScriptedServer::handle(uint32_t prog, uint32_t vers, uint32_t proc, Handler handler)
{
    std::lock_guard lock(mutex_);
    handlers_[{prog, vers, proc}] = std::move(handler);
}

void ScriptedServer::removeProgram(uint32_t prog)
{
    std::lock_guard lock(mutex_);
    std::erase_if(handlers_, [prog](const auto &entry) { return std::get<0>(entry.first) == prog; });
}

void ScriptedServer::handlePortmapper(uint32_t proc, Handler handler)
{
    std::lock_guard lock(mutex_);
    portmapperHandlers_[proc] = std::move(handler);
}

void ScriptedServer::setRegistrations(std::vector<Mapping> mappings)
{
    std::lock_guard lock(mutex_);
    explicitRegistrations_ = std::move(mappings);
}

void ScriptedServer::clearRegistrations()
{
    std::lock_guard lock(mutex_);
    explicitRegistrations_.reset();
}

std::vector<Mapping> ScriptedServer::registrations() const
{
    std::lock_guard lock(mutex_);
    return registrationsLocked();
}

std::vector<Mapping> ScriptedServer::registrationsLocked() const
{
    if (explicitRegistrations_) {
        return *explicitRegistrations_;
    }
    // A portmapper lists itself, as a real one does.
    std::vector<Mapping> mappings{
        {portmapperProgram, portmapperVersion, ipprotoUdp, portmapperEndpoint_->port()}};
    if (tcp_.portmapper) {
        mappings.push_back({portmapperProgram, portmapperVersion, ipprotoTcp, tcp_.portmapper->port()});
    }
    for (const auto &[key, handler] : handlers_) {
        for (const uint32_t prot : {ipprotoUdp, ipprotoTcp}) {
            Mapping mapping{std::get<0>(key), std::get<1>(key), prot, programEndpoint_->port()};
            if ((prot == ipprotoUdp || tcp_.program) &&
                std::find(mappings.begin(), mappings.end(), mapping) == mappings.end()) {
                mappings.push_back(mapping);
            }
        }
    }
    return mappings;
}

void ScriptedServer::setPortmapperBehaviour(Behaviour behaviour)
{
    std::lock_guard lock(mutex_);
    portmapperBehaviour_ = behaviour;
}

void ScriptedServer::setProgramBehaviour(uint32_t prog, Behaviour behaviour)
{
    std::lock_guard lock(mutex_);
    programBehaviours_[prog] = behaviour;
    reversedCalls_ = 0;
}

void ScriptedServer::setRetryLater(int calls)
{
    std::lock_guard lock(mutex_);
    retryLater_ = calls;
}

uint64_t ScriptedServer::callCount(uint32_t prog, uint32_t vers, uint32_t proc) const
{
    std::lock_guard lock(mutex_);
    auto found = callCounts_.find({prog, vers, proc});
    return found == callCounts_.end() ? 0 : found->second;
}

uint64_t ScriptedServer::callCount(uint32_t prog) const
{
    std::lock_guard lock(mutex_);
    uint64_t total = 0;
    for (const auto &[key, count] : callCounts_) {
        if (std::get<0>(key) == prog) {
            total += count;
        }
    }
    return total;
}

uint64_t ScriptedServer::portmapperCallCount(uint32_t proc) const
{
    std::lock_guard lock(mutex_);
    auto found = portmapperCounts_.find(proc);
    return found == portmapperCounts_.end() ? 0 : found->second;
}

uint64_t ScriptedServer::malformedCount() const
{
    std::lock_guard lock(mutex_);
    return malformed_;
}

std::size_t ScriptedServer::clientPortCount() const
{
    std::lock_guard lock(mutex_);
    return clientPorts_.size();
}

std::size_t ScriptedServer::portmapperClientPortCount() const
{
    std::lock_guard lock(mutex_);
    return portmapperClientPorts_.size();
}

std::vector<RpcCall> ScriptedServer::calls() const
{
    std::lock_guard lock(mutex_);
    return calls_;
}

std::optional<RpcCall> ScriptedServer::lastCall(uint32_t prog, uint32_t vers, uint32_t proc) const
{
    std::lock_guard lock(mutex_);
    auto found = std::find_if(calls_.rbegin(), calls_.rend(), [&](const RpcCall &call) {
        return call.prog == prog && call.vers == vers && call.proc == proc;
    });
    if (found == calls_.rend()) {
        return std::nullopt;
    }
    return *found;
}

void ScriptedServer::resetCounts()
{
    std::lock_guard lock(mutex_);
    callCounts_.clear();
    portmapperCounts_.clear();
    malformed_ = 0;
    clientPorts_.clear();
    portmapperClientPorts_.clear();
    calls_.clear();
}

std::optional<RpcCall> ScriptedServer::acceptCall(std::span<const uint8_t> datagram, const sockaddr_in &from,
                                                  std::size_t *argsOffset, std::optional<Outgoing> *refusal)
{
    RpcCall call;
    call.clientAddr = ntohl(from.sin_addr.s_addr);
    call.clientPort = ntohs(from.sin_port);
    CallDecode decoded = decodeCall(datagram, &call, argsOffset);
    if (decoded == CallDecode::ok) {
        return call;
    }
    {
        std::lock_guard lock(mutex_);
        ++malformed_;
    }
    if (decoded == CallDecode::rpcMismatch) {
        Reply reply = Reply::of(ReplyKind::rpcMismatch);
        reply.low = reply.high = 2;
        *refusal = outgoing(call.xid, reply, Behaviour::answer());
    } else if (decoded == CallDecode::badCred) {
        Reply reply = Reply::of(ReplyKind::authError);
        reply.authStat = authBadCred;
        *refusal = outgoing(call.xid, reply, Behaviour::answer());
    }
    return std::nullopt;
}

std::optional<Outgoing> ScriptedServer::onProgramDatagram(std::span<const uint8_t> datagram,
                                                          const sockaddr_in &from)
{
    std::size_t argsOffset = 0;
    std::optional<Outgoing> refusal;
    std::optional<RpcCall> call = acceptCall(datagram, from, &argsOffset, &refusal);
    if (!call) {
        return refusal;
    }
    Behaviour behaviour;
    bool later = false;
    {
        std::lock_guard lock(mutex_);
        ++callCounts_[{call->prog, call->vers, call->proc}];
        clientPorts_.insert(call->clientPort);
        if (calls_.size() >= maxRecordedCalls) {
            calls_.erase(calls_.begin(), calls_.begin() + maxRecordedCalls / 2);
        }
        calls_.push_back(*call);
        auto found = programBehaviours_.find(call->prog);
        if (found != programBehaviours_.end()) {
            behaviour = found->second;
        }
        if (behaviour.mode == Behaviour::Mode::reverse) {
            const unsigned place = reversedCalls_++ % behaviour.group;
            behaviour.delay *= behaviour.group - place;
        }
        if (call->prog == nfsProgram && call->vers == nfsVersion3 && call->proc != 0 && retryLater_ != 0 &&
            behaviour.mode != Behaviour::Mode::silent) {
            retryLater_ -= retryLater_ > 0 ? 1 : 0;
            later = true;
        }
    }
    if (later) {
        return outgoing(call->xid, retryLaterReply(call->proc), behaviour);
    }
    if (behaviour.mode == Behaviour::Mode::silent) {
        return std::nullopt;
    }
    XDR args{};
    xdrmem_create(&args, const_cast<char *>(reinterpret_cast<const char *>(datagram.data() + argsOffset)),
                  static_cast<u_int>(datagram.size() - argsOffset), XDR_DECODE);
    Reply reply = dispatchProgram(*call, &args);
    xdr_destroy(&args);
    return outgoing(call->xid, reply, behaviour);
}

Reply ScriptedServer::dispatchProgram(const RpcCall &call, XDR *args)
{
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        auto found = handlers_.find({call.prog, call.vers, call.proc});
        if (found != handlers_.end()) {
            handler = found->second;
        } else {
            auto first = handlers_.lower_bound({call.prog, 0, 0});
            auto end = handlers_.upper_bound({call.prog, UINT32_MAX, UINT32_MAX});
            if (first == end) {
                return Reply::of(ReplyKind::progUnavail);
            }
            bool versionKnown = std::any_of(
                first, end, [&](const auto &entry) { return std::get<1>(entry.first) == call.vers; });
            if (!versionKnown) {
                return Reply::progMismatch(std::get<1>(first->first), std::get<1>(std::prev(end)->first));
            }
            return call.proc == 0 ? Reply::ok() : Reply::of(ReplyKind::procUnavail);
        }
    }
    return handler(call, args);
}

std::optional<Outgoing> ScriptedServer::onPortmapperDatagram(std::span<const uint8_t> datagram,
                                                             const sockaddr_in &from)
{
    std::size_t argsOffset = 0;
    std::optional<Outgoing> refusal;
    std::optional<RpcCall> call = acceptCall(datagram, from, &argsOffset, &refusal);
    if (!call) {
        return refusal;
    }
    Behaviour behaviour;
    {
        std::lock_guard lock(mutex_);
        portmapperClientPorts_.insert(call->clientPort);
        if (call->prog == portmapperProgram && call->vers == portmapperVersion) {
            ++portmapperCounts_[call->proc];
        }
        behaviour = portmapperBehaviour_;
    }
    if (behaviour.mode == Behaviour::Mode::silent) {
        return std::nullopt;
    }
    XDR args{};
    xdrmem_create(&args, const_cast<char *>(reinterpret_cast<const char *>(datagram.data() + argsOffset)),
                  static_cast<u_int>(datagram.size() - argsOffset), XDR_DECODE);
    Reply reply = dispatchPortmapper(*call, &args);
    xdr_destroy(&args);
    return outgoing(call->xid, reply, behaviour);
}

Reply ScriptedServer::dispatchPortmapper(const RpcCall &call, XDR *args)
{
    if (call.prog != portmapperProgram) {
        return Reply::of(ReplyKind::progUnavail);
    }
    if (call.vers != portmapperVersion) {
        return Reply::progMismatch(portmapperVersion, portmapperVersion);
    }
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        auto found = portmapperHandlers_.find(call.proc);
        if (found == portmapperHandlers_.end()) {
            return builtinPortmapper(call, args);
        }
        handler = found->second;
    }
    return handler(call, args);
}

// Runs under the lock: reads the registrations only.
Reply ScriptedServer::builtinPortmapper(const RpcCall &call, XDR *args) const
{
    switch (call.proc) {
    case pmapProcNull: return Reply::ok();
    case pmapProcGetPort: {
        Mapping wanted;
        if (!xdr_u_int(args, &wanted.prog) || !xdr_u_int(args, &wanted.vers) ||
            !xdr_u_int(args, &wanted.prot) || !xdr_u_int(args, &wanted.port)) {
            return Reply::of(ReplyKind::garbageArgs);
        }
        uint32_t port = 0;
        for (const Mapping &mapping : registrationsLocked()) {
            if (mapping.prog == wanted.prog && mapping.vers == wanted.vers && mapping.prot == wanted.prot) {
                port = mapping.port;
                break;
            }
        }
        return Reply::ok(xdr_u_int, port);
    }
    case pmapProcDump: {
        std::vector<Mapping> mappings = registrationsLocked();
        return Reply::ok([mappings](XDR *xdrs) { return encodeMappingList(xdrs, mappings); });
    }
    default: return Reply::of(ReplyKind::procUnavail);
    }
}

} // namespace scripted
