// Module-private: the fore channel's slot table of a version 4.1 session. Each slot carries
// one request at a time; its sequence id goes up by one per new request, and a reply's SEQUENCE
// result says whether the server took it. The table is a member of the server's state record
// and guarded by its semaphore: every member but slotSem is called with that semaphore held.
// A slot in use also holds its own semaphore, taken by the task whose call it carries and given
// back when the call is done, so that a task finding every slot busy waits on one of them
// (lock order: the state's semaphore, then a slot's).
#ifndef NFS_STATE_NFS4SLOTTABLE_H
#define NFS_STATE_NFS4SLOTTABLE_H

#include "rpc/nfsRemoteCall.h"

#include <kernel/semLib.h>

#include <array>
#include <cstdint>

// What became of a request sent on a slot.
enum class Nfs4SlotOutcome {
    Taken,    // the server's SEQUENCE result was NFS4_OK: the sequence id is used up
    NotTaken, // SEQUENCE itself failed: the same sequence id goes again
    Unknown,  // no reply: the server may or may not have taken it
};

class Nfs4SlotTable {
public:
    static constexpr uint32_t kMostSlots = nfsrpc::kMostInFlight;

    Nfs4SlotTable() = default;
    Nfs4SlotTable(const Nfs4SlotTable &) = delete;
    Nfs4SlotTable &operator=(const Nfs4SlotTable &) = delete;
    ~Nfs4SlotTable();
    // Makes the slots' semaphores: false when one cannot be made.
    bool init();

    // A new session of SLOTS slots (1 to kMostSlots): sequence ids start again, the limits are
    // the whole table. Slots in use stay in use until their calls give them back.
    void reset(uint32_t slots);
    uint32_t slots() const { return slots_; }
    // A request on a free SLOT was answered outside the table (the session's first).
    void advance(uint32_t slot) { ++table_[slot].sequence; }

    // The lowest free slot within the server's limits, made busy with its semaphore taken; -1
    // when every one is busy (wait on waitSlot(), then ask again).
    int take();
    // A busy slot within the limits to wait on, once the state's semaphore is given up.
    uint32_t waitSlot() const;
    SEM_ID slotSem(uint32_t slot) const { return table_[slot].sem; }
    // The sequence id to send on a busy slot, and the highest busy slot.
    uint32_t sequenceOf(uint32_t slot) const { return table_[slot].sequence + 1; }
    uint32_t highestBusy() const;

    // The call on SLOT is done: the sequence id advances as OUTCOME says (when SAME_SESSION:
    // a slot of a session since replaced keeps the new one's ids), the slot is free again.
    void give(uint32_t slot, Nfs4SlotOutcome outcome, bool sameSession);
    // The server refused the slot's sequence id as out of order: true when the slot's last
    // request had no reply and stepping back one is worth a try, false when the session's
    // idea of the slot is lost.
    bool stepBack(uint32_t slot);
    // The server's limits from a SEQUENCE result: the highest slot it takes now and the one
    // it would like the client to keep to.
    void limit(uint32_t highest, uint32_t target);
    // The server refused SLOT as beyond its table: slots from SLOT on are not used.
    void refuse(uint32_t slot);

private:
    struct Slot {
        uint32_t sequence = 0; // the last sequence id sent and taken
        bool busy = false;
        bool unknown = false; // the last request went without a reply
        SEM_ID sem = nullptr;
    };
    uint32_t usable() const;
    std::array<Slot, kMostSlots> table_{};
    uint32_t slots_ = 0;   // of this session
    uint32_t highest_ = 0; // the server's highest slot
    uint32_t target_ = 0;  // the server's target highest slot
};

#endif
