// An interactive session under a pseudo-terminal: prompt, completion, history recall and
// editing, and a routine that reads its answers from the terminal line by line.
#include "shellRun.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>

#include <chrono>

namespace {

class Terminal {
public:
    explicit Terminal(const std::string &home)
    {
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            setenv("HOME", home.c_str(), 1);
            setenv("TERM", "xterm", 1);
            setenv("RTSH_MODULE_PATH", RTSH_TEST_MODULE_PATH, 1);
            execl(RTSH_PATH, "rtsh", "-l", "brisnel", static_cast<char *>(nullptr));
            _exit(127);
        }
    }
    ~Terminal()
    {
        if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (master_ >= 0)
            close(master_);
    }
    Terminal(const Terminal &) = delete;
    Terminal &operator=(const Terminal &) = delete;

    void type(const std::string &keys) { ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size())); }

    // Waits for the prompt and for the line editor to take the terminal out of line mode:
    // keys that arrive before that are echoed and edited by the terminal, not the editor.
    bool waitForEditor()
    {
        if (!waitFor("-> "))
            return false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        termios mode{};
        while (std::chrono::steady_clock::now() < deadline) {
            if (tcgetattr(master_, &mode) == 0 && (mode.c_lflag & ICANON) == 0)
                return true;
            poll(nullptr, 0, 10);
        }
        return false;
    }

    // Reads until text appears in what the terminal showed since the last wait.
    bool waitFor(const std::string &text)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            const std::size_t at = screen_.find(text);
            if (at != std::string::npos) {
                screen_.erase(0, at + text.size());
                return true;
            }
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 200) <= 0)
                continue;
            char buf[512];
            const ssize_t got = read(master_, buf, sizeof buf);
            if (got <= 0)
                break;
            screen_.append(buf, static_cast<std::size_t>(got));
            seen_.append(buf, static_cast<std::size_t>(got));
        }
        return false;
    }
    int exitStatus()
    {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    const std::string &seen() const { return seen_; }

private:
    int master_ = -1;
    pid_t pid_ = -1;
    std::string screen_;
    std::string seen_;
};

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
    term.type("x = 41\r");
    ASSERT_TRUE(term.waitFor("x (shell variable): value = 41 = 0x29")) << term.seen();
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("\x1b[A\x7f"); // recall the line, drop its last character
    term.type("2\r");
    ASSERT_TRUE(term.waitFor("x (shell variable): value = 42 = 0x2a")) << term.seen();
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("nfsAuthUnixPrompt\r");
    ASSERT_TRUE(term.waitFor("machine name:")) << term.seen();
    term.type("tester\r");
    ASSERT_TRUE(term.waitFor("user ID:")) << term.seen();
    term.type("1234\r");
    ASSERT_TRUE(term.waitFor("group ID:")) << term.seen();
    term.type("55\r");
    ASSERT_TRUE(term.waitFor("num of groups:")) << term.seen();
    term.type("0\r");
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
