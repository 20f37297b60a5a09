// Where lines come from and how a run of them goes: scripts stop at the first failing
// command (naming its line) unless told to go on; an interactive session never stops.
#ifndef SHELL_SHELLSCRIPT_H
#define SHELL_SHELLSCRIPT_H

#include "shellExec.h"

#include <string>

namespace shell {

class LineSource {
public:
    virtual ~LineSource() = default;
    // False at the end of the input.
    virtual bool next(std::string &line) = 0;
};

// Reads a descriptor one byte at a time, so that a routine reading the same standard input
// (nfsAuthUnixPrompt) gets the lines after the one that called it.
class FdLineSource final : public LineSource {
public:
    explicit FdLineSource(int fd) : fd_(fd) {}
    bool next(std::string &line) override;

private:
    int fd_;
};

class TextLineSource final : public LineSource {
public:
    explicit TextLineSource(std::string text) : text_(std::move(text)) {}
    bool next(std::string &line) override;

private:
    std::string text_;
    std::size_t pos_ = 0;
};

struct RunOptions {
    bool echo = true;       // print each command after the prompt, as typed
    bool keepGoing = false; // go on after a failing command
    bool interactive = false;
    std::string sourceName; // named in the failure message
};

// The shell's exit status: 0, 1 after a failure, or the status given to exit.
int runLines(LineSource &source, const RunOptions &options, Session &session);

// Interactive input through the line editor, in shellEdit.cpp.
class EditLineSource final : public LineSource {
public:
    EditLineSource();
    ~EditLineSource() override;
    EditLineSource(const EditLineSource &) = delete;
    EditLineSource &operator=(const EditLineSource &) = delete;
    bool next(std::string &line) override;

private:
    std::string historyFile_;
};

inline constexpr const char *kPrompt = "-> ";

} // namespace shell

#endif
