// Mutual-exclusion semaphores, recursive for their owner; binary semaphores, a latch that any
// task gives and one waiter takes.
//
// Deleting a semaphore wakes its waiters, whose semTake then fails with K_OBJ_DELETED; the
// memory goes with the last waiter to leave, so a waiter never touches freed memory.
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/semLib.h>
#include <kernel/sysLib.h>
#include <kernel/taskLib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

// An uncontended take or give is one atomic operation on the owner word; only a task that must
// wait takes the mutex, and a give takes it only when some task waits.
struct KernelSemaphore {
    std::atomic<uintptr_t> owner{0}; // task id of the holder, 0 when free
    int depth = 0;                   // touched by the holder only
    std::atomic<int> waiters{0};     // changed under lock
    std::atomic<bool> deleted{false};
    std::mutex lock; // guards sleeping and waking
    std::condition_variable released;
    int options = 0;
    bool binary = false; // a binary semaphore: full below is its state, guarded by lock
    bool full = false;
};

namespace {

uintptr_t currentTaskId()
{
    TaskRecord *task = taskIdCurrent();
    return task == nullptr ? 0 : task->taskId;
}

std::chrono::milliseconds ticksToDuration(int ticks)
{
    const long long rate = sysClkRateGet();
    return std::chrono::milliseconds((static_cast<long long>(ticks) * 1000 + rate - 1) / rate);
}

int fail(int errorNumber)
{
    errnoSet(errorNumber);
    return -1;
}

bool claim(KernelSemaphore *sem, uintptr_t me)
{
    uintptr_t free = 0;
    return sem->owner.compare_exchange_strong(free, me);
}

// Sleeps under GUARD until READY or the semaphore's deletion, at most TIMEOUT ticks (negative:
// for ever): 0, or the failure. The last waiter out of a deleted semaphore frees it.
template <typename Ready>
int awaitReady(KernelSemaphore *sem, std::unique_lock<std::mutex> &guard, int timeout, Ready ready)
{
    sem->waiters.fetch_add(1);
    const auto readyOrDeleted = [sem, &ready] { return sem->deleted.load() || ready(); };
    bool obtained = true;
    if (timeout < 0)
        sem->released.wait(guard, readyOrDeleted);
    else
        obtained = sem->released.wait_for(guard, ticksToDuration(timeout), readyOrDeleted);
    const int stillWaiting = sem->waiters.fetch_sub(1) - 1;
    if (sem->deleted.load()) {
        guard.unlock();
        if (stillWaiting == 0)
            delete sem;
        return fail(K_OBJ_DELETED);
    }
    return obtained ? 0 : fail(K_OBJ_TIMEOUT);
}

// A waiter counts itself before trying, and a give reads the count after freeing the owner
// word, so either the waiter's try sees the semaphore free or the give sees the waiter and
// wakes it under the mutex, which the waiter holds until it sleeps.
int takeWaiting(KernelSemaphore *sem, uintptr_t me, int timeout)
{
    std::unique_lock guard(sem->lock);
    if (const int waited = awaitReady(sem, guard, timeout, [sem, me] { return claim(sem, me); }); waited != 0)
        return waited;
    sem->depth = 1;
    return 0;
}

int takeBinary(KernelSemaphore *sem, int timeout)
{
    std::unique_lock guard(sem->lock);
    if (!sem->full && timeout == K_NO_WAIT)
        return fail(K_OBJ_UNAVAILABLE);
    if (const int waited = awaitReady(sem, guard, timeout, [sem] { return sem->full; }); waited != 0)
        return waited;
    sem->full = false;
    return 0;
}

int giveBinary(KernelSemaphore *sem)
{
    const std::lock_guard guard(sem->lock);
    sem->full = true;
    sem->released.notify_one();
    return 0;
}

} // namespace

extern "C" {

SEM_ID semMCreate(int options)
{
    auto *sem = new (std::nothrow) KernelSemaphore;
    if (sem == nullptr) {
        errnoSet(K_ENOMEM);
        return nullptr;
    }
    sem->options = options;
    return sem;
}

SEM_ID semBCreate(int options, SEM_B_STATE initialState)
{
    SEM_ID sem = semMCreate(options);
    if (sem != nullptr) {
        sem->binary = true;
        sem->full = initialState == SEM_FULL;
    }
    return sem;
}

int semTake(SEM_ID sem, int timeout)
{
    if (sem == nullptr)
        return fail(K_OBJ_ID_ERROR);
    if (sem->deleted.load(std::memory_order_acquire))
        return fail(K_OBJ_DELETED);
    if (sem->binary)
        return takeBinary(sem, timeout);
    const uintptr_t me = currentTaskId();
    if (sem->owner.load(std::memory_order_relaxed) == me) {
        ++sem->depth;
        return 0;
    }
    if (claim(sem, me)) {
        sem->depth = 1;
        return 0;
    }
    if (timeout == K_NO_WAIT)
        return fail(K_OBJ_UNAVAILABLE);
    return takeWaiting(sem, me, timeout);
}

int semGive(SEM_ID sem)
{
    if (sem == nullptr)
        return fail(K_OBJ_ID_ERROR);
    if (sem->deleted.load(std::memory_order_acquire))
        return fail(K_OBJ_DELETED);
    if (sem->binary)
        return giveBinary(sem);
    if (sem->owner.load(std::memory_order_relaxed) != currentTaskId())
        return fail(K_OBJ_UNAVAILABLE);
    if (--sem->depth > 0)
        return 0;
    sem->owner.store(0);
    if (sem->waiters.load() > 0) {
        const std::lock_guard guard(sem->lock);
        sem->released.notify_one();
    }
    return 0;
}

int semDelete(SEM_ID sem)
{
    if (sem == nullptr)
        return fail(K_OBJ_ID_ERROR);
    std::unique_lock guard(sem->lock);
    if (sem->deleted)
        return fail(K_OBJ_DELETED);
    sem->deleted = true;
    const bool nobodyWaits = sem->waiters == 0;
    sem->released.notify_all();
    guard.unlock();
    if (nobodyWaits)
        delete sem;
    return 0;
}
}
