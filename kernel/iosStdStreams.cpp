// The built-in driver of descriptors 0, 1 and 2: the host's standard input, output and error.
// Its file values are the host's descriptor numbers; the streams are never closed.
#include "hostFsPrivate.h"
#include "iosPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <cerrno>
#include <cstddef>
#include <sys/ioctl.h>
#include <unistd.h>

namespace ios {
namespace {

int stdClose(intptr_t)
{
    return 0;
}

int stdRead(intptr_t file, char *buffer, int nBytes)
{
    ssize_t got = 0;
    do {
        got = ::read(static_cast<int>(file), buffer, static_cast<std::size_t>(nBytes));
    } while (got < 0 && errno == EINTR);
    return got < 0 ? hostFs::failFromHost() : static_cast<int>(got);
}

int stdWrite(intptr_t file, const char *buffer, int nBytes)
{
    ssize_t put = 0;
    do {
        put = ::write(static_cast<int>(file), buffer, static_cast<std::size_t>(nBytes));
    } while (put < 0 && errno == EINTR);
    return put < 0 ? hostFs::failFromHost() : static_cast<int>(put);
}

int stdIoctl(intptr_t file, int function, intptr_t arg)
{
    if (function != K_FIONREAD) {
        errnoSet(K_ENOSYS);
        return -1;
    }
    int *pCount = reinterpret_cast<int *>(arg);
    if (pCount == nullptr) {
        errnoSet(K_EINVAL);
        return -1;
    }
    return ::ioctl(static_cast<int>(file), FIONREAD, pCount) < 0 ? hostFs::failFromHost() : 0;
}

} // namespace

DriverEntries stdStreamEntries()
{
    return DriverEntries{nullptr, nullptr, nullptr, stdClose, stdRead, stdWrite, stdIoctl};
}

} // namespace ios
