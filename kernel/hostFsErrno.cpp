// Host errno values translated to the kernel's error numbers.
#include "hostFsPrivate.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace hostFs {
namespace {

struct ErrnoPair {
    int host;
    int kernel;
};

constexpr std::array kErrnoMap{
    ErrnoPair{EPERM, K_EPERM},
    ErrnoPair{ENOENT, K_ENOENT},
    ErrnoPair{EIO, K_EIO},
    ErrnoPair{ENXIO, K_ENXIO},
    ErrnoPair{EBADF, K_EBADF},
    ErrnoPair{ENOMEM, K_ENOMEM},
    ErrnoPair{EACCES, K_EACCES},
    ErrnoPair{ENOTEMPTY, K_ENOTEMPTY},
    ErrnoPair{EBUSY, K_EBUSY},
    ErrnoPair{EEXIST, K_EEXIST},
    ErrnoPair{EXDEV, K_EXDEV},
    ErrnoPair{ENODEV, K_ENODEV},
    ErrnoPair{ENOTDIR, K_ENOTDIR},
    ErrnoPair{EISDIR, K_EISDIR},
    ErrnoPair{EINVAL, K_EINVAL},
    ErrnoPair{EMFILE, K_EMFILE},
    ErrnoPair{ENFILE, K_EMFILE},
    ErrnoPair{ENOTTY, K_ENOTTY},
    ErrnoPair{ENAMETOOLONG, K_ENAMETOOLONG},
    ErrnoPair{ENOSPC, K_ENOSPC},
    ErrnoPair{EDQUOT, K_ENOSPC},
    ErrnoPair{EROFS, K_EROFS},
    ErrnoPair{EOPNOTSUPP, K_ENOTSUP},
    ErrnoPair{ELOOP, K_ELOOP},
    ErrnoPair{ENOSYS, K_ENOSYS},
    ErrnoPair{EOVERFLOW, K_EINVAL},
};

} // namespace

int kernelErrno(int hostErrno)
{
    const ErrnoPair *pair = std::find_if(kErrnoMap.begin(), kErrnoMap.end(),
                                         [hostErrno](const ErrnoPair &p) { return p.host == hostErrno; });
    return pair != kErrnoMap.end() ? pair->kernel : K_EIO;
}

int failFromHost()
{
    errnoSet(kernelErrno(errno));
    return -1;
}

} // namespace hostFs
