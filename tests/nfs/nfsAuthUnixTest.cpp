// The module's credentials: set, get, show, prompt, and the permission check.
#include "nfs/consoleCapture.h"

#include "core/nfsAuthUnix.h"

#include <brisnel/nfsAuthLib.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class Credentials : public testing::Test {
protected:
    void SetUp() override { nfsAuthUnixSet("target", 2001, 100, 0, nullptr); }
    void TearDown() override { nfsAuthUnixSet("target", 2001, 100, 0, nullptr); }

    static std::string shown()
    {
        return capturedStdout([] { nfsAuthUnixShow(); });
    }
};

TEST_F(Credentials, ShowPrintsEveryFieldInItsFormat)
{
    const int groups[] = {5, 7};
    nfsAuthUnixSet("box", 10, 20, 2, groups);
    EXPECT_EQ(shown(), "machine name = box\n"
                       "user ID      = 10\n"
                       "group ID     = 20\n"
                       "group [0]    = 5\n"
                       "group [1]    = 7\n");
}

TEST_F(Credentials, IdSetChangesOnlyTheUidAndCountsAsAChange)
{
    const int before = nfsAuthCount;
    nfsIdSet(0);
    EXPECT_EQ(nfsAuthCount, before + 1);
    EXPECT_EQ(shown(), "machine name = target\nuser ID      = 0\ngroup ID     = 100\n");
}

TEST_F(Credentials, GroupCountIsLimitedToTwentyAndNeverNegative)
{
    std::vector<int> groups(25);
    for (int i = 0; i < 25; ++i)
        groups[static_cast<std::size_t>(i)] = 1000 + i;
    nfsAuthUnixSet("many", 1, 2, 25, groups.data());
    EXPECT_EQ(nfsAuthUnix.nGroups, 20);
    EXPECT_EQ(nfsAuthUnix.groups[19], 1019);
    const std::string text = shown();
    EXPECT_NE(text.find("group [19]    = 1019\n"), std::string::npos);
    EXPECT_EQ(text.find("group [20]"), std::string::npos);

    nfsAuthUnixSet("neg", 1, 2, -3, groups.data());
    EXPECT_EQ(nfsAuthUnix.nGroups, 0);
    nfsAuthUnixSet("null", 1, 2, 4, nullptr);
    EXPECT_EQ(nfsAuthUnix.nGroups, 0);
}

TEST_F(Credentials, LongMachineNameIsCutAndTerminated)
{
    const std::string longName(80, 'm');
    nfsAuthUnixSet(longName.c_str(), 1, 2, 0, nullptr);
    char name[NFS_AUTH_MACHINE_NAME_LEN];
    int uid = 0, gid = 0, n = 0;
    int groups[NFS_AUTH_MAX_GROUPS];
    nfsAuthUnixGet(name, &uid, &gid, &n, groups);
    EXPECT_EQ(std::string(name), std::string(51, 'm'));
    nfsAuthUnixSet(nullptr, 1, 2, 0, nullptr);
    nfsAuthUnixGet(name, &uid, &gid, &n, groups);
    EXPECT_STREQ(name, "");
}

// A shell user may leave out any output: the others are still filled.
TEST_F(Credentials, GetSkipsOutputsLeftNull)
{
    const int groups[] = {5, 7};
    nfsAuthUnixSet("box", 10, 20, 2, groups);
    nfsAuthUnixGet(nullptr, nullptr, nullptr, nullptr, nullptr);
    int gid = 0;
    int n = 0;
    nfsAuthUnixGet(nullptr, nullptr, &gid, &n, nullptr);
    EXPECT_EQ(gid, 20);
    EXPECT_EQ(n, 2);
    char name[NFS_AUTH_MACHINE_NAME_LEN] = {};
    int got[NFS_AUTH_MAX_GROUPS] = {};
    nfsAuthUnixGet(name, nullptr, nullptr, nullptr, got);
    EXPECT_STREQ(name, "box");
    EXPECT_EQ(got[1], 7);
}

TEST_F(Credentials, PromptWithEmptyAnswersKeepsValuesButCountsAChange)
{
    const int before = nfsAuthCount;
    std::string out;
    {
        StdinFeed feed("\n\n\n\n");
        out = capturedStdout([] { nfsAuthUnixPrompt(); });
    }
    EXPECT_EQ(out, "machine name:   target "
                   "user ID:        2001 "
                   "group ID:       100 "
                   "num of groups:  0 ");
    EXPECT_EQ(nfsAuthCount, before + 1);
    EXPECT_STREQ(nfsAuthUnix.machineName, "target");
    EXPECT_EQ(nfsAuthUnix.uid, 2001);
}

TEST_F(Credentials, PromptTakesNewValuesAndGroups)
{
    std::string out;
    {
        StdinFeed feed("newbox\n42\n.\n2\n7\n8\n");
        out = capturedStdout([] { nfsAuthUnixPrompt(); });
    }
    EXPECT_NE(out.find("group #1:        0 group #2:        0 "), std::string::npos) << out;
    EXPECT_STREQ(nfsAuthUnix.machineName, "newbox");
    EXPECT_EQ(nfsAuthUnix.uid, 42);
    EXPECT_EQ(nfsAuthUnix.gid, 100) << "'.' keeps a number";
    ASSERT_EQ(nfsAuthUnix.nGroups, 2);
    EXPECT_EQ(nfsAuthUnix.groups[0], 7);
    EXPECT_EQ(nfsAuthUnix.groups[1], 8);
}

TEST_F(Credentials, PromptDotEmptiesTheNameAndRefusesLongAnswers)
{
    const std::string name49(49, 'n');
    std::string out;
    {
        StdinFeed feed(name49 + "\n.\n1234567\n123456\n\n\n");
        out = capturedStdout([] { nfsAuthUnixPrompt(); });
    }
    EXPECT_NE(out.find("machine name:   target too big - maximum field width = 50.\n"
                       "machine name:   target "),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("user ID:        2001 too big - maximum field width = 8.\n"
                       "user ID:        2001 "),
              std::string::npos)
        << out;
    EXPECT_STREQ(nfsAuthUnix.machineName, "");
    EXPECT_EQ(nfsAuthUnix.uid, 123456);
}

// An answer that is no whole number keeps the old value and says so; blanks around a number
// are fine.
TEST_F(Credentials, PromptKeepsTheNumberForAnAnswerThatIsNoNumber)
{
    std::string out;
    {
        StdinFeed feed("\nabc\n12x\n 1 \n3\n");
        out = capturedStdout([] { nfsAuthUnixPrompt(); });
    }
    EXPECT_EQ(out, "machine name:   target "
                   "user ID:        2001 not a number - 2001 kept.\n"
                   "group ID:       100 not a number - 100 kept.\n"
                   "num of groups:  0 "
                   "group #1:        0 ")
        << out;
    EXPECT_EQ(nfsAuthUnix.uid, 2001);
    EXPECT_EQ(nfsAuthUnix.gid, 100);
    ASSERT_EQ(nfsAuthUnix.nGroups, 1);
    EXPECT_EQ(nfsAuthUnix.groups[0], 3);

    const struct {
        const char *answer;
        int stored;
        const char *said;
    } cases[] = {
        {"-42\n", -42, ""},
        {"2147483648\n", 5, "out of range - 5 kept.\n"},
        {"-99999999999999999999\n", 5, "out of range - 5 kept.\n"},
        {"0x10\n", 5, "not a number - 5 kept.\n"},
        {"   \n", 5, "not a number - 5 kept.\n"},
    };
    for (const auto &c : cases) {
        int value = 5;
        StdinFeed feed(c.answer);
        const std::string said =
            capturedStdout([&value] { nfsAuthUnixFieldPrompt("n:", &value, 30, "%d "); });
        EXPECT_EQ(value, c.stored) << c.answer;
        EXPECT_EQ(said, std::string("n: 5 ") + c.said) << c.answer;
    }
}

TEST_F(Credentials, PromptShowsUnprintableCharactersAsQuestionMarks)
{
    nfsAuthUnixSet("a\x01"
                   "b\xc3",
                   1, 2, 0, nullptr);
    std::string out;
    {
        StdinFeed feed("\n\n\n\n");
        out = capturedStdout([] { nfsAuthUnixPrompt(); });
    }
    EXPECT_EQ(out.rfind("machine name:   a?b? ", 0), 0u) << out;
}

TEST_F(Credentials, PromptAtEndOfInputStoresNothing)
{
    const int before = nfsAuthCount;
    {
        StdinFeed feed("halfway\n77\n");
        capturedStdout([] { nfsAuthUnixPrompt(); });
    }
    EXPECT_EQ(nfsAuthCount, before);
    EXPECT_STREQ(nfsAuthUnix.machineName, "target");
    EXPECT_EQ(nfsAuthUnix.uid, 2001);
    {
        StdinFeed feed("");
        capturedStdout([] { nfsAuthUnixPrompt(); });
    }
    EXPECT_EQ(nfsAuthCount, before);
}

TEST_F(Credentials, PromptAsksForAtMostTwentyGroups)
{
    std::string input = "\n\n\n25\n";
    for (int i = 0; i < 20; ++i)
        input += std::to_string(300 + i) + "\n";
    std::string out;
    {
        StdinFeed feed(input);
        out = capturedStdout([] { nfsAuthUnixPrompt(); });
    }
    EXPECT_NE(out.find("group #20:"), std::string::npos);
    EXPECT_EQ(out.find("group #21:"), std::string::npos);
    ASSERT_EQ(nfsAuthUnix.nGroups, 20);
    EXPECT_EQ(nfsAuthUnix.groups[19], 319);
}

TEST_F(Credentials, PermissionCheckOnMode0640)
{
    const int groups[] = {300, 400};
    nfsAuthUnixSet("target", 2001, 100, 2, groups);
    constexpr int mode = 0640;
    EXPECT_EQ(nfsChkFilePerms(mode, 2001, 5, 4), 0);
    EXPECT_EQ(nfsChkFilePerms(mode, 2001, 5, 2), 0);
    EXPECT_EQ(nfsChkFilePerms(mode, 2001, 5, 6), 0);
    EXPECT_EQ(nfsChkFilePerms(mode, 9, 400, 4), 0) << "supplementary group grants read";
    EXPECT_EQ(nfsChkFilePerms(mode, 9, 400, 2), -1);
    EXPECT_EQ(nfsChkFilePerms(mode, 9, 100, 4), 0) << "primary group grants read";
    EXPECT_EQ(nfsChkFilePerms(mode, 9, 5, 4), -1);
}

TEST_F(Credentials, PermissionCheckClassesDoNotFallThrough)
{
    EXPECT_EQ(nfsChkFilePerms(0004, 2001, 5, 4), -1) << "an owner is not judged by the others' bits";
    EXPECT_EQ(nfsChkFilePerms(0004, 9, 5, 4), 0);
    EXPECT_EQ(nfsChkFilePerms(0040, 2001, 100, 4), 0) << "owner and group member: either class may grant";
    nfsIdSet(0);
    EXPECT_EQ(nfsChkFilePerms(0600, 9, 5, 4), -1) << "uid 0 gets no special treatment";
}

} // namespace
