// Path lookup and link reading against the real server: the walk, the directory handle left
// on success and failure, and symbolic links relative and absolute, in the middle and at the
// end of a path, in chains, and with texts too long for the path buffer.
#include "live/nfs3LookupLiveTest.h"

#include <kernel/kernelErrno.h>

#include <string>

namespace {

using live::Looked;
using live::PathBuffer;

class LookupLive : public live::NameOpsLive {};

TEST_F(LookupLive, WalksEveryComponentAndKeepsTheLastDirectory)
{
    makeDir("a/b");
    makeFile("a/b/c", "twelve bytes");
    Looked looked;
    PathBuffer path(rel("a/b/c"));
    ASSERT_EQ(lookUp(path, looked), 0) << std::hex << errnoGet();
    EXPECT_EQ(looked.res.status, NFS3_OK);
    EXPECT_EQ(looked.attr().type, NF3REG);
    EXPECT_EQ(looked.attr().size, 12u);
    EXPECT_EQ(looked.attr().fileid, inode("a/b/c"));
    EXPECT_EQ(looked.object().data.data_val, looked.objectBytes.data()) << "decoded into the caller's buffer";
    EXPECT_EQ(fileIdOf(looked.object()), inode("a/b/c"));
    EXPECT_EQ(fileIdOf(looked.dirFh), inode("a/b"));
    EXPECT_EQ(path.str(), rel("a/b/c")) << "no link, no rewrite";

    PathBuffer separators("//" + rel("a") + "///b/");
    ASSERT_EQ(lookUp(separators, looked), 0);
    EXPECT_EQ(looked.attr().type, NF3DIR);
    EXPECT_EQ(looked.attr().fileid, inode("a/b"));
    EXPECT_EQ(fileIdOf(looked.dirFh), inode("a"));
}

TEST_F(LookupLive, AFailedWalkLeavesTheDeepestDirectoryReached)
{
    makeDir("a");
    Looked looked;
    PathBuffer missing(rel("a/x"));
    EXPECT_EQ(lookUp(missing, looked), -1);
    EXPECT_EQ(errnoGet(), 0x300002);
    EXPECT_EQ(fileIdOf(looked.dirFh), inode("a"));
    EXPECT_EQ(looked.object().data.data_val, looked.objectBytes.data())
        << "the result can be used again without being prepared";

    PathBuffer atTheTop("x-missing-" + rel(""));
    EXPECT_EQ(lookUp(atTheTop, looked), -1);
    EXPECT_EQ(errnoGet(), 0x300002);
    EXPECT_EQ(looked.dirFh.data.data_len, root_.length);
    EXPECT_EQ(std::memcmp(looked.dirBytes.data(), root_.bytes.data(), root_.length), 0) << "the mount root";

    // The result record was reused after a failure.
    PathBuffer fine(rel("a"));
    ASSERT_EQ(lookUp(fine, looked), 0);
    EXPECT_EQ(looked.attr().fileid, inode("a"));
}

TEST_F(LookupLive, ARegularFileInTheMiddleIsNotADirectory)
{
    makeFile("f");
    makeFile("g");
    Looked looked;
    PathBuffer path(rel("f/g"));
    EXPECT_EQ(lookUp(path, looked), -1);
    EXPECT_EQ(errnoGet(), 0x300014);
}

TEST_F(LookupLive, APathWithoutComponentsGivesTheMountRoot)
{
    Looked looked;
    looked.res.status = static_cast<nfsstat3>(12345); // "as the caller prepared it"
    PathBuffer path("///");
    ASSERT_EQ(lookUp(path, looked), 0);
    EXPECT_EQ(looked.res.status, 12345);
    EXPECT_EQ(looked.dirFh.data.data_len, root_.length);
    EXPECT_EQ(std::memcmp(looked.dirBytes.data(), root_.bytes.data(), root_.length), 0);
}

TEST_F(LookupLive, RelativeLinkInTheMiddleRewritesFromTheMountRoot)
{
    makeDir("d");
    makeDir("e");
    makeFile("e/f", "target");
    makeLink("d/l", "../e");
    Looked looked;
    PathBuffer path(rel("d/l/f"));
    ASSERT_EQ(lookUp(path, looked), -2);
    EXPECT_EQ(path.str(), "/" + rel("e/f"));
    ASSERT_EQ(lookUp(path, looked), 0);
    EXPECT_EQ(looked.attr().fileid, inode("e/f"));

    makeLink("up", "../../../..");
    PathBuffer climbing(rel("up/" + rel("e/f")));
    ASSERT_EQ(lookUp(climbing, looked), -2);
    EXPECT_EQ(climbing.str(), "/" + rel("e/f")) << "\"..\" stops at the mount root";
}

TEST_F(LookupLive, LinkAsTheFirstComponentGivesARootedPath)
{
    makeDir("e");
    makeLink("../h8-first-link-" + folder_, rel("e"));
    Looked looked;
    PathBuffer path("h8-first-link-" + folder_ + "/x");
    ASSERT_EQ(lookUp(path, looked), -2);
    std::filesystem::remove(live::exportDir() + "/h8-first-link-" + folder_);
    EXPECT_EQ(path.str(), "/" + rel("e/x")) << "begins with a separator, for the device name";
}

TEST_F(LookupLive, AbsoluteLinkAtTheEndAndNoFollowLast)
{
    makeDir("abs");
    makeFile("abs/p", "p");
    const std::string text = "/" + rel("abs/p");
    makeLink("l", text);
    Looked looked;
    PathBuffer path(rel("l"));
    ASSERT_EQ(lookUp(path, looked), -2);
    EXPECT_EQ(path.str(), text);

    PathBuffer asItself(rel("l"));
    ASSERT_EQ(lookUp(asItself, looked, 1), 0);
    EXPECT_EQ(looked.attr().type, NF3LNK);
    EXPECT_EQ(looked.attr().fileid, inode("l"));
    EXPECT_EQ(asItself.str(), rel("l"));

    makeDir("d");
    makeLink("ld", "d");
    PathBuffer middle(rel("ld/f"));
    ASSERT_EQ(lookUp(middle, looked, 1), -2) << "a link before the last component is followed";
    EXPECT_EQ(middle.str(), "/" + rel("d/f"));
}

TEST_F(LookupLive, AChainIsFollowedOneLinkPerLookup)
{
    makeFile("target", "end of chain");
    makeLink("l3", "target");
    makeLink("l2", "l3");
    makeLink("l1", "/" + rel("l2"));
    Looked looked;
    PathBuffer path(rel("l1"));
    ASSERT_EQ(lookUp(path, looked), -2);
    EXPECT_EQ(path.str(), "/" + rel("l2"));
    ASSERT_EQ(lookUp(path, looked), -2);
    EXPECT_EQ(path.str(), "/" + rel("l3"));
    ASSERT_EQ(lookUp(path, looked), -2);
    EXPECT_EQ(path.str(), "/" + rel("target"));
    ASSERT_EQ(lookUp(path, looked), 0);
    EXPECT_EQ(looked.attr().fileid, inode("target"));
}

TEST_F(LookupLive, ACycleKeepsRewritingAndNeverHangsALookup)
{
    makeLink("c1", "c2");
    makeLink("c2", "c1");
    Looked looked;
    PathBuffer path(rel("c1/x"));
    int rewrites = 0;
    EXPECT_EQ(lookUpFollowing(path, looked, 20, &rewrites), -2);
    EXPECT_EQ(rewrites, 21) << "every round rewrote once; the caller's bound ends it";
}

TEST_F(LookupLive, LinkTextsAndRewritesThatDoNotFitAreRefused)
{
    Looked looked;
    // A text of 255 characters fits with its terminator.
    const std::string fits(255, 'x');
    makeLink("fits", fits);
    PathBuffer asItself(rel("fits"));
    ASSERT_EQ(lookUp(asItself, looked, 1), 0);
    std::array<char, NFS_MAX_PATH + 16> text{};
    text.fill('#');
    ASSERT_EQ(nfs3LinkRead(live::host().c_str(), &looked.object(), text.data()), 0);
    EXPECT_EQ(std::string(text.data()), fits);
    EXPECT_EQ(text[NFS_MAX_PATH], '#') << "nothing past the buffer";

    const std::string tooLong(256, 'y');
    makeLink("long", tooLong);
    PathBuffer longLink(rel("long"));
    ASSERT_EQ(lookUp(longLink, looked, 1), 0);
    text.fill('#');
    EXPECT_EQ(nfs3LinkRead(live::host().c_str(), &looked.object(), text.data()), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_EQ(text[0], '#') << "a refused text is not copied";
    PathBuffer followed(rel("long/x"));
    EXPECT_EQ(lookUp(followed, looked), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_EQ(followed.str(), rel("long/x")) << "the path is left alone";
    EXPECT_EQ(live::nullCall(live::host(), NFS_PROGRAM, NFS_V3), 0) << "the client stays usable";

    // A text that fits, but not together with the components before and after it.
    makeDir("d");
    makeLink("d/wide", std::string(230, 'w'));
    PathBuffer tail(rel("d/wide/" + std::string(20, 't')));
    EXPECT_EQ(lookUp(tail, looked), -1);
    EXPECT_EQ(errnoGet(), K_ENAMETOOLONG);
    EXPECT_EQ(tail.str(), rel("d/wide/" + std::string(20, 't')));
}

TEST_F(LookupLive, LinkReadOfANonLinkFailsWithTheServersStatus)
{
    makeFile("plain");
    Looked looked;
    PathBuffer path(rel("plain"));
    ASSERT_EQ(lookUp(path, looked), 0);
    std::array<char, NFS_MAX_PATH> text{};
    EXPECT_EQ(nfs3LinkRead(live::host().c_str(), &looked.object(), text.data()), -1);
    EXPECT_EQ(errnoGet() & 0x7fff0000, 0x300000) << std::hex << errnoGet();
}

} // namespace
