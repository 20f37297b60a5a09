// The module's call counters (brisnel/nfsStatLib.h), one slot per transport and procedure,
// counted with relaxed atomic additions so that the call path takes no lock.
#ifndef NFS_CORE_NFSRPCSTATS_H
#define NFS_CORE_NFSRPCSTATS_H

#include <atomic>
#include <cstdint>

// A 64-bit count from two 32-bit atomic words: a 32-bit target has no lock-free 64-bit
// atomics. The carry goes to the high word after the low one wrapped, so a reading taken in
// between may be short by 4 GiB for that instant; counters are for people, not for control.
class NfsWideCounter {
public:
    void add(uint32_t amount)
    {
        const uint32_t before = low_.fetch_add(amount, std::memory_order_relaxed);
        if (static_cast<uint32_t>(before + amount) < before)
            high_.fetch_add(1, std::memory_order_relaxed);
    }
    uint64_t value() const
    {
        return (static_cast<uint64_t>(high_.load(std::memory_order_relaxed)) << 32) |
               low_.load(std::memory_order_relaxed);
    }
    void zero()
    {
        low_.store(0, std::memory_order_relaxed);
        high_.store(0, std::memory_order_relaxed);
    }

private:
    std::atomic<uint32_t> low_{0};
    std::atomic<uint32_t> high_{0};
};

struct NfsStatSlot {
    NfsWideCounter calls;
    NfsWideCounter retransmissions;
    NfsWideCounter timeouts;
    NfsWideCounter reconnects;
    NfsWideCounter bytesSent;
    NfsWideCounter bytesReceived;
};

// The slot of a call: by transport (IPPROTO_TCP, else UDP), then NFS version 3, 2 or 4, MOUNT
// (any version) or the portmapper by procedure; everything else shares one slot.
NfsStatSlot &nfsStatSlot(int transport, uint32_t prog, uint32_t vers, uint32_t proc);

// One more of the version 4 operation numbered OP sent in a COMPOUND.
void nfsStatOperation(uint32_t op);

#endif
