// An interactive session under a pseudo-terminal: prompt, completion, history recall and
// editing, and a routine that reads its answers from the terminal line by line.
#include "shellTerminal.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace {

TEST(ShellTerminal, PromptCompletionHistoryAndPromptedInput)
{
    TempDir home;
    Terminal term(home.path.string());
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    // Completed to the common prefix of nfsMount and nfsMountAll; then the line is edited
    // into a look-up of what it holds.
    term.type("nfsMo\t");
    ASSERT_TRUE(term.waitFor("unt")) << term.seen();
    term.type("\x01lkup \"\x05\"\r");
    ASSERT_TRUE(term.waitFor("\nnfsMount ")) << term.seen();
    ASSERT_TRUE(term.waitFor("\nnfsMountAll ")) << term.seen();
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("half a line\x03"); // Ctrl-C at the prompt: a fresh prompt, the shell goes on
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("x = 41\r");
    ASSERT_TRUE(term.waitFor("x (shell variable): value = 41 = 0x29")) << term.seen();
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("\x1b[A\x7f"); // recall the line, drop its last character
    term.type("2\r");
    ASSERT_TRUE(term.waitFor("x (shell variable): value = 42 = 0x2a")) << term.seen();
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("nfsAuthUnixPrompt\r");
    ASSERT_TRUE(term.waitFor("machine name:")) << term.seen();
    term.type("\x03"); // Ctrl-C in a routine that reads the terminal: it keeps the terminal
    ASSERT_TRUE(term.waitFor("waits for a line of input")) << term.seen();
    term.type("tester\r");
    ASSERT_TRUE(term.waitFor("user ID:")) << term.seen();
    term.type("1234\r");
    ASSERT_TRUE(term.waitFor("group ID:")) << term.seen();
    term.type("55\r");
    ASSERT_TRUE(term.waitFor("num of groups:")) << term.seen();
    term.type("0\r");
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("echo \xc3\xa9t\xc3\xa9\r"); // typed characters beyond ASCII reach the shell
    ASSERT_TRUE(term.waitFor("\n\xc3\xa9t\xc3\xa9\r\n")) << term.seen();
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("nfsAuthUnixShow\r");
    ASSERT_TRUE(term.waitFor("machine name = tester")) << term.seen();
    ASSERT_TRUE(term.waitFor("user ID      = 1234")) << term.seen();
    ASSERT_TRUE(term.waitFor("group ID     = 55")) << term.seen();
    term.type("exit\r");
    EXPECT_EQ(term.exitStatus(), 0) << term.seen();
    const std::string history = readWhole(home.path / ".rtsh_history");
    // libedit's history file writes blanks as \040.
    EXPECT_NE(history.find("\nx\\040=\\04041\nx\\040=\\04042\nnfsAuthUnixPrompt\n"), std::string::npos)
        << history;
}

// Ctrl-C during a copy whose source stalls (a FIFO on the host device): the prompt comes
// back, and once the source moves again the copy stops and leaves neither the destination
// nor its temporary file. Left in the background, it says nothing more: the shell told the user.
TEST(ShellTerminal, CtrlCStopsACopyAndLeavesNoPartialFile)
{
    TempDir home;
    const std::filesystem::path fifo = home.path / "slow";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Terminal term(home.path.string(), "quenby");
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("copy host:" + fifo.string() + " host:" + (home.path / "out.txt").string() + "\r");
    const int writer = open(fifo.c_str(), O_WRONLY); // meets the copy's open
    ASSERT_GE(writer, 0);
    const std::string chunk(4096, 'c');
    ASSERT_EQ(write(writer, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
    poll(nullptr, 0, 300); // the copy has the chunk and waits for more
    term.type("\x03");
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("echo still here\r");
    ASSERT_TRUE(term.waitFor("still here\r\n")) << term.seen();
    ASSERT_EQ(write(writer, chunk.data(), chunk.size()), static_cast<ssize_t>(chunk.size()));
    close(writer);
    const auto leftovers = [&home] {
        int count = 0;
        for (const auto &entry : std::filesystem::directory_iterator(home.path))
            count += entry.path().filename().string().find(".rtsh-") != std::string::npos ? 1 : 0;
        return count;
    };
    for (int wait = 0; wait < 100 && leftovers() > 0; ++wait)
        poll(nullptr, 0, 50);
    EXPECT_EQ(leftovers(), 0);
    EXPECT_FALSE(std::filesystem::exists(home.path / "out.txt"));
    term.type("echo done\r");
    ASSERT_TRUE(term.waitFor("done\r\n")) << term.seen();
    EXPECT_EQ(term.seen().find("copy: interrupted"), std::string::npos) << term.seen();
    EXPECT_EQ(term.seen().find(" bytes, "), std::string::npos)
        << term.seen(); // no progress behind the prompt
    term.type("exit\r");
    EXPECT_EQ(term.exitStatus(), 0) << term.seen();
}

} // namespace
