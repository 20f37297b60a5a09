// The kernel layer's record-lock table: every file's held locks and the tasks waiting for one.
//
// Lock: LockTable::mutex guards the whole table and each waiter's record. It is a leaf: held
// only inside this file, never while a driver entry, a delete hook or another kernel lock is
// taken, so it has no place to keep in any lock order.
//
// A waiting request is granted by the task that ends the conflict, in the order the waits
// began (tasks on this host have no priorities of their own: the host schedules them), so a
// later waiter never overtakes an earlier one that could be granted. There is no deadlock
// detection: two tasks waiting for each other's ranges wait until one is interrupted.
#include <kernel/errnoLib.h>
#include <kernel/fileLockLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/taskLib.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <limits>
#include <list>
#include <map>
#include <mutex>
#include <tuple>
#include <vector>

namespace {

// How often a waiting task asks whether it has been told to stop.
constexpr std::chrono::milliseconds kInterruptPoll{50};
constexpr uint64_t kLargestOffset = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
// The last byte of a lock that runs to the file's end, however far it grows.
constexpr uint64_t kToEnd = std::numeric_limits<uint64_t>::max();

// One lock or request over the bytes first..last, both included.
struct Range {
    uintptr_t owner = 0;
    int type = K_F_UNLCK;
    uint64_t first = 0;
    uint64_t last = 0;
};

struct Waiter {
    Range wanted;
    bool granted = false;
    bool cancelled = false; // the device went away
    std::condition_variable wake;
};

struct FileLocks {
    std::vector<Range> held;     // by first byte
    std::list<Waiter *> waiters; // in the order the waits began
};

struct Key {
    const DEV_HDR *pDev;
    uint64_t fileId;
    uint64_t fileNode;
    bool operator<(const Key &other) const
    {
        return std::tie(pDev, fileId, fileNode) < std::tie(other.pDev, other.fileId, other.fileNode);
    }
};

using FileTable = std::map<Key, FileLocks>;

struct LockTable {
    std::mutex mutex;
    FileTable files;
};

// Never destroyed: tasks may still end, and release their locks, while the process exits.
LockTable &table()
{
    static auto *locks = new LockTable;
    return *locks;
}

int fail(int error)
{
    errnoSet(error);
    return -1;
}

bool overlap(const Range &a, const Range &b)
{
    return a.first <= b.last && b.first <= a.last;
}

bool conflicts(const Range &held, const Range &wanted)
{
    return wanted.type != K_F_UNLCK && held.owner != wanted.owner && overlap(held, wanted) &&
           (held.type == K_F_WRLCK || wanted.type == K_F_WRLCK);
}

const Range *firstConflict(const FileLocks &file, const Range &wanted)
{
    const auto hit = std::find_if(file.held.begin(), file.held.end(),
                                  [&wanted](const Range &held) { return conflicts(held, wanted); });
    return hit != file.held.end() ? &*hit : nullptr;
}

// The request's range, or false for a bad type, owner or range.
bool rangeOf(const klockarg *pArg, Range &range)
{
    if (pArg == nullptr || pArg->owner == 0 || pArg->start > kLargestOffset ||
        (pArg->type != K_F_RDLCK && pArg->type != K_F_WRLCK && pArg->type != K_F_UNLCK)) {
        return false;
    }
    range = Range{pArg->owner, pArg->type, pArg->start, kToEnd};
    if (pArg->len != 0) {
        if (pArg->len - 1 > kLargestOffset - pArg->start) {
            return false;
        }
        range.last = pArg->start + (pArg->len - 1);
    }
    return true;
}

// Adjacent or overlapping locks of one owner and type become one.
bool mergeable(const Range &a, const Range &b)
{
    return a.owner == b.owner && a.type == b.type && a.last != kToEnd && a.last + 1 >= b.first;
}

// The owner's locks over the range are cut away, what is left of them on either side kept,
// and the new lock (unless it is an unlock) put in, merged with its neighbours.
void apply(FileLocks &file, const Range &request)
{
    std::vector<Range> next;
    next.reserve(file.held.size() + 2);
    for (const Range &held : file.held) {
        if (held.owner != request.owner || !overlap(held, request)) {
            next.push_back(held);
            continue;
        }
        if (held.first < request.first) {
            next.push_back(Range{held.owner, held.type, held.first, request.first - 1});
        }
        if (held.last > request.last) {
            next.push_back(Range{held.owner, held.type, request.last + 1, held.last});
        }
    }
    if (request.type != K_F_UNLCK) {
        next.push_back(request);
    }
    std::sort(next.begin(), next.end(), [](const Range &a, const Range &b) {
        return std::tie(a.owner, a.first) < std::tie(b.owner, b.first);
    });
    std::vector<Range> merged;
    merged.reserve(next.size());
    for (const Range &range : next) {
        if (!merged.empty() && mergeable(merged.back(), range)) {
            merged.back().last = std::max(merged.back().last, range.last);
        } else {
            merged.push_back(range);
        }
    }
    std::sort(merged.begin(), merged.end(), [](const Range &a, const Range &b) { return a.first < b.first; });
    file.held = std::move(merged);
}

// Grants, in order, each wait that no held lock now stands against.
void grantWaiters(FileLocks &file)
{
    for (auto it = file.waiters.begin(); it != file.waiters.end();) {
        Waiter &waiter = **it;
        if (firstConflict(file, waiter.wanted) != nullptr) {
            ++it;
            continue;
        }
        apply(file, waiter.wanted);
        waiter.granted = true;
        waiter.wake.notify_one();
        it = file.waiters.erase(it);
    }
}

// Drops the file's record when nothing is held or awaited; returns the next position.
FileTable::iterator tidy(FileTable &files, FileTable::iterator it)
{
    if (it->second.held.empty() && it->second.waiters.empty()) {
        return files.erase(it);
    }
    return std::next(it);
}

void releaseOwner(FileTable::iterator it, uintptr_t owner)
{
    FileLocks &file = it->second;
    const auto before = file.held.size();
    file.held.erase(std::remove_if(file.held.begin(), file.held.end(),
                                   [owner](const Range &held) { return held.owner == owner; }),
                    file.held.end());
    if (file.held.size() != before) {
        grantWaiters(file);
    }
}

// Waits until the request is granted, the task is told to stop, or the device goes.
int waitForGrant(std::unique_lock<std::mutex> &guard, const Key &key, Waiter &waiter)
{
    while (!waiter.granted && !waiter.cancelled) {
        if (taskInterrupted() != 0) {
            auto it = table().files.find(key);
            it->second.waiters.remove(&waiter);
            tidy(table().files, it);
            return fail(K_EINTR);
        }
        waiter.wake.wait_for(guard, kInterruptPoll);
    }
    return waiter.granted ? 0 : fail(K_ENODEV);
}

void taskLocksRelease(TaskRecord *dying)
{
    LockTable &locks = table();
    const std::lock_guard guard(locks.mutex);
    for (auto it = locks.files.begin(); it != locks.files.end();) {
        releaseOwner(it, dying->taskId);
        it = tidy(locks.files, it);
    }
}

__attribute__((constructor)) void fileLockInit()
{
    taskDeleteHookAdd(taskLocksRelease);
}

} // namespace

extern "C" {

int fileLockGet(const FileLockKey *pKey, struct klockarg *pArg)
{
    Range wanted;
    if (pKey == nullptr || !rangeOf(pArg, wanted) || wanted.type == K_F_UNLCK) {
        return fail(K_EINVAL);
    }
    LockTable &locks = table();
    const std::lock_guard guard(locks.mutex);
    const auto it = locks.files.find(Key{pKey->pDev, pKey->fileId, pKey->fileNode});
    const Range *holder = it != locks.files.end() ? firstConflict(it->second, wanted) : nullptr;
    if (holder == nullptr) {
        pArg->type = K_F_UNLCK;
        return 0;
    }
    *pArg = klockarg{holder->type, holder->first, holder->last == kToEnd ? 0 : holder->last - holder->first + 1,
                     holder->owner};
    return 0;
}

int fileLockSet(const FileLockKey *pKey, const struct klockarg *pArg, int wait)
{
    Range wanted;
    if (pKey == nullptr || !rangeOf(pArg, wanted)) {
        return fail(K_EINVAL);
    }
    const Key key{pKey->pDev, pKey->fileId, pKey->fileNode};
    LockTable &locks = table();
    std::unique_lock guard(locks.mutex);
    const auto it = locks.files.try_emplace(key).first;
    FileLocks &file = it->second;
    if (firstConflict(file, wanted) == nullptr) {
        apply(file, wanted);
        grantWaiters(file); // an unlock, or a write lock turned read, may let waiters in
        tidy(locks.files, it);
        return 0;
    }
    if (wait == 0) {
        return fail(K_EAGAIN);
    }
    Waiter waiter;
    waiter.wanted = wanted;
    file.waiters.push_back(&waiter);
    return waitForGrant(guard, key, waiter);
}

void fileLockOwnerRelease(const FileLockKey *pKey, uintptr_t owner)
{
    if (pKey == nullptr) {
        return;
    }
    LockTable &locks = table();
    const std::lock_guard guard(locks.mutex);
    const auto it = locks.files.find(Key{pKey->pDev, pKey->fileId, pKey->fileNode});
    if (it != locks.files.end()) {
        releaseOwner(it, owner);
        tidy(locks.files, it);
    }
}

void fileLockDeviceRelease(const DEV_HDR *pDev)
{
    LockTable &locks = table();
    const std::lock_guard guard(locks.mutex);
    for (auto it = locks.files.begin(); it != locks.files.end();) {
        if (it->first.pDev != pDev) {
            ++it;
            continue;
        }
        for (Waiter *waiter : it->second.waiters) {
            waiter->cancelled = true;
            waiter->wake.notify_one();
        }
        it = locks.files.erase(it);
    }
}

} // extern "C"
