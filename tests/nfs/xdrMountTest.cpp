// MOUNT version 3 XDR routines and the list routines MOUNT versions 1 and 3 share.
#include "xdrTestWire.h"

#include <brisnel/mount3Xdr.h>

#include <gtest/gtest.h>

#include <array>
#include <string>

using xdrtest::Bytes;
using xdrtest::decode;
using xdrtest::encode;
using xdrtest::failuresOverEveryCut;
using xdrtest::release;
using xdrtest::Wire;

namespace {

// Exports: /a with no groups, /b with the groups g1 and g2.
Wire exportsWire()
{
    return Wire().u32(1).var("/a").u32(0).u32(1).var("/b").u32(1).var("g1").u32(1).var("g2").u32(0).u32(0);
}

Wire mountOkWire(const std::string &handle)
{
    return Wire().u32(MNT3_OK).var(handle).u32(2).u32(1).u32(390003);
}

} // namespace

TEST(XdrMountStrings, PathAndNameLimits)
{
    std::string path(MNTPATHLEN, 'p');
    char *p = path.data();
    bool ok = false;
    EXPECT_EQ(encode(XDRPROC(xdr_dirpath), &p, &ok).size(), 4u + MNTPATHLEN);
    EXPECT_TRUE(ok);
    std::string longer(MNTPATHLEN + 1, 'p');
    p = longer.data();
    encode(XDRPROC(xdr_dirpath), &p, &ok);
    EXPECT_FALSE(ok);
    char *decoded = nullptr;
    EXPECT_FALSE(decode(XDRPROC(xdr_dirpath), Wire().var(longer).bytes(), &decoded));
    EXPECT_EQ(decoded, nullptr);

    std::string name(MNTNAMLEN, 'n');
    char *n = name.data();
    encode(XDRPROC(xdr_name), &n, &ok);
    EXPECT_TRUE(ok);
    std::string longName(MNTNAMLEN + 1, 'n');
    n = longName.data();
    encode(XDRPROC(xdr_name), &n, &ok);
    EXPECT_FALSE(ok);
}

TEST(XdrMount3, MountResultArms)
{
    mountres3 refused{};
    u_int consumed = 0;
    ASSERT_TRUE(
        decode(XDRPROC(xdr_mountres3), Wire().u32(MNT3ERR_ACCES).u32(64).bytes(), &refused, &consumed));
    EXPECT_EQ(refused.fhs_status, MNT3ERR_ACCES);
    EXPECT_EQ(consumed, 4u);

    const std::string handle(FHSIZE3, 'r');
    mountres3 allocated{};
    ASSERT_TRUE(decode(XDRPROC(xdr_mountres3), mountOkWire(handle).bytes(), &allocated));
    const mountres3_ok &ok = allocated.mountres3_u.mountinfo;
    EXPECT_EQ(std::string(ok.fhandle.fhandle3_val, ok.fhandle.fhandle3_len), handle);
    ASSERT_EQ(ok.auth_flavors.auth_flavors_len, 2u);
    EXPECT_EQ(ok.auth_flavors.auth_flavors_val[1], 390003);
    EXPECT_EQ(encode(XDRPROC(xdr_mountres3), &allocated), mountOkWire(handle).bytes());
    release(XDRPROC(xdr_mountres3), &allocated);

    std::array<char, FHSIZE3> buffer{};
    mountres3 tooLong{};
    tooLong.mountres3_u.mountinfo.fhandle.fhandle3_val = buffer.data();
    EXPECT_FALSE(decode(XDRPROC(xdr_mountres3), mountOkWire(handle + "x").bytes(), &tooLong));
    release(XDRPROC(xdr_mountres3), &tooLong);
}

TEST(XdrMountLists, ExportsAndMountEntries)
{
    exports none = nullptr;
    ASSERT_TRUE(decode(XDRPROC(xdr_exports), Wire().u32(0).bytes(), &none));
    EXPECT_EQ(none, nullptr);

    const Bytes wire = exportsWire().bytes();
    exports list = nullptr;
    ASSERT_TRUE(decode(XDRPROC(xdr_exports), wire, &list));
    ASSERT_NE(list, nullptr);
    EXPECT_STREQ(list->ex_dir, "/a");
    EXPECT_EQ(list->ex_groups, nullptr);
    ASSERT_NE(list->ex_next, nullptr);
    const exportnode *b = list->ex_next;
    EXPECT_STREQ(b->ex_dir, "/b");
    ASSERT_NE(b->ex_groups, nullptr);
    EXPECT_STREQ(b->ex_groups->gr_name, "g1");
    ASSERT_NE(b->ex_groups->gr_next, nullptr);
    EXPECT_STREQ(b->ex_groups->gr_next->gr_name, "g2");
    EXPECT_EQ(b->ex_groups->gr_next->gr_next, nullptr);
    EXPECT_EQ(b->ex_next, nullptr);
    EXPECT_EQ(encode(XDRPROC(xdr_exports), &list), wire);
    release(XDRPROC(xdr_exports), &list);
    EXPECT_EQ(list, nullptr);

    const Bytes dump = Wire().u32(1).var("client").var("/export").u32(0).bytes();
    mountlist mounts = nullptr;
    ASSERT_TRUE(decode(XDRPROC(xdr_mountlist), dump, &mounts));
    ASSERT_NE(mounts, nullptr);
    EXPECT_STREQ(mounts->ml_hostname, "client");
    EXPECT_STREQ(mounts->ml_directory, "/export");
    EXPECT_EQ(mounts->ml_next, nullptr);
    release(XDRPROC(xdr_mountlist), &mounts);

    // A host name over MNTNAMLEN in the second entry fails the list; the first is freed.
    const Bytes badName =
        Wire().u32(1).var("h").var("/d").u32(1).var(std::string(256, 'h')).var("/d").u32(0).bytes();
    mountlist partial = nullptr;
    EXPECT_FALSE(decode(XDRPROC(xdr_mountlist), badName, &partial));
    release(XDRPROC(xdr_mountlist), &partial);
}

TEST(XdrMountLists, LongListsDoNotRecurse)
{
    Wire wire;
    for (int i = 0; i < 100000; ++i) {
        wire.u32(1).var("/e").u32(1).var("g").u32(0);
    }
    exports list = nullptr;
    ASSERT_TRUE(decode(XDRPROC(xdr_exports), wire.u32(0).bytes(), &list));
    release(XDRPROC(xdr_exports), &list);
}

TEST(XdrMountCutShort, EveryOffsetFailsCleanly)
{
    std::array<char, FHSIZE3> buffer{};
    const Bytes mount = mountOkWire("handle-bytes").bytes();
    EXPECT_EQ(failuresOverEveryCut<mountres3>(XDRPROC(xdr_mountres3), mount, [](mountres3 &) {}),
              mount.size());
    EXPECT_EQ(failuresOverEveryCut<mountres3>(
                  XDRPROC(xdr_mountres3), mount,
                  [&](mountres3 &r) { r.mountres3_u.mountinfo.fhandle.fhandle3_val = buffer.data(); }),
              mount.size());

    const Bytes list = exportsWire().bytes();
    EXPECT_EQ(failuresOverEveryCut<exports>(XDRPROC(xdr_exports), list, [](exports &) {}), list.size());
}

TEST(XdrMountOversized, HugeFlavorCountFailsCleanly)
{
    mountres3 res{};
    EXPECT_FALSE(
        decode(XDRPROC(xdr_mountres3), Wire().u32(MNT3_OK).var("h").u32(0x40000000).u32(1).bytes(), &res));
    release(XDRPROC(xdr_mountres3), &res);
}

TEST(XdrMountOversized, FlavourListsStopAtTheirLimit)
{
    xdrtest::expectBounded({"MNT flavours", xdrtest::decoderOf<mountres3>(XDRPROC(xdr_mountres3)),
                            [](u_int) { return Wire().u32(MNT3_OK).var("h"); }, Wire(), MNT_MAX_AUTH_FLAVORS,
                            true});
}
