// The held-lock list (nlmHeld.h), the ranges held, the losses, and the release of a dying
// task's locks.
#include "lock/nlmHeld.h"

#include "core/nfsCallSettings.h"

#include <kernel/semGuard.h>
#include <kernel/semLib.h>
#include <kernel/taskLib.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <new>
#include <thread>

namespace {

// Guards the held list and the losses; taken last, never across a call.
SEM_ID heldSem()
{
    static const SEM_ID sem = semMCreate(SEM_Q_PRIORITY | SEM_INVERSION_SAFE);
    return sem;
}

// Guarded by heldSem. Never destroyed: tasks may still end while the process runs its exit
// handlers, and their delete hook looks here.
std::vector<NlmHeldFile> &heldList()
{
    static auto *list = new std::vector<NlmHeldFile>;
    return *list;
}

// A file some of whose locks a restart took, and how many times that happened.
struct Loss {
    const void *dev;
    std::string fh;
    uint32_t count;
};

// Guarded by heldSem; never destroyed, as the list.
std::vector<Loss> &lossList()
{
    static auto *list = new std::vector<Loss>;
    return *list;
}

// Whether any loss was ever noted (nlmHeldAnyLoss).
std::atomic<bool> anyLoss{false};

bool sameFile(const NlmHeldFile &f, const void *dev, const std::string &fh, uintptr_t task)
{
    return f.dev == dev && f.task == task && f.fh == fh;
}

template <typename Match> std::vector<NlmHeldFile> takeWhere(Match match)
{
    std::vector<NlmHeldFile> taken;
    const SemGuard guard(heldSem());
    if (!guard.held())
        return taken;
    std::vector<NlmHeldFile> &held = heldList();
    const auto split =
        std::stable_partition(held.begin(), held.end(), [&match](const NlmHeldFile &f) { return !match(f); });
    taken.assign(std::make_move_iterator(split), std::make_move_iterator(held.end()));
    held.erase(split, held.end());
    return taken;
}

nfs_lock_type4 typeOf(const NlmRange &range)
{
    return range.exclusive ? WRITE_LT : READ_LT;
}

// A dying task's call context is already gone: its locks are released by a helper task,
// which the dying one waits for.
void taskLocksRelease(TaskRecord *dying)
{
    std::vector<NlmHeldFile> files = nlmHeldTakeTask(dying->taskId);
    if (files.empty())
        return;
    std::thread helper([&files] { nlmHeldRelease(files); });
    helper.join();
}

} // namespace

bool nlmHeldNote(const NlmHeldFile &file, const NlmRange *granted)
{
    static std::once_flag hooked;
    std::call_once(hooked, [] { taskDeleteHookAdd(taskLocksRelease); });
    const SemGuard guard(heldSem());
    if (!guard.held())
        return false;
    std::vector<NlmHeldFile> &held = heldList();
    const auto known = std::find_if(held.begin(), held.end(), [&file](const NlmHeldFile &f) {
        return sameFile(f, file.dev, file.fh, file.task);
    });
    if (known != held.end())
        return granted == nullptr || known->ranges.lock(typeOf(*granted), granted->start, granted->length);
    try {
        held.push_back(file);
    } catch (const std::bad_alloc &) {
        return false;
    }
    NlmHeldFile &added = held.back();
    added.ranges = Nfs4LockRanges{};
    if (granted != nullptr && !added.ranges.lock(typeOf(*granted), granted->start, granted->length)) {
        held.pop_back();
        return false;
    }
    return true;
}

void nlmHeldCut(const NlmHeldFile &file, const NlmRange &range)
{
    const SemGuard guard(heldSem());
    if (!guard.held())
        return;
    for (NlmHeldFile &f : heldList()) {
        // Out of memory the ranges stay: a reclaim then asks for one the server gave up,
        // which costs a lock the release frees, never a loss.
        if (sameFile(f, file.dev, file.fh, file.task))
            static_cast<void>(f.ranges.unlock(range.start, range.length));
    }
}

std::vector<NlmHeldFile> nlmHeldTakeFile(const void *dev, const std::string &fh, uintptr_t task)
{
    return takeWhere([dev, &fh, task](const NlmHeldFile &f) { return sameFile(f, dev, fh, task); });
}

std::vector<NlmHeldFile> nlmHeldTakeTask(uintptr_t task)
{
    return takeWhere([task](const NlmHeldFile &f) { return f.task == task; });
}

std::vector<NlmHeldFile> nlmHeldTakeDevice(const void *dev)
{
    std::vector<NlmHeldFile> taken = takeWhere([dev](const NlmHeldFile &f) { return f.dev == dev; });
    const SemGuard guard(heldSem());
    if (guard.held()) {
        std::vector<Loss> &losses = lossList();
        losses.erase(std::remove_if(losses.begin(), losses.end(), [dev](const Loss &l) { return l.dev == dev; }),
                     losses.end());
    }
    return taken;
}

void nlmHeldRelease(const std::vector<NlmHeldFile> &files)
{
    for (const NlmHeldFile &file : files) {
        const NfsCallScope scope(&file.options);
        static_cast<void>(nlmUnlock(file.target(), NlmRange{false, 0, 0}));
    }
}

std::vector<NlmHeldFile> nlmHeldOn(const std::string &host)
{
    std::vector<NlmHeldFile> found;
    const SemGuard guard(heldSem());
    if (!guard.held())
        return found;
    try {
        for (const NlmHeldFile &f : heldList()) {
            if (f.host == host && !f.ranges.empty())
                found.push_back(f);
        }
    } catch (const std::bad_alloc &) {
        // those found so far: the others are reclaimed by the next restart's pass, or lost
    }
    return found;
}

bool nlmHeldAnyOn(const std::string &host)
{
    const SemGuard guard(heldSem());
    if (!guard.held())
        return false;
    const std::vector<NlmHeldFile> &held = heldList();
    return std::any_of(held.begin(), held.end(),
                       [&host](const NlmHeldFile &f) { return f.host == host && !f.ranges.empty(); });
}

void nlmHeldReclaimed(const NlmHeldFile &file, const Nfs4LockRanges &kept, bool lost)
{
    const SemGuard guard(heldSem());
    if (!guard.held())
        return;
    for (NlmHeldFile &f : heldList()) {
        if (sameFile(f, file.dev, file.fh, file.task))
            f.ranges = kept;
    }
    if (!lost)
        return;
    anyLoss = true;
    std::vector<Loss> &losses = lossList();
    const auto known = std::find_if(losses.begin(), losses.end(),
                                    [&file](const Loss &l) { return l.dev == file.dev && l.fh == file.fh; });
    if (known != losses.end()) {
        ++known->count;
        return;
    }
    try {
        losses.push_back(Loss{file.dev, file.fh, 1});
    } catch (const std::bad_alloc &) {
        // no room to say so: the lock is gone all the same, and the next restart's loss tells
    }
}

bool nlmHeldAnyLoss()
{
    return anyLoss;
}

uint32_t nlmHeldLosses(const void *dev, const std::string &fh)
{
    if (!anyLoss)
        return 0;
    const SemGuard guard(heldSem());
    if (!guard.held())
        return 0;
    for (const Loss &l : lossList()) {
        if (l.dev == dev && l.fh == fh)
            return l.count;
    }
    return 0;
}
