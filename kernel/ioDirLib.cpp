// Directory streams: one K_FIOREADDIR request per entry on a descriptor opened read-only.
#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/kernelStat.h>

#include <new>

extern "C" {

KDIR *kOpendir(const char *path)
{
    const int fd = kOpen(path, K_O_RDONLY, 0);
    if (fd < 0) {
        return nullptr;
    }
    KDIR *pDir = new (std::nothrow) KDIR();
    if (pDir == nullptr) {
        kClose(fd);
        errnoSet(K_ENOMEM);
        return nullptr;
    }
    pDir->dd_fd = fd;
    return pDir;
}

struct kdirent *kReaddir(KDIR *pDir)
{
    if (pDir == nullptr) {
        errnoSet(K_EINVAL);
        return nullptr;
    }
    if (kIoctl(pDir->dd_fd, K_FIOREADDIR, reinterpret_cast<intptr_t>(pDir)) < 0 || pDir->dd_eof != 0) {
        return nullptr;
    }
    pDir->dd_dirent.d_name[K_NAME_MAX] = '\0';
    return &pDir->dd_dirent;
}

void kRewinddir(KDIR *pDir)
{
    if (pDir != nullptr) {
        pDir->dd_cookie = 0;
        pDir->dd_eof = 0;
    }
}

int kClosedir(KDIR *pDir)
{
    if (pDir == nullptr) {
        errnoSet(K_EINVAL);
        return -1;
    }
    const int result = kClose(pDir->dd_fd);
    delete pDir;
    return result;
}

} // extern "C"
