// The pauses of a lock wait (nlmWait.h).
#include "lock/nlmWait.h"

#include "lock/nlmXdr.h"

#include <kernel/taskLib.h>

#include <algorithm>
#include <thread>

namespace {

constexpr std::chrono::milliseconds kSlice{10};
constexpr std::chrono::milliseconds kLongest{250};

} // namespace

bool nlmWaitGoesOn(uint32_t stat)
{
    return stat == NLM4_DENIED || stat == NLM4_BLOCKED || stat == NLM4_DENIED_GRACE_PERIOD;
}

bool NlmWait::pause()
{
    for (std::chrono::milliseconds left = next_; left.count() > 0; left -= kSlice) {
        if (taskInterrupted() != 0)
            return false;
        std::this_thread::sleep_for(std::min(left, kSlice));
    }
    next_ = std::min(next_ * 2, kLongest);
    return taskInterrupted() == 0;
}
