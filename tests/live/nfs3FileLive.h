// Test support for the file calls on a version 3 device of the real NFS server: the export
// mounted as a device, a folder of the test's own in it, and the host's view of that folder
// for checking every byte on the server's side.
#ifndef TESTS_LIVE_NFS3FILELIVE_H
#define TESTS_LIVE_NFS3FILELIVE_H

#include "live/liveServer.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsConfigLib.h>
#include <brisnel/nfsMountLib.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/kernelErrno.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace filelive {

inline constexpr const char *kDev = "/nfs9a";

inline std::vector<char> randomBytes(std::size_t n, std::mt19937 &random)
{
    std::vector<char> bytes(n);
    std::uniform_int_distribution<int> byte(0, 255);
    for (char &c : bytes)
        c = static_cast<char>(byte(random));
    return bytes;
}

class FileLive : public testing::Test {
protected:
    void SetUp() override
    {
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
        ASSERT_EQ(nfs3Drv(), 0);
        nfs3CacheParamsSet(16, lineBytes(), options());
        ASSERT_EQ(nfsMount(live::host().c_str(), live::exportPath().c_str(), kDev), 0)
            << std::hex << errnoGet();
        const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
        folder_ = std::string("h9-") + info->test_suite_name() + "-" + info->name();
        std::filesystem::remove_all(host(""));
        std::filesystem::create_directory(host(""));
        std::filesystem::permissions(host(""), std::filesystem::perms::all);
        // The module's own uid owns the folder, as it would its home: directories made in it
        // take the folder's owner.
        ASSERT_EQ(::chown(host("").c_str(), 2001, 100), 0);
    }
    void TearDown() override
    {
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
        EXPECT_EQ(nfsUnmount(kDev), 0) << std::hex << errnoGet();
        nfs3CacheParamsSet(16, 16384, 0);
        std::error_code ignored;
        std::filesystem::remove_all(host(""), ignored);
        nfsClientClose();
    }
    virtual int options() const { return 0; }
    virtual int lineBytes() const { return 16384; }

    // The test's folder through the device, and the same on the host.
    std::string dev(const std::string &name) const { return std::string(kDev) + "/" + folder_ + "/" + name; }
    std::string host(const std::string &name) const { return live::exportDir() + "/" + folder_ + "/" + name; }
    // The path relative to the device, as the I/O system hands it to the driver.
    std::string tail(const std::string &name) const { return "/" + folder_ + "/" + name; }

    // Read in one piece: files of tens of MiB byte by byte take seconds under the sanitizers.
    std::vector<char> onServer(const std::string &name) const
    {
        std::ifstream in(host(name), std::ios::binary | std::ios::ate);
        if (!in)
            return {};
        std::vector<char> bytes(static_cast<std::size_t>(in.tellg()));
        in.seekg(0);
        in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        bytes.resize(static_cast<std::size_t>(in.gcount()));
        return bytes;
    }
    void putOnServer(const std::string &name, const std::vector<char> &bytes) const
    {
        {
            std::ofstream out(host(name), std::ios::binary);
            out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        }
        // Created by this process (root): open to the module's own uid too.
        std::filesystem::permissions(host(name), std::filesystem::perms(0666));
    }

    // Reads fd to its end in pieces of `piece` bytes.
    static std::vector<char> readAll(int fd, int piece)
    {
        std::vector<char> all;
        std::vector<char> buf(static_cast<std::size_t>(piece));
        for (;;) {
            const int got = kRead(fd, buf.data(), piece);
            if (got <= 0) {
                EXPECT_EQ(got, 0) << std::hex << errnoGet();
                return all;
            }
            all.insert(all.end(), buf.begin(), buf.begin() + got);
        }
    }

    std::string folder_;
};

} // namespace filelive

#endif
