// The slot table of a version 4.1 session (RFC 8881 section 2.10.6.1).
#include "state/nfs4SlotTable.h"

#include <kernel/kernelTypes.h>

#include <algorithm>

Nfs4SlotTable::~Nfs4SlotTable()
{
    for (Slot &slot : table_) {
        if (slot.sem != nullptr)
            semDelete(slot.sem);
    }
}

bool Nfs4SlotTable::init()
{
    for (Slot &slot : table_) {
        slot.sem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
        if (slot.sem == nullptr)
            return false;
    }
    return true;
}

void Nfs4SlotTable::reset(uint32_t slots)
{
    slots_ = std::clamp<uint32_t>(slots, 1, kMostSlots);
    highest_ = slots_ - 1;
    target_ = slots_ - 1;
    for (Slot &slot : table_) {
        slot.sequence = 0;
        slot.unknown = false;
    }
}

// Slots 0 to the result are used: the smallest of the session's table and the server's limits.
uint32_t Nfs4SlotTable::usable() const
{
    return std::min({slots_ - 1, highest_, target_});
}

int Nfs4SlotTable::take()
{
    if (slots_ == 0)
        return -1;
    for (uint32_t i = 0; i <= usable(); ++i) {
        if (table_[i].busy)
            continue;
        // Free: only a waiter passing through holds its semaphore, for a moment.
        if (semTake(table_[i].sem, K_WAIT_FOREVER) != 0)
            return -1;
        table_[i].busy = true;
        return static_cast<int>(i);
    }
    return -1;
}

uint32_t Nfs4SlotTable::waitSlot() const
{
    // Calls end in any order; the lowest is as good a guess as any.
    for (uint32_t i = 0; i <= usable(); ++i) {
        if (table_[i].busy)
            return i;
    }
    return 0;
}

uint32_t Nfs4SlotTable::highestBusy() const
{
    uint32_t highest = 0;
    for (uint32_t i = 0; i < kMostSlots; ++i) {
        if (table_[i].busy)
            highest = i;
    }
    return highest;
}

void Nfs4SlotTable::give(uint32_t slot, Nfs4SlotOutcome outcome, bool sameSession)
{
    Slot &s = table_[slot];
    if (sameSession && outcome != Nfs4SlotOutcome::NotTaken) {
        ++s.sequence;
        s.unknown = outcome == Nfs4SlotOutcome::Unknown;
    }
    s.busy = false;
    semGive(s.sem);
}

bool Nfs4SlotTable::stepBack(uint32_t slot)
{
    Slot &s = table_[slot];
    if (!s.unknown)
        return false;
    --s.sequence;
    s.unknown = false;
    return true;
}

void Nfs4SlotTable::limit(uint32_t highest, uint32_t target)
{
    highest_ = std::min(highest, slots_ - 1);
    target_ = std::min(target, highest_);
}

void Nfs4SlotTable::refuse(uint32_t slot)
{
    const uint32_t below = slot > 0 ? slot - 1 : 0;
    highest_ = std::min(highest_, below);
    target_ = std::min(target_, below);
}
