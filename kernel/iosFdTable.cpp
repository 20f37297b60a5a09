// The descriptor table. Descriptors 0, 1 and 2 are the host's standard streams and stay open.
#include "iosPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <condition_variable>
#include <mutex>

namespace ios {
namespace {

enum class SlotState { Free, Reserved, Open };

struct FdSlot {
    SlotState state = SlotState::Free;
    Descriptor desc;
    int users = 0; // calls under way on the descriptor
};

using FdTable = std::array<FdSlot, K_IOS_MAX_FILES>;

constexpr int kStdStreams = 3;

std::mutex &fdMutex() {
    static std::mutex mutex;
    return mutex;
}

// Signalled under fdMutex() when the last call on a descriptor ends.
std::condition_variable &fdIdle() {
    static std::condition_variable idle;
    return idle;
}

// Guarded by fdMutex().
FdTable &fdTable() {
    static FdTable table = [] {
        FdTable initial{};
        for (int fd = 0; fd < kStdStreams; ++fd) {
            initial[static_cast<std::size_t>(fd)] = FdSlot{SlotState::Open, {kStdDrvNum, nullptr, fd}, 0};
        }
        return initial;
    }();
    return table;
}

bool validFd(int fd) { return fd >= 0 && fd < K_IOS_MAX_FILES; }

} // namespace

int fdReserve() {
    const std::lock_guard lock(fdMutex());
    FdTable &table = fdTable();
    for (std::size_t fd = kStdStreams; fd < table.size(); ++fd) {
        if (table[fd].state == SlotState::Free) {
            table[fd].state = SlotState::Reserved;
            return static_cast<int>(fd);
        }
    }
    errnoSet(K_EMFILE);
    return -1;
}

void fdFill(int fd, const Descriptor &desc) {
    const std::lock_guard lock(fdMutex());
    fdTable()[static_cast<std::size_t>(fd)] = FdSlot{SlotState::Open, desc};
}

void fdRelease(int fd) {
    if (!validFd(fd) || fd < kStdStreams) {
        return;
    }
    const std::lock_guard lock(fdMutex());
    fdTable()[static_cast<std::size_t>(fd)] = FdSlot{};
}

bool fdAcquire(int fd, Descriptor &desc) {
    if (validFd(fd)) {
        const std::lock_guard lock(fdMutex());
        FdSlot &slot = fdTable()[static_cast<std::size_t>(fd)];
        if (slot.state == SlotState::Open) {
            ++slot.users;
            desc = slot.desc;
            return true;
        }
    }
    errnoSet(K_EBADF);
    return false;
}

void fdUnuse(int fd) {
    const std::lock_guard lock(fdMutex());
    FdSlot &slot = fdTable()[static_cast<std::size_t>(fd)];
    if (--slot.users == 0) {
        fdIdle().notify_all();
    }
}

bool fdTake(int fd, Descriptor &desc) {
    if (validFd(fd) && fd >= kStdStreams) {
        std::unique_lock lock(fdMutex());
        FdSlot &slot = fdTable()[static_cast<std::size_t>(fd)];
        if (slot.state == SlotState::Open) {
            slot.state = SlotState::Reserved;
            fdIdle().wait(lock, [&slot] { return slot.users == 0; });
            desc = slot.desc;
            return true;
        }
    }
    errnoSet(K_EBADF);
    return false;
}

bool descriptorUsesDriver(int drvNum) {
    const std::lock_guard lock(fdMutex());
    const FdTable &table = fdTable();
    return std::any_of(table.begin(), table.end(), [drvNum](const FdSlot &slot) {
        return slot.state == SlotState::Open && slot.desc.drvNum == drvNum;
    });
}

} // namespace ios
