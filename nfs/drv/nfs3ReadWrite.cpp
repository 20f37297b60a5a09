// The version 3 driver's read and write entries: requests cut at cache-line boundaries and
// moved line by line through the device's cache, which alone talks to the server.
#include "drv/nfs3DrvEntries.h"

#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsErrors.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelStat.h>

#include <algorithm>
#include <cstdint>

namespace {

// The most of `left` bytes that stay inside the line holding pos (the cache refuses a line
// size of 0 itself).
int pieceAt(uint64_t pos, uint32_t lineSize, int left)
{
    if (lineSize == 0)
        return left;
    const uint32_t room = lineSize - (static_cast<uint32_t>(pos) & (lineSize - 1));
    return static_cast<int>(std::min(static_cast<uint32_t>(left), room));
}

// An error kept from a call that stopped after moving bytes is this call's failure.
bool pendingReported(NfsOpenFile *file)
{
    if (file->pendingErrno == 0)
        return false;
    errnoSet(file->pendingErrno);
    file->pendingErrno = 0;
    return true;
}

// A piece failed after `done` bytes had moved: those are the result, and the error waits for
// the next call. With nothing moved the failure is this call's.
int stopped(NfsOpenFile *file, int done)
{
    if (done == 0)
        return -1;
    const int error = errnoGet();
    file->pendingErrno = error != 0 ? error : NFS_ERRNO_BASE | NFS3ERR_IO;
    return done;
}

bool pastLargestPosition(uint64_t pos, int count)
{
    if (pos + static_cast<uint64_t>(count) >= pos)
        return false;
    errnoSet(NFS_ERRNO_BASE | NFS3ERR_FBIG);
    return true;
}

} // namespace

extern "C" {

int nfs3Read(NfsOpenFile *file, char *buf, int count)
{
    if (count < 0) {
        errnoSet(NFS_DRV_ERR_BAD_BYTE_COUNT);
        return -1;
    }
    if (count == 0)
        return 0;
    if (file->accessMode == K_O_WRONLY) {
        errnoSet(NFS_DRV_ERR_READ_WRITE_ONLY);
        return -1;
    }
    const nfs3drv::FileLock lock(file);
    if (!lock.held() || pendingReported(file) || pastLargestPosition(file->pos, count))
        return -1;
    const uint32_t lineSize = file->pCache->lineSize;
    int done = 0;
    while (done < count) {
        const int piece = pieceAt(file->pos, lineSize, count - done);
        const int got = nfsCacheLineRead(file, file->pos, buf + done, piece, 3);
        if (got < 0)
            return stopped(file, done);
        done += got;
        file->pos += static_cast<uint64_t>(got);
        // A short piece ends the file's data: asking again now would only refetch the line.
        if (got < piece)
            break;
    }
    return done;
}

int nfs3Write(NfsOpenFile *file, const char *buf, int count)
{
    if (count < 0) {
        errnoSet(NFS_DRV_ERR_BAD_BYTE_COUNT);
        return -1;
    }
    if (file->accessMode == K_O_RDONLY) {
        errnoSet(NFS_DRV_ERR_WRITE_READ_ONLY);
        return -1;
    }
    const nfs3drv::FileLock lock(file);
    if (!lock.held() || pendingReported(file) || pastLargestPosition(file->pos, count))
        return -1;
    const uint32_t lineSize = file->pCache->lineSize;
    int done = 0;
    while (done < count) {
        const int piece = pieceAt(file->pos, lineSize, count - done);
        const int put = nfsCacheLineWrite(file, file->pos, buf + done, piece, 3);
        if (put < 0)
            return stopped(file, done);
        done += put;
        file->pos += static_cast<uint64_t>(put);
        file->attr.size = std::max(file->attr.size, file->pos);
    }
    return done;
}

} // extern "C"
