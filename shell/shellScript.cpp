#include "shellScript.h"

#include "shellParse.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace shell {
namespace {

constexpr std::size_t kLineMax = std::size_t{64} * 1024;

std::string trimmed(const std::string &line)
{
    const std::size_t first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t\r\n") - first + 1);
}

} // namespace

bool FdLineSource::next(std::string &line)
{
    line.clear();
    bool any = false;
    for (;;) {
        char c = 0;
        const ssize_t got = ::read(fd_, &c, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return any;
        any = true;
        if (c == '\n')
            return true;
        // An over-long line is cut; the rest of it still ends at its newline.
        if (line.size() < kLineMax)
            line += c;
    }
}

bool TextLineSource::next(std::string &line)
{
    if (pos_ >= text_.size())
        return false;
    std::size_t end = text_.find('\n', pos_);
    if (end == std::string::npos)
        end = text_.size();
    line = text_.substr(pos_, end - pos_);
    pos_ = end + 1;
    return true;
}

int runLines(LineSource &source, const RunOptions &options, Session &session)
{
    std::string line;
    int lineNumber = 0;
    bool anyFailed = false;
    while (source.next(line)) {
        ++lineNumber;
        const std::string text = trimmed(line);
        const std::vector<std::string> statements = splitStatements(text);
        if (statements.empty())
            continue;
        if (options.echo && !options.interactive) {
            std::printf("%s%s\n", kPrompt, text.c_str());
            std::fflush(stdout);
        }
        for (const std::string &statement : statements) {
            const bool ok = execute(statement, session);
            if (session.exitRequested)
                return session.exitStatus;
            if (ok || options.interactive)
                continue;
            anyFailed = true;
            reportError("rtsh: " + options.sourceName + ":" + std::to_string(lineNumber) +
                        ": failed: " + trimmed(statement));
            if (!options.keepGoing)
                return 1;
        }
    }
    return anyFailed ? 1 : 0;
}

} // namespace shell
