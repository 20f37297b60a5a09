// A command line as the shell reads it:
//   name                      a word's value, a routine called without arguments, a command
//   name = value              a word set; the value may be a routine call
//   name arg, arg, ...        a call; also name(arg, ...)
// Arguments are integers (decimal, 0x hex, 0 octal, 'c' character constants, with a sign),
// floating-point numbers, strings in double quotes with C escapes, word names (their value)
// and &word (its address). Commands that take paths split their arguments as words instead.
#ifndef SHELL_SHELLPARSE_H
#define SHELL_SHELLPARSE_H

#include <cstdint>
#include <string>
#include <vector>

namespace shell {

struct Arg {
    enum class Type { Integer, Floating, String, Name, Address };
    Type type = Type::Integer;
    uint64_t magnitude = 0; // integers: the absolute value, with its sign below
    bool negative = false;
    double floating = 0;
    std::string text; // strings, names
};

struct Command {
    std::string name;
    bool assignment = false;
    // An assignment's value: a routine called with args, a name's value (valueName with no
    // args), or a literal (no valueName, the literal in args[0]).
    std::string valueName;
    std::vector<Arg> args;
};

struct ParseResult {
    bool ok = false;
    std::string error;
    Command command;
};

// The maximum number of arguments a call takes.
inline constexpr std::size_t kMaxCallArgs = 10;

ParseResult parseCommand(const std::string &line);

// The arguments of a path command: words separated by blanks or commas, each a string in
// double quotes (with C escapes) or a run of other characters; "<" and ">" stand alone. The
// whole list may be in parentheses. False with error set for an unterminated string.
// quoted, when given, tells for each word whether it was in double quotes.
bool splitWords(const std::string &text, std::vector<std::string> &words, std::string &error,
                std::vector<bool> *quoted = nullptr);

// The command's name and the text after it, or false when the line does not start with a name.
bool splitName(const std::string &line, std::string &name, std::string &rest);

// Splits a line at the semicolons outside strings and comments; drops a trailing # comment.
std::vector<std::string> splitStatements(const std::string &line);

} // namespace shell

#endif
