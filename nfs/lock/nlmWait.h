// Module-private: the pauses of a lock wait (K_FIOSETLKW) between its attempts.
#ifndef NFS_LOCK_NLMWAIT_H
#define NFS_LOCK_NLMWAIT_H

#include <chrono>
#include <cstdint>

// Whether a wait asks again after a LOCK answered STAT: a conflict, or a server still in its
// grace period after the call's time-out.
bool nlmWaitGoesOn(uint32_t stat);

// The pauses: 10 ms, doubling up to 250 ms (a lock let go is seen that late at most, and a
// waiter asks the server 4 times a second), each cut into slices after which the task's
// interrupt hook is asked.
class NlmWait {
public:
    // Waits the next pause; false (at once) when the task was asked to stop.
    bool pause();

private:
    std::chrono::milliseconds next_{10};
};

#endif
