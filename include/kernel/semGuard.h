/* A scope's hold on a mutual-exclusion semaphore, for C++ callers: taken when the guard is
 * made, given back when it goes. */
#ifndef KERNEL_SEMGUARD_H
#define KERNEL_SEMGUARD_H

#ifdef __cplusplus

#include <kernel/kernelTypes.h>
#include <kernel/semLib.h>

class SemGuard {
public:
    /* Waits for the semaphore as long as timeout says (ticks, K_WAIT_FOREVER or K_NO_WAIT). */
    explicit SemGuard(SEM_ID semId, int timeout = K_WAIT_FOREVER)
        : semId_(semId), held_(semTake(semId, timeout) == 0)
    {
    }
    SemGuard(const SemGuard &) = delete;
    SemGuard &operator=(const SemGuard &) = delete;
    ~SemGuard()
    {
        if (held_)
            semGive(semId_);
    }
    /* False, with the error number set by semTake, when it could not be taken. */
    bool held() const { return held_; }
    /* The semaphore was deleted while held: nothing is given back. */
    void forget() { held_ = false; }

private:
    SEM_ID semId_;
    bool held_;
};

#endif
#endif
