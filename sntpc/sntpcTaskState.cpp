// What a task can ask after a call: the kiss code of its last refused reply and the round trip
// of its last successful server-mode exchange. Each task has its own, so that tasks calling at
// once never see each other's; a plain record, which needs nothing done when a task ends.
#include "sntpcInternal.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>

namespace tovelle {
namespace {

constexpr int64_t kNanosecondsPerSecond = 1000000000;

struct TaskRecord {
    bool kissKept;
    char kissCode[SNTPC_KISS_CODE_LEN]; // NUL-terminated
    bool roundTripKept;
    int64_t roundTripNanoseconds;
};

thread_local TaskRecord taskRecord{};

int failWith(int errorNumber)
{
    errnoSet(errorNumber);
    return -1;
}

} // namespace

void kissCodeKeep(const KissCode *pCode)
{
    taskRecord.kissKept = pCode != nullptr;
    std::fill(std::begin(taskRecord.kissCode), std::end(taskRecord.kissCode), '\0');
    if (pCode != nullptr)
        std::copy(pCode->begin(), pCode->end(), std::begin(taskRecord.kissCode));
}

void roundTripKeep(int64_t nanoseconds)
{
    taskRecord.roundTripKept = true;
    taskRecord.roundTripNanoseconds = nanoseconds;
}

} // namespace tovelle

extern "C" {

int sntpcKissCodeGet(char *pCode)
{
    using tovelle::taskRecord;
    if (pCode == nullptr)
        return tovelle::failWith(SNTPC_ERR_INVALID_PARAMETER);
    if (!taskRecord.kissKept)
        return tovelle::failWith(K_ENOENT);
    std::copy(std::begin(taskRecord.kissCode), std::end(taskRecord.kissCode), pCode);
    return 0;
}

int sntpcRoundTripGet(struct timespec *pRoundTrip)
{
    using tovelle::taskRecord;
    if (pRoundTrip == nullptr)
        return tovelle::failWith(SNTPC_ERR_INVALID_PARAMETER);
    if (!taskRecord.roundTripKept)
        return tovelle::failWith(K_ENOENT);
    pRoundTrip->tv_sec =
        static_cast<time_t>(taskRecord.roundTripNanoseconds / tovelle::kNanosecondsPerSecond);
    pRoundTrip->tv_nsec = static_cast<long>(taskRecord.roundTripNanoseconds % tovelle::kNanosecondsPerSecond);
    return 0;
}
}
