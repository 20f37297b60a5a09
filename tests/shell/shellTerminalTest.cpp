// An interactive session under a pseudo-terminal: prompt, completion, history recall and
// editing, and a routine that reads its answers from the terminal line by line.
#include "shellTerminal.h"

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
    EXPECT_NE(history.find("\nx\\040=\\04041\nx\\040=\\04042\nnfsAuthUnixPrompt\n"), std::string::npos) << history;
}

} // namespace
