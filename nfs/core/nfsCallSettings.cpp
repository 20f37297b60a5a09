// The device's options, else the configuration words, for the calls made on its behalf.
#include "core/nfsCallSettings.h"

#include "core/nfsConfig.h"

#include <algorithm>

namespace {

constexpr uint32_t kNfsProgram = 100003;
constexpr uint32_t kMountProgram = 100005;
constexpr int32_t kUsecPerTenth = 100000;
constexpr int32_t kUsecPerSec = 1000000;

// The task's device: set and restored by the scopes, read by the task's own calls only.
thread_local const NfsMountOptions *current = nullptr;

// The options with the bit given, or null.
const NfsMountOptions *given(uint32_t bit)
{
    return current != nullptr && (current->given & bit) != 0 ? current : nullptr;
}

int64_t usecOf(int32_t sec, int32_t usec)
{
    return int64_t{std::max(sec, 0)} * kUsecPerSec + std::max(usec, 0);
}

// The parser bounds timeo and retrans so that their product fits.
NfsCallTime timeOf(int64_t usec)
{
    return NfsCallTime{static_cast<int32_t>(usec / kUsecPerSec), static_cast<int32_t>(usec % kUsecPerSec)};
}

} // namespace

NfsCallScope::NfsCallScope(const NfsMountOptions *options) : previous_(current)
{
    current = options;
}

NfsCallScope::~NfsCallScope()
{
    current = previous_;
}

const NfsMountOptions *nfsCallOptions()
{
    return current;
}

int32_t nfsCallVersion()
{
    const NfsMountOptions *o = given(NFS_OPT_VERS);
    return o != nullptr ? o->version : nfsWordGet(nfsVersion);
}

int32_t nfsCallTransport()
{
    const NfsMountOptions *o = given(NFS_OPT_PROTO);
    return o != nullptr ? o->transport : nfsWordGet(nfsTransport);
}

uint16_t nfsCallPort(uint32_t prog)
{
    if (const NfsMountOptions *o = given(NFS_OPT_PORT); o != nullptr && prog == kNfsProgram)
        return o->port;
    if (const NfsMountOptions *o = given(NFS_OPT_MOUNTPORT); o != nullptr && prog == kMountProgram)
        return o->mountPort;
    return 0;
}

bool nfsCallPortFits(uint32_t prog, uint16_t port)
{
    const uint16_t asked = nfsCallPort(prog);
    return asked == 0 || asked == port;
}

uint32_t nfsCallReadSize(int version)
{
    const NfsMountOptions *o = given(NFS_OPT_RSIZE);
    if (o != nullptr && o->readSize != NFS_OPT_SIZE_MAX)
        return o->readSize;
    return version == 2 ? nfsWordGet(nfs2MaxMsgLen) : nfsWordGet(nfs3MaxMsgLen);
}

uint32_t nfsCallWriteSize(int version)
{
    const NfsMountOptions *o = given(NFS_OPT_WSIZE);
    if (o != nullptr && o->writeSize != NFS_OPT_SIZE_MAX)
        return o->writeSize;
    return version == 2 ? nfsWordGet(nfs2MaxMsgLen) : nfsWordGet(nfs3MaxMsgLen);
}

uint32_t nfsCallTransferMost()
{
    return std::max({nfsCallReadSize(2), nfsCallWriteSize(2), nfsCallReadSize(3), nfsCallWriteSize(3)});
}

NfsCallTime nfsCallReXmit()
{
    const NfsMountOptions *o = given(NFS_OPT_TIMEO);
    if (o != nullptr)
        return timeOf(int64_t{o->timeo} * kUsecPerTenth);
    return NfsCallTime{nfsReXmitSec, nfsReXmitUSec};
}

// With timeo= or retrans= given, a call is given the interval once for each send; the sends
// not given are those the words allow (their time-out over their interval).
NfsCallTime nfsCallTimeout()
{
    if (given(NFS_OPT_TIMEO | NFS_OPT_RETRANS) == nullptr)
        return NfsCallTime{nfsTimeoutSec, nfsTimeoutUSec};
    const NfsCallTime interval = nfsCallReXmit();
    const int64_t each = std::max<int64_t>(usecOf(interval.sec, interval.usec), 1);
    int64_t sends = 0;
    if (const NfsMountOptions *o = given(NFS_OPT_RETRANS); o != nullptr)
        sends = int64_t{o->retrans} + 1;
    else
        sends = std::max<int64_t>(usecOf(nfsTimeoutSec, nfsTimeoutUSec) /
                                      std::max<int64_t>(usecOf(nfsReXmitSec, nfsReXmitUSec), 1),
                                  1);
    return timeOf(each * sends);
}

int32_t nfsCallWindow()
{
    const NfsMountOptions *o = given(NFS_OPT_WINDOW);
    return o != nullptr ? o->window : nfsWordGet(nfsMaxInFlight);
}

int32_t nfsCallLines(int32_t word)
{
    const NfsMountOptions *o = given(NFS_OPT_LINES);
    return o != nullptr ? o->lines : word;
}

int32_t nfsCallLineSize(int32_t word)
{
    const NfsMountOptions *o = given(NFS_OPT_LINESIZE);
    return o != nullptr ? o->lineSize : word;
}
