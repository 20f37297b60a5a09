#include "shellScript.h"

#include "shellLang.h"
#include "shellTask.h"

#include <memory>

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
        if (text.empty() || text[0] == '#')
            continue;
        historyAdd(text);
        if (options.echo && !options.interactive) {
            std::printf("%s%s\n", kPrompt, text.c_str());
            std::fflush(stdout);
        }
        // Statement by statement: a module loaded by one names the routines of the next.
        Parser parser(text, lineNumber, isRoutineName);
        for (;;) {
            auto statement = std::make_shared<Statement>();
            bool ok = parser.next(*statement);
            if (!ok && parser.error().empty())
                break; // the end of the line
            if (!ok) {
                reportError(options.sourceName + ":" + parser.error());
            } else {
                const TaskOutcome outcome =
                    callTaskRun([statement, &session] { return execute(*statement, session); });
                if (!outcome.report.empty())
                    reportError("rtsh: " + outcome.report);
                ok = outcome.end == TaskOutcome::End::Done && outcome.ok;
            }
            if (session.exitRequested)
                return session.exitStatus;
            const bool unparsed = !parser.error().empty();
            if (!ok && !options.interactive) {
                anyFailed = true;
                reportError("rtsh: " + options.sourceName + ":" + std::to_string(lineNumber) +
                            ": failed: " + (unparsed ? text : parser.lastText()));
                if (!options.keepGoing)
                    return 1;
            }
            if (unparsed)
                break; // where the rest of the line starts is not known
        }
    }
    return anyFailed ? 1 : 0;
}

} // namespace shell
