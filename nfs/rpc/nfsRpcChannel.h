// A channel per server: one UDP socket or one TCP connection to an address and port, shared by
// every task that calls there. Calls of several tasks are in flight on it together; each task
// sends its own calls (over UDP with its own retransmissions), and whichever waiting task finds
// nobody reading reads for all: an answer goes to the call waiting for its transaction id, and
// that call's task is woken. No task sleeps in the channel's lock, and none holds it across a
// read or a send. A broken connection is opened again by one task for every call on it; each
// call is then sent again with its own transaction id.
//
// Lock order: the send lock (one record at a time on a connection), then the channel's lock.
#ifndef NFS_RPC_NFSRPCCHANNEL_H
#define NFS_RPC_NFSRPCCHANNEL_H

#include "rpc/nfsRpcExchange.h"
#include "rpc/nfsRpcStats.h"

#include <kernel/semLib.h>

#include <array>
#include <atomic>
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <vector>

class NfsRpcChannel;

// One call of a task waiting on a channel, enlisted before it is first sent and withdrawn
// before its task returns. `arrived`, `failure`, `answer` and `length` are written by the
// reading task under the channel's lock, and are the call's task's once `arrived` is seen.
struct NfsRpcPending {
    uint32_t xid = 0;
    SEM_ID wake = nullptr;        // the waiting task's, given when the answer arrives
    NfsStatSlot *stat = nullptr;  // where the answer's bytes are counted
    uint32_t generation = 0;      // the connection it was last sent on (its own task's)
    bool enlisted = false;
    bool arrived = false;
    clnt_stat failure = RPC_SUCCESS; // set instead of an answer when the channel failed it
    std::vector<char> answer;     // the answer's bytes, handed over whole
    std::size_t length = 0;
};

// What a task's wait on the channel ended with.
enum class NfsChannelEvent {
    answered, // one of its calls has its answer
    due,      // the time it waited for came
    broken,   // the connection broke or was replaced: its calls go again
    refused,  // the server's host or port refused (an ICMP error on the UDP socket)
    failed,   // the channel could not read (no memory, a socket error)
};

class NfsRpcChannel {
public:
    // Over SOCKET (a UDP socket, or a connection to SERVER); closed with the channel when OWNED.
    NfsRpcChannel(const sockaddr_in &server, int transport, int socket, bool owned);
    ~NfsRpcChannel();
    NfsRpcChannel(const NfsRpcChannel &) = delete;
    NfsRpcChannel &operator=(const NfsRpcChannel &) = delete;

    bool ready() const { return lock_ != nullptr && sendLock_ != nullptr; }
    int socket() const { return socket_; }
    int transport() const { return transport_; }
    bool tcp() const { return transport_ == IPPROTO_TCP; }
    const sockaddr_in &server() const { return server_; }

    // Calls of a task: enlisted under the channel's lock, so that an answer that comes at once
    // finds its call; an answer received is the call's own until withdrawn. ROOM is the
    // largest answer the calls take.
    // False when memory ran out. Withdrawing hands the answers' buffers back for reuse.
    bool enlist(NfsRpcPending *const *calls, std::size_t n, std::size_t room);
    void withdraw(NfsRpcPending *const *calls, std::size_t n, SEM_ID wake);
    // Waits until one of the N calls has its answer (*which is its index), WHEN comes, or the
    // connection breaks or is no longer generation SEEN; reads for every task while nobody
    // else does.
    NfsChannelEvent await(NfsRpcPending *const *calls, std::size_t n, NfsRpcClock::time_point when,
                          SEM_ID wake, uint32_t seen, std::size_t *which);
    // The connection's generation; the calls sent on an earlier one were lost with it.
    uint32_t generation() const;
    bool broken() const;

    // Over TCP: sends one record (mark and message) of CALL, noting the connection it goes on;
    // false when the connection broke or (*timedOut) DEADLINE passed. A sender kept waiting by
    // a full socket reads answers meanwhile, so that a server blocked on its own answers never
    // stalls the channel.
    bool sendRecord(NfsRpcPending *call, const char *data, std::size_t length, NfsRpcClock::time_point deadline,
                    NfsStatSlot &stat, bool *timedOut);
    // The connection closed by the server while no call was on it (found before a call is
    // lost on it): marks it broken.
    void checkIdle();
    // Opens the connection again, once for every call waiting: RPC_SUCCESS when a new one is
    // open (by this task or another), RPC_TIMEDOUT when DEADLINE passed first.
    clnt_stat reconnect(NfsRpcClock::time_point deadline, SEM_ID wake, NfsStatSlot &stat);

    // The registry's count of the handles that hold the channel.
    int users = 0;
    // The buffer size last set on a UDP socket (0: the system's), raised as holders come.
    std::atomic<int> bufferSize{0};

private:
    enum class Read { message, none, broken, oversize, refused, failed };
    Read readOne(NfsRpcClock::time_point when);
    Read readDatagram(NfsRpcClock::time_point when);
    Read readRecord(NfsRpcClock::time_point when);
    void deliver(std::size_t length);
    void failAll(clnt_stat status);
    void fail(NfsRpcPending *call, clnt_stat status);
    Read refusal();
    void refuse();
    void markBroken(uint32_t generation);
    void oversize(uint32_t generation);
    void readWhileBlocked(SEM_ID wake, NfsRpcClock::time_point deadline);
    bool takeReconnection(NfsRpcClock::time_point deadline, SEM_ID wake, bool *timedOut);
    void wakeAll(SEM_ID except);
    void passReading(SEM_ID except);
    bool roomForAnswer();
    NfsRpcPending *pendingWith(uint32_t xid) const;

    sockaddr_in server_;
    int transport_;
    int socket_;
    bool owned_;
    SEM_ID lock_;     // guards everything below
    SEM_ID sendLock_; // one record at a time on the connection; taken before lock_
    std::vector<NfsRpcPending *> pending_;
    std::vector<char> incoming_;               // the reader's buffer
    std::vector<std::vector<char>> spares_;    // answers' buffers handed back, for reuse
    std::size_t room_ = 0;                     // the largest answer a call enlisted takes
    bool reading_ = false;                     // a task reads for all
    bool broken_ = false;
    bool connecting_ = false;
    uint32_t generation_ = 0;
    std::chrono::milliseconds pause_{0};       // before the next reconnection
    // A record gathered across readers: its bytes so far, the fragment's bytes still to come.
    std::size_t gathered_ = 0;
    std::size_t fragmentLeft_ = 0;
    bool lastFragment_ = false;
    bool inMark_ = true;
    std::size_t markGot_ = 0;
    unsigned char mark_[4] = {};
    std::size_t rawBytes_ = 0;                 // bytes read for the message, marks included
    std::size_t length_ = 0;                   // the message read, when one was
    // The transaction ids the last refusals read quoted (the reader's), and their count.
    std::array<uint32_t, 64> refused_{};
    std::size_t refusedCount_ = 0;
};

// The channel to SERVER over TRANSPORT (IPPROTO_UDP or IPPROTO_TCP), shared with every task
// that holds it; opened when none is (a TCP connection opened by DEADLINE). Null with *error
// set (an error number) when it cannot be opened.
NfsRpcChannel *nfsRpcChannelOpen(const sockaddr_in &server, int transport, NfsRpcClock::time_point deadline,
                                 int *error);
// One more hold on an open channel (a mounted device's).
void nfsRpcChannelHold(NfsRpcChannel *channel);
// The handles and devices that hold the channel.
int nfsRpcChannelHolders(const NfsRpcChannel *channel);
// Gives up one hold; the last closes the channel.
void nfsRpcChannelRelease(NfsRpcChannel *channel);
// The N calls of COMMON's shape (its own procedure, arguments and result unused) on CHANNEL, at
// most WINDOW of this task's in flight: what nfsRpcExchangeWindow says, over either transport.
clnt_stat nfsRpcChannelExchange(NfsRpcChannel *channel, const NfsRpcExchange &common, NfsRpcWindowCall *calls,
                                std::size_t n, std::size_t window);
// The task's handle over a channel (its destruction gives up the task's hold), and its channel.
CLIENT *nfsRpcChannelHandle(NfsRpcChannel *channel, uint32_t prog, uint32_t vers, NfsUdpMessageSizes sizes);
NfsRpcChannel *nfsRpcHandleChannel(CLIENT *handle);

#endif
