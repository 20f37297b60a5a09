// Test support: feeds a text to standard input and captures what is printed.
#ifndef TESTS_NFS_CONSOLECAPTURE_H
#define TESTS_NFS_CONSOLECAPTURE_H

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

// Replaces descriptor 0 by a file holding `input` for the scope's lifetime.
class StdinFeed {
public:
    explicit StdinFeed(const std::string &input)
    {
        char path[] = "/tmp/stdinFeedXXXXXX";
        const int fd = mkstemp(path);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(write(fd, input.data(), input.size()), static_cast<ssize_t>(input.size()));
        lseek(fd, 0, SEEK_SET);
        unlink(path);
        saved_ = dup(0);
        dup2(fd, 0);
        close(fd);
    }
    StdinFeed(const StdinFeed &) = delete;
    StdinFeed &operator=(const StdinFeed &) = delete;
    ~StdinFeed()
    {
        dup2(saved_, 0);
        close(saved_);
    }

private:
    int saved_ = -1;
};

template <typename Action> std::string capturedStdout(Action action)
{
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    action();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

#endif
