// The system clock rate.
#include <kernel/sysLib.h>

#include <atomic>

namespace {
constexpr int kDefaultTicksPerSecond = 60;
constexpr int kMaxTicksPerSecond = 10000;
std::atomic<int> ticksPerSecond{kDefaultTicksPerSecond};
} // namespace

extern "C" {

int sysClkRateGet(void)
{
    return ticksPerSecond.load();
}

int sysClkRateSet(int rate)
{
    if (rate < 1 || rate > kMaxTicksPerSecond)
        return -1;
    ticksPerSecond.store(rate);
    return 0;
}
}
