// Calls under way in one task while another closes their descriptor or deletes their
// device: the close and the delete wait for them, so the driver's file and the device record
// are never used after they were handed back.
#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/iosLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

// One file whose read blocks until the test lets it go; close marks the file closed, and a
// read of a closed file is recorded as a use after close.
struct BlockingFile {
    std::mutex lock;
    std::condition_variable changed;
    bool readEntered = false;
    bool readMayReturn = false;
    bool closed = false;
    std::atomic<int> usesAfterClose{0};
};

BlockingFile theFile;

intptr_t openEntry(DEV_HDR *, char *, int, int)
{
    return reinterpret_cast<intptr_t>(&theFile);
}

int closeEntry(intptr_t file)
{
    auto *f = reinterpret_cast<BlockingFile *>(file);
    const std::lock_guard guard(f->lock);
    f->closed = true;
    return 0;
}

int readEntry(intptr_t file, char *, int nBytes)
{
    auto *f = reinterpret_cast<BlockingFile *>(file);
    std::unique_lock guard(f->lock);
    if (f->closed)
        ++f->usesAfterClose;
    f->readEntered = true;
    f->changed.notify_all();
    f->changed.wait(guard, [f] { return f->readMayReturn; });
    if (f->closed)
        ++f->usesAfterClose;
    return nBytes;
}

TEST(IoCallsUnderWay, CloseWaitsForTheCallUnderWayAndLaterCallsFail)
{
    const int drv = iosDrvInstall(nullptr, nullptr, openEntry, closeEntry, readEntry, nullptr, nullptr);
    ASSERT_GT(drv, 0);
    static DEV_HDR device{};
    ASSERT_EQ(iosDevAdd(&device, "/blockdev", drv), 0);
    const int fd = kOpen("/blockdev/f", K_O_RDONLY, 0);
    ASSERT_GE(fd, 0);

    char buffer[4];
    int readResult = 0;
    std::thread reader([&] { readResult = kRead(fd, buffer, 4); });
    {
        std::unique_lock guard(theFile.lock);
        theFile.changed.wait(guard, [] { return theFile.readEntered; });
    }
    std::atomic<bool> closeReturned{false};
    int closeResult = -1;
    std::thread closer([&] {
        closeResult = kClose(fd);
        closeReturned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(closeReturned.load()) << "close must wait for the read under way";
    EXPECT_EQ(kRead(fd, buffer, 4), -1) << "no new call once the close has begun";
    EXPECT_EQ(errnoGet(), K_EBADF);
    {
        const std::lock_guard guard(theFile.lock);
        theFile.readMayReturn = true;
        theFile.changed.notify_all();
    }
    reader.join();
    closer.join();
    EXPECT_EQ(readResult, 4);
    EXPECT_EQ(closeResult, 0);
    EXPECT_TRUE(theFile.closed);
    EXPECT_EQ(theFile.usesAfterClose.load(), 0);
    EXPECT_EQ(kRead(fd, buffer, 4), -1);

    iosDevDelete(&device);
    EXPECT_EQ(iosDrvRemove(drv), 0);
}

// An open entry that blocks until the test lets it go.
struct BlockingOpen {
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false;
    bool mayReturn = false;
    DEV_HDR *deviceSeen = nullptr;
};

BlockingOpen theOpen;

intptr_t blockingOpenEntry(DEV_HDR *pDev, char *, int, int)
{
    std::unique_lock guard(theOpen.lock);
    theOpen.entered = true;
    theOpen.changed.notify_all();
    theOpen.changed.wait(guard, [] { return theOpen.mayReturn; });
    theOpen.deviceSeen = pDev;
    return 1;
}

int noClose(intptr_t)
{
    return 0;
}

TEST(IoCallsUnderWay, DeletingADeviceWaitsForItsRunningEntries)
{
    const int drv = iosDrvInstall(nullptr, nullptr, blockingOpenEntry, noClose, nullptr, nullptr, nullptr);
    ASSERT_GT(drv, 0);
    static DEV_HDR device{};
    ASSERT_EQ(iosDevAdd(&device, "/slowdev", drv), 0);
    int fd = -1;
    std::thread opener([&] { fd = kOpen("/slowdev/f", K_O_RDONLY, 0); });
    {
        std::unique_lock guard(theOpen.lock);
        theOpen.changed.wait(guard, [] { return theOpen.entered; });
    }
    std::atomic<bool> deleted{false};
    std::thread deleter([&] {
        iosDevDelete(&device);
        deleted = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(deleted.load()) << "the delete must wait for the open under way";
    const char *tail = nullptr;
    EXPECT_EQ(iosDevFind("/slowdev/g", &tail), nullptr) << "but no new path finds the device";
    {
        const std::lock_guard guard(theOpen.lock);
        theOpen.mayReturn = true;
        theOpen.changed.notify_all();
    }
    opener.join();
    deleter.join();
    EXPECT_EQ(theOpen.deviceSeen, &device);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(kClose(fd), 0);
    EXPECT_EQ(iosDrvRemove(drv), 0);
}

} // namespace
