// Error numbers, the host table, boot parameters, memory partitions and the clock.
#include <kernel/bootLib.h>
#include <kernel/errnoLib.h>
#include <kernel/hostLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/memLib.h>
#include <kernel/sysLib.h>

#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

std::string dotted(int address)
{
    in_addr in{};
    in.s_addr = static_cast<in_addr_t>(address);
    return inet_ntoa(in);
}

TEST(ErrnoLib, PerThreadAndRpcStatusForm)
{
    errnoSet(0x300046);
    int other = 0;
    std::thread([&] {
        errnoSet(7);
        other = errnoGet();
    }).join();
    EXPECT_EQ(other, 7);
    EXPECT_EQ(errnoGet(), 0x300046);
    rpcClntErrnoSet(5); // RPC_TIMEDOUT
    EXPECT_EQ(errnoGet(), K_RPC_CLNT_ERRNO_BASE | 5);
    netErrnoSet(13);
    EXPECT_EQ(errnoGet(), 13);
}

TEST(HostLib, TableComesFirstAndIgnoresCase)
{
    ASSERT_EQ(hostAdd("scripted-a", "127.0.0.2"), 0);
    EXPECT_EQ(hostAdd("scripted-a", "127.0.0.2"), 0) << "adding the same entry again is harmless";
    EXPECT_EQ(dotted(hostGetByName("scripted-a")), "127.0.0.2");
    EXPECT_EQ(dotted(hostGetByName("SCRIPTED-A")), "127.0.0.2");
    EXPECT_EQ(dotted(hostGetByName("127.0.0.9")), "127.0.0.9");
    EXPECT_EQ(dotted(hostGetByName("localhost")), "127.0.0.1");
    EXPECT_EQ(dotted(hostGetByName("LocalHost")), "127.0.0.1");
    EXPECT_EQ(hostDelete("scripted-a", "127.0.0.2"), 0);
    EXPECT_EQ(hostDelete("scripted-a", "127.0.0.2"), -1);
}

TEST(HostLib, BadInputIsRefused)
{
    EXPECT_EQ(hostAdd("name", "not-an-address"), -1);
    EXPECT_EQ(errnoGet(), K_HOST_INVALID_PARAMETER);
    EXPECT_EQ(hostAdd("", "127.0.0.3"), -1);
    EXPECT_EQ(hostAdd(nullptr, "127.0.0.3"), -1);
    EXPECT_EQ(hostGetByName("no-such-host.invalid"), -1);
    EXPECT_EQ(errnoGet(), K_HOST_UNKNOWN);
    EXPECT_EQ(hostGetByName(nullptr), -1);
    EXPECT_EQ(hostGetByName(std::string(300, 'a').c_str()), -1);
}

TEST(BootLib, ParametersAreTerminatedAndNameTheBootDevice)
{
    EXPECT_LT(std::strlen(sysBootParams.hostName), sizeof sysBootParams.hostName);
    EXPECT_GT(std::strlen(sysBootParams.hostName), 0u);
    EXPECT_LT(std::strlen(sysBootParams.bootFile), sizeof sysBootParams.bootFile);
}

TEST(MemLib, SystemPartitionAndInjectedFailure)
{
    void *block = memPartAlloc(memSysPartId, 64);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xa5, 64);
    EXPECT_EQ(memPartFree(memSysPartId, block), 0);
    memPartFailNext(1);
    EXPECT_EQ(memPartAlloc(memSysPartId, 8), nullptr);
    EXPECT_EQ(errnoGet(), K_ENOMEM);
    block = memPartAlloc(memSysPartId, 8);
    EXPECT_NE(block, nullptr);
    memPartFree(memSysPartId, block);
    EXPECT_EQ(memPartAlloc(nullptr, 8), nullptr);
}

TEST(MemLib, FfsMsb)
{
    EXPECT_EQ(ffsMsb(0), 0);
    EXPECT_EQ(ffsMsb(1), 1);
    EXPECT_EQ(ffsMsb(16384), 15);
    EXPECT_EQ(ffsMsb(16385), 15);
    EXPECT_EQ(ffsMsb(0x80000000u), 32);
}

TEST(SysLib, ClockRate)
{
    EXPECT_EQ(sysClkRateGet(), 60);
    EXPECT_EQ(sysClkRateSet(0), -1);
    EXPECT_EQ(sysClkRateSet(100), 0);
    EXPECT_EQ(sysClkRateGet(), 100);
    EXPECT_EQ(sysClkRateSet(60), 0);
}

} // namespace
