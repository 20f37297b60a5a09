// The module's call counters: the slots, their totals, printing and zeroing.
#include "rpc/nfsRpcStats.h"

#include <brisnel/nfsStatLib.h>

#include <netinet/in.h>

#include <array>
#include <cinttypes>
#include <cstddef>
#include <cstdio>
#include <span>

namespace {

constexpr uint32_t kNfsProgram = 100003;
constexpr uint32_t kMountProgram = 100005;
constexpr uint32_t kPortmapperProgram = 100000;

constexpr std::array kNfs3Procedures{"NULL",   "GETATTR", "SETATTR",  "LOOKUP", "ACCESS",  "READLINK",
                                     "READ",   "WRITE",   "CREATE",   "MKDIR",  "SYMLINK", "MKNOD",
                                     "REMOVE", "RMDIR",   "RENAME",   "LINK",   "READDIR", "READDIRPLUS",
                                     "FSSTAT", "FSINFO",  "PATHCONF", "COMMIT"};
constexpr std::array kNfs2Procedures{"NULL", "GETATTR",    "SETATTR", "ROOT",   "LOOKUP",  "READLINK",
                                     "READ", "WRITECACHE", "WRITE",   "CREATE", "REMOVE",  "RENAME",
                                     "LINK", "SYMLINK",    "MKDIR",   "RMDIR",  "READDIR", "STATFS"};
constexpr std::array kNfs4Procedures{"NULL", "COMPOUND"};
// The operations of versions 4.0 and 4.1 by number (RFC 8881 section 16.2); 0 to 2 are none.
constexpr std::array kNfs4Operations{"",
                                     "",
                                     "",
                                     "ACCESS",
                                     "CLOSE",
                                     "COMMIT",
                                     "CREATE",
                                     "DELEGPURGE",
                                     "DELEGRETURN",
                                     "GETATTR",
                                     "GETFH",
                                     "LINK",
                                     "LOCK",
                                     "LOCKT",
                                     "LOCKU",
                                     "LOOKUP",
                                     "LOOKUPP",
                                     "NVERIFY",
                                     "OPEN",
                                     "OPENATTR",
                                     "OPEN_CONFIRM",
                                     "OPEN_DOWNGRADE",
                                     "PUTFH",
                                     "PUTPUBFH",
                                     "PUTROOTFH",
                                     "READ",
                                     "READDIR",
                                     "READLINK",
                                     "REMOVE",
                                     "RENAME",
                                     "RENEW",
                                     "RESTOREFH",
                                     "SAVEFH",
                                     "SECINFO",
                                     "SETATTR",
                                     "SETCLIENTID",
                                     "SETCLIENTID_CONFIRM",
                                     "VERIFY",
                                     "WRITE",
                                     "RELEASE_LOCKOWNER",
                                     "BACKCHANNEL_CTL",
                                     "BIND_CONN_TO_SESSION",
                                     "EXCHANGE_ID",
                                     "CREATE_SESSION",
                                     "DESTROY_SESSION",
                                     "FREE_STATEID",
                                     "GET_DIR_DELEGATION",
                                     "GETDEVICEINFO",
                                     "GETDEVICELIST",
                                     "LAYOUTCOMMIT",
                                     "LAYOUTGET",
                                     "LAYOUTRETURN",
                                     "SECINFO_NO_NAME",
                                     "SEQUENCE",
                                     "SET_SSV",
                                     "TEST_STATEID",
                                     "WANT_DELEGATION",
                                     "DESTROY_CLIENTID",
                                     "RECLAIM_COMPLETE"};
constexpr std::array kMountProcedures{"NULL", "MNT", "DUMP", "UMNT", "UMNTALL", "EXPORT"};
constexpr std::array kPortmapperProcedures{"NULL", "SET", "UNSET", "GETPORT", "DUMP", "CALLIT"};

struct Group {
    const char *program;
    std::span<const char *const> procedures;
};

constexpr std::array<Group, 5> kGroups{{{"NFS3", kNfs3Procedures},
                                        {"NFS2", kNfs2Procedures},
                                        {"NFS4", kNfs4Procedures},
                                        {"MOUNT", kMountProcedures},
                                        {"PMAP", kPortmapperProcedures}}};

constexpr std::size_t slotsBefore(std::size_t group)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < group; ++i)
        count += kGroups[i].procedures.size();
    return count;
}

// One slot per procedure of every group, then the one for everything else.
constexpr std::size_t kOtherSlot = slotsBefore(kGroups.size());
constexpr std::size_t kSlotsPerTransport = kOtherSlot + 1;

struct Transport {
    int protocol;
    const char *name;
};
constexpr std::array<Transport, 2> kTransports{{{IPPROTO_UDP, "udp"}, {IPPROTO_TCP, "tcp"}}};

std::array<std::array<NfsStatSlot, kSlotsPerTransport>, kTransports.size()> slots;

// The operations sent in COMPOUNDs, by number, the last for any other (an operation of a later
// minor version).
std::array<NfsWideCounter, kNfs4Operations.size() + 1> operations;

std::size_t transportIndex(int transport)
{
    return transport == IPPROTO_TCP ? 1 : 0;
}

std::size_t slotIndex(uint32_t prog, uint32_t vers, uint32_t proc)
{
    std::size_t group = kGroups.size();
    if (prog == kNfsProgram && vers == 3)
        group = 0;
    else if (prog == kNfsProgram && vers == 2)
        group = 1;
    else if (prog == kNfsProgram && vers == 4)
        group = 2;
    else if (prog == kMountProgram)
        group = 3;
    else if (prog == kPortmapperProgram)
        group = 4;
    if (group == kGroups.size() || proc >= kGroups[group].procedures.size())
        return kOtherSlot;
    return slotsBefore(group) + proc;
}

void addInto(NfsStatCounts *sum, const NfsStatSlot &slot)
{
    sum->calls += slot.calls.value();
    sum->retransmissions += slot.retransmissions.value();
    sum->timeouts += slot.timeouts.value();
    sum->reconnects += slot.reconnects.value();
    sum->bytesSent += slot.bytesSent.value();
    sum->bytesReceived += slot.bytesReceived.value();
}

void printRow(const char *transport, const char *program, const char *procedure, const NfsStatCounts &c)
{
    std::printf("%-4s %-6s %-20s %10" PRIu64 " %8" PRIu64 " %8" PRIu64 " %8" PRIu64 " %14" PRIu64
                " %14" PRIu64 "\n",
                transport, program, procedure, c.calls, c.retransmissions, c.timeouts, c.reconnects,
                c.bytesSent, c.bytesReceived);
}

// A row per operation sent, its count in the calls column: an operation is not a call of its own.
void printOperations()
{
    for (std::size_t op = 0; op < operations.size(); ++op) {
        NfsStatCounts counts{};
        counts.calls = operations[op].value();
        if (counts.calls != 0)
            printRow("op", "NFS4", op < kNfs4Operations.size() ? kNfs4Operations[op] : "-", counts);
    }
}

} // namespace

void nfsStatOperation(uint32_t op)
{
    operations[op < kNfs4Operations.size() && op > 2 ? op : kNfs4Operations.size()].add(1);
}

NfsStatSlot &nfsStatSlot(int transport, uint32_t prog, uint32_t vers, uint32_t proc)
{
    return slots[transportIndex(transport)][slotIndex(prog, vers, proc)];
}

extern "C" {

int nfsStatGet(int transport, NfsStatCounts *pCounts)
{
    if (pCounts == nullptr || (transport != IPPROTO_UDP && transport != IPPROTO_TCP))
        return -1;
    *pCounts = NfsStatCounts{};
    for (const NfsStatSlot &slot : slots[transportIndex(transport)])
        addInto(pCounts, slot);
    return 0;
}

void nfsStatShow(void)
{
    std::printf("%-4s %-6s %-20s %10s %8s %8s %8s %14s %14s\n", "net", "prog", "procedure", "calls",
                "retrans", "timeouts", "reconn", "bytes sent", "bytes received");
    for (std::size_t t = 0; t < kTransports.size(); ++t) {
        for (std::size_t g = 0; g <= kGroups.size(); ++g) {
            const std::size_t count = g < kGroups.size() ? kGroups[g].procedures.size() : 1;
            for (std::size_t p = 0; p < count; ++p) {
                const std::size_t index = g < kGroups.size() ? slotsBefore(g) + p : kOtherSlot;
                NfsStatCounts counts{};
                addInto(&counts, slots[t][index]);
                if (counts.calls == 0 && counts.bytesReceived == 0)
                    continue;
                printRow(kTransports[t].name, g < kGroups.size() ? kGroups[g].program : "other",
                         g < kGroups.size() ? kGroups[g].procedures[p] : "-", counts);
            }
        }
        NfsStatCounts total{};
        nfsStatGet(kTransports[t].protocol, &total);
        printRow(kTransports[t].name, "total", "", total);
    }
    printOperations();
    std::fflush(stdout);
}

void nfsStatZero(void)
{
    for (auto &transport : slots) {
        for (NfsStatSlot &slot : transport) {
            slot.calls.zero();
            slot.retransmissions.zero();
            slot.timeouts.zero();
            slot.reconnects.zero();
            slot.bytesSent.zero();
            slot.bytesReceived.zero();
        }
    }
    for (NfsWideCounter &count : operations)
        count.zero();
}
}
