// An interactive session of rtsh under a pseudo-terminal, typed into and read as a user would.
#ifndef TESTS_SHELL_SHELLTERMINAL_H
#define TESTS_SHELL_SHELLTERMINAL_H

#include "shellRun.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>

#include <chrono>

class Terminal {
public:
    explicit Terminal(const std::string &home, const char *module = "brisnel")
    {
        pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
        if (pid_ == 0) {
            setenv("HOME", home.c_str(), 1);
            setenv("TERM", "xterm", 1);
            setenv("LC_ALL", "C.UTF-8", 1); // a user's locale that takes UTF-8
            setenv("RTSH_MODULE_PATH", RTSH_TEST_MODULE_PATH, 1);
            execl(RTSH_PATH, "rtsh", "-l", module, static_cast<char *>(nullptr));
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

    void type(const std::string &keys)
    {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }

    // Waits for the prompt and for the line editor to take the terminal out of line mode:
    // keys that arrive before that are echoed and edited by the terminal, not the editor.
    bool waitForEditor(int seconds = 20)
    {
        if (!waitFor("-> ", seconds))
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
    bool waitFor(const std::string &text, int seconds = 20)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
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

#endif
