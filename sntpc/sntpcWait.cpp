// Waiting for a reply: the tick timeout as a deadline on the monotonic clock, and the wait
// itself, which a caller may repeat until the deadline after dropping a datagram.
#include "sntpcInternal.h"

#include <kernel/sysLib.h>

#include <poll.h>

#include <algorithm>
#include <limits>

namespace tovelle {
namespace {

constexpr uint32_t kMicrosecondsPerSecond = 1000000u;
constexpr int64_t kNanosecondsPerSecond = 1000000000;
constexpr int64_t kNanosecondsPerMicrosecond = 1000;

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
    struct timeval limit {};
    limit.tv_sec = static_cast<time_t>(seconds);
    limit.tv_usec = static_cast<suseconds_t>(microseconds);
    return limit;
}

int64_t monotonicNanoseconds()
{
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * kNanosecondsPerSecond + now.tv_nsec;
}

Deadline::Deadline(uint32_t timeout) : forever_(timeout == SNTPC_WAIT_FOREVER)
{
    if (forever_)
        return;
    // The longest timeout, 0xFFFFFFFE ticks at one tick a second, is about 2^62 ns: no overflow.
    const struct timeval limit = ticksToTimeval(timeout, clockRate());
    end_ = monotonicNanoseconds() + static_cast<int64_t>(limit.tv_sec) * kNanosecondsPerSecond +
           static_cast<int64_t>(limit.tv_usec) * kNanosecondsPerMicrosecond;
}

bool Deadline::passed() const
{
    return !forever_ && monotonicNanoseconds() >= end_;
}

struct timespec Deadline::remaining() const
{
    const int64_t left = std::max<int64_t>(0, end_ - monotonicNanoseconds());
    // Where time_t is 32 bits, the longest waits are cut to 68 years.
    const int64_t seconds =
        std::min<int64_t>(left / kNanosecondsPerSecond, std::numeric_limits<time_t>::max());
    struct timespec limit {};
    limit.tv_sec = static_cast<time_t>(seconds);
    limit.tv_nsec = static_cast<long>(left % kNanosecondsPerSecond);
    return limit;
}

WaitResult waitReadable(int fd, const Deadline &deadline)
{
    // ppoll rather than select: no limit on the descriptor's number, same time limit.
    struct pollfd watched {
        fd, POLLIN, 0
    };
    const struct timespec limit = deadline.remaining();
    const int ready = ppoll(&watched, 1, deadline.forever() ? nullptr : &limit, nullptr);
    if (ready < 0)
        return WaitResult::failed;
    return ready == 0 ? WaitResult::timedOut : WaitResult::ready;
}

} // namespace tovelle
