// Mutual-exclusion semaphores, recursive for their owner.
//
// Deleting a semaphore wakes its waiters, whose semTake then fails with K_OBJ_DELETED; the
// memory goes with the last waiter to leave, so a waiter never touches freed memory.
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/semLib.h>
#include <kernel/sysLib.h>
#include <kernel/taskLib.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

struct KernelSemaphore {
    std::mutex lock; // guards every field below
    std::condition_variable released;
    uintptr_t owner = 0; // task id of the holder, 0 when free
    int depth = 0;
    int waiters = 0;
    bool deleted = false;
    int options = 0;
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

int semTake(SEM_ID sem, int timeout)
{
    if (sem == nullptr)
        return fail(K_OBJ_ID_ERROR);
    const uintptr_t me = currentTaskId();
    std::unique_lock guard(sem->lock);
    if (sem->deleted)
        return fail(K_OBJ_DELETED);
    if (sem->owner == me) {
        ++sem->depth;
        return 0;
    }
    if (sem->owner != 0 && timeout == K_NO_WAIT)
        return fail(K_OBJ_UNAVAILABLE);

    const auto available = [sem] { return sem->owner == 0 || sem->deleted; };
    ++sem->waiters;
    bool obtained = true;
    if (timeout < 0)
        sem->released.wait(guard, available);
    else
        obtained = sem->released.wait_for(guard, ticksToDuration(timeout), available);
    --sem->waiters;

    if (sem->deleted) {
        const bool lastToLeave = sem->waiters == 0;
        guard.unlock();
        if (lastToLeave)
            delete sem;
        return fail(K_OBJ_DELETED);
    }
    if (!obtained)
        return fail(K_OBJ_TIMEOUT);
    sem->owner = me;
    sem->depth = 1;
    return 0;
}

int semGive(SEM_ID sem)
{
    if (sem == nullptr)
        return fail(K_OBJ_ID_ERROR);
    std::unique_lock guard(sem->lock);
    if (sem->deleted)
        return fail(K_OBJ_DELETED);
    if (sem->owner != currentTaskId())
        return fail(K_OBJ_UNAVAILABLE);
    if (--sem->depth == 0) {
        sem->owner = 0;
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
