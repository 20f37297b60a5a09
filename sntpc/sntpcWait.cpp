// Waiting for a reply: the tick timeout as a time limit, and the wait itself.
#include "sntpcInternal.h"

#include <kernel/sysLib.h>

#include <poll.h>

namespace tovelle {
namespace {

constexpr uint32_t kMicrosecondsPerSecond = 1000000u;
constexpr long kNanosecondsPerMicrosecond = 1000;

uint32_t clockRate()
{
    const int rate = sysClkRateGet();
    return rate < 1 ? 1u : static_cast<uint32_t>(rate);
}

} // namespace

struct timeval ticksToTimeval(uint32_t ticks, uint32_t ticksPerSecond)
{
    // Unsigned 32-bit throughout: the remainder times 10^6 wraps for rates above 4294 ticks
    // per second, and still yields fewer than 10^6 microseconds.
    const uint32_t seconds = ticks / ticksPerSecond;
    const uint32_t microseconds = ticks % ticksPerSecond * kMicrosecondsPerSecond / ticksPerSecond;
    struct timeval limit{};
    limit.tv_sec = static_cast<time_t>(seconds);
    limit.tv_usec = static_cast<suseconds_t>(microseconds);
    return limit;
}

WaitResult waitReadable(int fd, uint32_t timeout)
{
    // ppoll rather than select: no limit on the descriptor's number, same time limit.
    struct pollfd watched{fd, POLLIN, 0};
    struct timespec limit{};
    const struct timespec *pLimit = nullptr;
    if (timeout != SNTPC_WAIT_FOREVER) {
        const struct timeval converted = ticksToTimeval(timeout, clockRate());
        limit.tv_sec = converted.tv_sec;
        limit.tv_nsec = static_cast<long>(converted.tv_usec) * kNanosecondsPerMicrosecond; // below 10^9
        pLimit = &limit;
    }
    const int ready = ppoll(&watched, 1, pLimit, nullptr);
    if (ready < 0)
        return WaitResult::failed;
    return ready == 0 ? WaitResult::timedOut : WaitResult::ready;
}

} // namespace tovelle
