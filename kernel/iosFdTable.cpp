// The descriptor table. Descriptors 0, 1 and 2 are the host's standard streams and stay open.
#include "iosPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <condition_variable>
#include <mutex>

namespace ios {
namespace {

enum class SlotState { Free, Reserved, Open };

// A call on a descriptor counts itself in `users` and then checks that the slot is open, with
// no lock; a close marks the slot reserved under the mutex and waits for the count to reach 0.
// Since each side writes before it reads the other's word, one of them always sees the other:
// the call backs off, or the close waits for it, woken under the mutex by the last call out.
// The description is written under the mutex, only while the slot is not open.
struct FdSlot {
    std::atomic<SlotState> state{SlotState::Free};
    std::atomic<int> users{0};
    Descriptor desc;
};

using FdTable = std::array<FdSlot, K_IOS_MAX_FILES>;

constexpr int kStdStreams = 3;

std::mutex &fdMutex()
{
    static std::mutex mutex;
    return mutex;
}

// Signalled under fdMutex() when the last call on a closing descriptor ends.
std::condition_variable &fdIdle()
{
    static std::condition_variable idle;
    return idle;
}

FdTable &fdTable()
{
    static FdTable table;
    static const bool streamsOpen = [] {
        for (int fd = 0; fd < kStdStreams; ++fd) {
            FdSlot &slot = table[static_cast<std::size_t>(fd)];
            slot.desc = Descriptor{kStdDrvNum, nullptr, fd, false, stdStreamEntries()};
            slot.state.store(SlotState::Open);
        }
        return true;
    }();
    static_cast<void>(streamsOpen);
    return table;
}

bool validFd(int fd)
{
    return fd >= 0 && fd < K_IOS_MAX_FILES;
}

FdSlot &slotOf(int fd)
{
    return fdTable()[static_cast<std::size_t>(fd)];
}

void leave(FdSlot &slot)
{
    if (slot.users.fetch_sub(1) == 1 && slot.state.load() != SlotState::Open) {
        const std::lock_guard lock(fdMutex());
        fdIdle().notify_all();
    }
}

} // namespace

int fdReserve()
{
    const std::lock_guard lock(fdMutex());
    FdTable &table = fdTable();
    for (std::size_t fd = kStdStreams; fd < table.size(); ++fd) {
        if (table[fd].state.load() == SlotState::Free) {
            table[fd].state.store(SlotState::Reserved);
            return static_cast<int>(fd);
        }
    }
    errnoSet(K_EMFILE);
    return -1;
}

void fdFill(int fd, const Descriptor &desc)
{
    const std::lock_guard lock(fdMutex());
    FdSlot &slot = slotOf(fd);
    slot.desc = desc;
    slot.state.store(SlotState::Open);
}

void fdRelease(int fd)
{
    if (!validFd(fd) || fd < kStdStreams) {
        return;
    }
    const std::lock_guard lock(fdMutex());
    FdSlot &slot = slotOf(fd);
    slot.desc = Descriptor{};
    slot.state.store(SlotState::Free);
}

bool fdAcquire(int fd, Descriptor &desc)
{
    if (validFd(fd)) {
        FdSlot &slot = slotOf(fd);
        slot.users.fetch_add(1);
        if (slot.state.load() == SlotState::Open) {
            desc = slot.desc;
            return true;
        }
        leave(slot);
    }
    errnoSet(K_EBADF);
    return false;
}

void fdUnuse(int fd)
{
    leave(slotOf(fd));
}

bool fdTake(int fd, Descriptor &desc)
{
    if (validFd(fd) && fd >= kStdStreams) {
        std::unique_lock lock(fdMutex());
        FdSlot &slot = slotOf(fd);
        if (slot.state.load() == SlotState::Open) {
            slot.state.store(SlotState::Reserved);
            fdIdle().wait(lock, [&slot] { return slot.users.load() == 0; });
            desc = slot.desc;
            return true;
        }
    }
    errnoSet(K_EBADF);
    return false;
}

bool descriptorUsesDriver(int drvNum)
{
    const std::lock_guard lock(fdMutex());
    const FdTable &table = fdTable();
    return std::any_of(table.begin(), table.end(), [drvNum](const FdSlot &slot) {
        return slot.state.load() == SlotState::Open && slot.desc.drvNum == drvNum;
    });
}

} // namespace ios
