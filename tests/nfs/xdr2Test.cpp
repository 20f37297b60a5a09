// NFS version 2 and MOUNT version 1 XDR routines against hand-built wire bytes.
#include "xdrTestWire.h"

#include <brisnel/mount1Xdr.h>
#include <brisnel/nfs2Xdr.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>

using xdrtest::Bytes;
using xdrtest::decode;
using xdrtest::encode;
using xdrtest::failuresOverEveryCut;
using xdrtest::release;
using xdrtest::Wire;

namespace {

const std::string handle32 = "0123456789abcdef0123456789ABCDEF";

Wire fattrWire(uint32_t type, uint32_t size)
{
    Wire wire;
    wire.u32(type).u32(0100644).u32(1).u32(2001).u32(100).u32(size).u32(4096).u32(0).u32(8).u32(77).u32(1234);
    for (uint32_t t = 1; t <= 6; ++t) {
        wire.u32(t);
    }
    return wire;
}

Wire readOkWire(const std::string &payload)
{
    return Wire().u32(NFS_OK).append(fattrWire(NFREG, 9000)).var(payload);
}

} // namespace

TEST(Xdr2Handles, ThirtyTwoRawBytesWithoutLengthWord)
{
    diropargs args{};
    std::memcpy(args.dir, handle32.data(), NFS_FHSIZE);
    std::string longName(300, 'n'); // no 255 limit at this layer
    args.name = longName.data();
    EXPECT_EQ(encode(XDRPROC(xdr_diropargs), &args), Wire().fixed(handle32).var(longName).bytes());

    const Bytes reply = Wire().u32(NFS_OK).fixed(handle32).append(fattrWire(NFDIR, 512)).bytes();
    diropres res{};
    ASSERT_TRUE(decode(XDRPROC(xdr_diropres), reply, &res));
    EXPECT_EQ(std::string(res.diropres_u.diropres.file, NFS_FHSIZE), handle32);
    EXPECT_EQ(res.diropres_u.diropres.attributes.type, NFDIR);
    EXPECT_EQ(res.diropres_u.diropres.attributes.fileid, 1234u);
    EXPECT_EQ(res.diropres_u.diropres.attributes.ctime.useconds, 6u);
    EXPECT_EQ(encode(XDRPROC(xdr_diropres), &res), reply);

    diropres cut{};
    EXPECT_FALSE(decode(XDRPROC(xdr_diropres), Wire().u32(NFS_OK).fixed("only-half-handle").bytes(), &cut));

    fhstatus mounted{};
    ASSERT_TRUE(decode(XDRPROC(xdr_fhstatus), Wire().u32(0).fixed(handle32).bytes(), &mounted));
    EXPECT_EQ(std::string(mounted.fhstatus_u.directory, FHSIZE), handle32);
    fhstatus refused{};
    u_int consumed = 0;
    ASSERT_TRUE(decode(XDRPROC(xdr_fhstatus), Wire().u32(13).fixed(handle32).bytes(), &refused, &consumed));
    EXPECT_EQ(refused.status, 13u);
    EXPECT_EQ(consumed, 4u);

    char fh[FHSIZE];
    std::memcpy(fh, handle32.data(), FHSIZE); // STATFS sends its handle with xdr_fhandle
    EXPECT_EQ(encode(XDRPROC(xdr_fhandle), fh), Wire().fixed(handle32).bytes());
}

TEST(Xdr2Results, ErrorStatusesDecodeNothingMore)
{
    u_int consumed = 0;
    const Bytes stale = Wire().u32(NFSERR_STALE).u32(1).u32(2).bytes();
    attrstat attr{};
    ASSERT_TRUE(decode(XDRPROC(xdr_attrstat), stale, &attr, &consumed));
    EXPECT_EQ(consumed, 4u);
    readdirres dir{};
    ASSERT_TRUE(decode(XDRPROC(xdr_readdirres), stale, &dir, &consumed));
    EXPECT_EQ(consumed, 4u);
    EXPECT_EQ(dir.status, NFSERR_STALE);
    statfsres fs{};
    ASSERT_TRUE(decode(XDRPROC(xdr_statfsres), stale, &fs, &consumed));
    EXPECT_EQ(consumed, 4u);

    nfsstat status{};
    ASSERT_TRUE(decode(XDRPROC(xdr_nfsstat), Wire().u32(NFSERR_WFLUSH).bytes(), &status));
    EXPECT_EQ(status, NFSERR_WFLUSH);

    statfsres ok{};
    ASSERT_TRUE(decode(XDRPROC(xdr_statfsres),
                       Wire().u32(NFS_OK).u32(8192).u32(4096).u32(1000).u32(600).u32(500).bytes(), &ok));
    EXPECT_EQ(ok.statfsres_u.reply.bsize, 4096u);
    EXPECT_EQ(ok.statfsres_u.reply.bavail, 500u);
}

TEST(Xdr2Read, LargeDataAndCallerBufferCapacity)
{
    const std::string large(NFS_MAXDATA, 'D');
    readres allocated{};
    ASSERT_TRUE(decode(XDRPROC(xdr_readres), readOkWire(large).bytes(), &allocated));
    EXPECT_EQ(std::string(allocated.readres_u.reply.data.data_val, allocated.readres_u.reply.data.data_len),
              large);
    EXPECT_EQ(allocated.readres_u.reply.attributes.size, 9000u);
    release(XDRPROC(xdr_readres), &allocated);

    std::array<char, 40> buffer{};
    buffer.fill('s');
    readres fits{};
    fits.readres_u.reply.data = {32, buffer.data()};
    ASSERT_TRUE(decode(XDRPROC(xdr_readres), readOkWire(handle32).bytes(), &fits));
    EXPECT_EQ(std::string(buffer.data(), 32), handle32);
    EXPECT_EQ(std::string(buffer.data() + 32, 8), std::string(8, 's'));

    buffer.fill('s');
    readres tooMuch{};
    tooMuch.readres_u.reply.data = {31, buffer.data()};
    EXPECT_FALSE(decode(XDRPROC(xdr_readres), readOkWire(handle32).bytes(), &tooMuch));
    EXPECT_EQ(std::string(buffer.data(), buffer.size()), std::string(buffer.size(), 's'));
    release(XDRPROC(xdr_readres), &tooMuch);

    char data[] = "payload";
    writeargs write{};
    std::memcpy(write.file, handle32.data(), NFS_FHSIZE);
    write.offset = 0xFFFFFFF0u;
    write.totalcount = 7;
    write.data = {7, data};
    EXPECT_EQ(encode(XDRPROC(xdr_writeargs), &write),
              Wire().fixed(handle32).u32(0).u32(0xFFFFFFF0u).u32(7).var("payload").bytes());
}

TEST(Xdr2Readlink, CallerBufferHoldsAtMostItsSize)
{
    std::array<char, NFS2_READLINK_BUFSIZE> buffer{};
    const std::string fits(NFS2_READLINK_BUFSIZE - 1, 'l');
    readlinkres res{};
    res.readlinkres_u.data = buffer.data();
    ASSERT_TRUE(decode(XDRPROC(xdr_readlinkres), Wire().u32(NFS_OK).var(fits).bytes(), &res));
    EXPECT_EQ(std::string(buffer.data()), fits);

    readlinkres tooLong{};
    tooLong.readlinkres_u.data = buffer.data();
    EXPECT_FALSE(decode(XDRPROC(xdr_readlinkres), Wire().u32(NFS_OK).var(fits + "m").bytes(), &tooLong));
    release(XDRPROC(xdr_readlinkres), &tooLong);
}

TEST(Xdr2Directory, CookiesAreRawBytesAndListsAnyLength)
{
    readdirargs args{};
    std::memcpy(args.dir, handle32.data(), NFS_FHSIZE);
    std::memcpy(args.cookie, "\xff\x00\x80\x01", NFS_COOKIESIZE);
    args.count = 1024;
    EXPECT_EQ(encode(XDRPROC(xdr_readdirargs), &args),
              Wire().fixed(handle32).fixed(std::string("\xff\x00\x80\x01", 4)).u32(1024).bytes());

    readdirres empty{};
    ASSERT_TRUE(decode(XDRPROC(xdr_readdirres), Wire().u32(NFS_OK).u32(0).u32(1).bytes(), &empty));
    EXPECT_EQ(empty.readdirres_u.reply.entries, nullptr);
    EXPECT_TRUE(empty.readdirres_u.reply.eof);

    const std::string longName(NFS_MAXNAMLEN, 'e');
    const Bytes wire = Wire()
                           .u32(NFS_OK)
                           .u32(1)
                           .u32(5)
                           .var(".")
                           .fixed(std::string("\x00\x00\x00\x01", 4))
                           .u32(1)
                           .u32(6)
                           .var(longName)
                           .fixed(std::string("\xde\xad\xbe\xef", 4))
                           .u32(0)
                           .u32(0)
                           .bytes();
    readdirres two{};
    ASSERT_TRUE(decode(XDRPROC(xdr_readdirres), wire, &two));
    const entry *first = two.readdirres_u.reply.entries;
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->name, ".");
    ASSERT_NE(first->nextentry, nullptr);
    EXPECT_EQ(first->nextentry->name, longName);
    EXPECT_EQ(std::string(first->nextentry->cookie, 4), std::string("\xde\xad\xbe\xef", 4));
    EXPECT_EQ(first->nextentry->nextentry, nullptr);
    EXPECT_FALSE(two.readdirres_u.reply.eof);
    EXPECT_EQ(encode(XDRPROC(xdr_readdirres), &two), wire);
    release(XDRPROC(xdr_readdirres), &two);

    Wire many;
    many.u32(NFS_OK);
    for (uint32_t i = 0; i < 200000; ++i) {
        many.u32(1).u32(i).var("f").u32(i);
    }
    readdirres long_{};
    ASSERT_TRUE(decode(XDRPROC(xdr_readdirres), many.u32(0).u32(1).bytes(), &long_));
    release(XDRPROC(xdr_readdirres), &long_);
}

TEST(Xdr2CutShort, EveryOffsetFailsCleanly)
{
    std::array<char, NFS2_READLINK_BUFSIZE> buffer{};
    auto noBuffer = [](auto &) {};

    const Bytes dirop = Wire().u32(NFS_OK).fixed(handle32).append(fattrWire(NFREG, 1)).bytes();
    EXPECT_EQ(failuresOverEveryCut<diropres>(XDRPROC(xdr_diropres), dirop, noBuffer), dirop.size());

    const Bytes read = readOkWire("some file data").bytes();
    EXPECT_EQ(failuresOverEveryCut<readres>(XDRPROC(xdr_readres), read, noBuffer), read.size());
    EXPECT_EQ(failuresOverEveryCut<readres>(XDRPROC(xdr_readres), read,
                                            [&](readres &r) {
                                                r.readres_u.reply.data = {256, buffer.data()};
                                            }),
              read.size());

    const Bytes link = Wire().u32(NFS_OK).var("/abs/path").bytes();
    EXPECT_EQ(
        failuresOverEveryCut<readlinkres>(XDRPROC(xdr_readlinkres), link,
                                          [&](readlinkres &r) { r.readlinkres_u.data = buffer.data(); }),
        link.size());

    const Bytes dir = Wire().u32(NFS_OK).u32(1).u32(5).var("name").u32(9).u32(0).u32(1).bytes();
    EXPECT_EQ(failuresOverEveryCut<readdirres>(XDRPROC(xdr_readdirres), dir, noBuffer), dir.size());

    const Bytes mount = Wire().u32(0).fixed(handle32).bytes();
    EXPECT_EQ(failuresOverEveryCut<fhstatus>(XDRPROC(xdr_fhstatus), mount, noBuffer), mount.size());
}

TEST(Xdr2Oversized, EveryVariableItemStopsAtItsLimit)
{
    using xdrtest::decoderOf;
    const xdrtest::BoundedItem items[] = {
        {"READ data", decoderOf<readres>(XDRPROC(xdr_readres)),
         [](u_int) { return Wire().u32(NFS_OK).append(fattrWire(NFREG, 9000)); }, Wire(), NFS_MAXDATA},
        {"READLINK text", decoderOf<readlinkres>(XDRPROC(xdr_readlinkres)),
         [](u_int) { return Wire().u32(NFS_OK); }, Wire(), NFS_MAXPATHLEN},
        {"READDIR entry name", decoderOf<readdirres>(XDRPROC(xdr_readdirres)),
         [](u_int) { return Wire().u32(NFS_OK).u32(1).u32(5); }, Wire().fixed("cook").u32(0).u32(1),
         NFS_MAXNAMLEN},
    };
    for (const auto &item : items)
        xdrtest::expectBounded(item);
    // A caller's buffer larger than the protocol allows does not raise the limit.
    std::vector<char> buffer(NFS_MAXDATA + 8);
    readres res{};
    res.readres_u.reply.data = {static_cast<u_int>(buffer.size()), buffer.data()};
    EXPECT_FALSE(decode(XDRPROC(xdr_readres), readOkWire(std::string(NFS_MAXDATA + 1, 'b')).bytes(), &res));
}
