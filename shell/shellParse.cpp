#include "shellParse.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace shell {
namespace {

bool isNameStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
bool isNameChar(char c) { return isNameStart(c) || std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads one character of a string or character constant at text[pos], escapes included.
bool readChar(const std::string &text, std::size_t &pos, char &out, std::string &error)
{
    if (text[pos] != '\\') {
        out = text[pos++];
        return true;
    }
    if (++pos >= text.size()) {
        error = "unterminated escape";
        return false;
    }
    const char c = text[pos++];
    switch (c) {
    case 'n': out = '\n'; return true;
    case 't': out = '\t'; return true;
    case 'r': out = '\r'; return true;
    case 'a': out = '\a'; return true;
    case 'b': out = '\b'; return true;
    case 'f': out = '\f'; return true;
    case 'v': out = '\v'; return true;
    case 'e': out = '\033'; return true;
    case '\\': case '\'': case '"': case '?': out = c; return true;
    case 'x': {
        unsigned value = 0;
        int digits = 0;
        for (int d = 0; pos < text.size() && (d = hexDigit(text[pos])) >= 0; ++pos, ++digits)
            value = value * 16 + static_cast<unsigned>(d);
        if (digits == 0 || digits > 2) {
            error = "\\x needs one or two hex digits";
            return false;
        }
        out = static_cast<char>(value);
        return true;
    }
    default:
        if (c >= '0' && c <= '7') {
            unsigned value = static_cast<unsigned>(c - '0');
            for (int n = 1; n < 3 && pos < text.size() && text[pos] >= '0' && text[pos] <= '7'; ++n)
                value = value * 8 + static_cast<unsigned>(text[pos++] - '0');
            if (value > 0xff) {
                error = "octal escape out of range";
                return false;
            }
            out = static_cast<char>(value);
            return true;
        }
        error = std::string("unknown escape \\") + c;
        return false;
    }
}

// A string in double quotes starting at text[pos].
bool readString(const std::string &text, std::size_t &pos, std::string &out, std::string &error)
{
    ++pos;
    out.clear();
    while (pos < text.size() && text[pos] != '"') {
        char c = 0;
        if (!readChar(text, pos, c, error))
            return false;
        out += c;
    }
    if (pos >= text.size()) {
        error = "unterminated string";
        return false;
    }
    ++pos;
    return true;
}

class Parser {
public:
    explicit Parser(const std::string &line) : text_(line) {}

    ParseResult parse()
    {
        ParseResult result;
        skipBlanks();
        if (!readName(result.command.name))
            return fail(result, "a command starts with a name");
        skipBlanks();
        if (atEnd()) {
            result.ok = true;
            return result;
        }
        if (peek() == '=') {
            ++pos_;
            result.command.assignment = true;
            skipBlanks();
            if (!readName(result.command.valueName)) {
                Arg value;
                if (!readArg(value))
                    return fail(result, error_);
                result.command.args.push_back(value);
                skipBlanks();
                if (!atEnd())
                    return fail(result, "unexpected text after the value");
                result.ok = true;
                return result;
            }
            skipBlanks();
        }
        const bool parenthesised = peek() == '(';
        if (parenthesised)
            ++pos_;
        if (!readArgs(result.command.args, parenthesised ? ')' : '\0'))
            return fail(result, error_);
        skipBlanks();
        if (!atEnd())
            return fail(result, "unexpected text after the arguments");
        result.ok = true;
        return result;
    }

private:
    const std::string &text_;
    std::size_t pos_ = 0;
    std::string error_;

    static ParseResult &fail(ParseResult &result, const std::string &why)
    {
        result.ok = false;
        result.error = why;
        return result;
    }
    bool atEnd() const { return pos_ >= text_.size(); }
    char peek() const { return atEnd() ? '\0' : text_[pos_]; }
    void skipBlanks()
    {
        while (!atEnd() && isBlank(text_[pos_]))
            ++pos_;
    }
    bool readName(std::string &name)
    {
        if (atEnd() || !isNameStart(peek()))
            return false;
        const std::size_t start = pos_;
        while (!atEnd() && isNameChar(peek()))
            ++pos_;
        name = text_.substr(start, pos_ - start);
        return true;
    }

    bool readArgs(std::vector<Arg> &args, char close)
    {
        skipBlanks();
        if (close != '\0' && peek() == close) {
            ++pos_;
            return true;
        }
        if (close == '\0' && atEnd())
            return true;
        for (;;) {
            Arg arg;
            if (!readArg(arg))
                return false;
            if (args.size() == kMaxCallArgs) {
                error_ = "too many arguments (at most 10)";
                return false;
            }
            args.push_back(arg);
            skipBlanks();
            if (peek() == ',') {
                ++pos_;
                continue;
            }
            if (close != '\0') {
                if (peek() != close) {
                    error_ = "missing ')'";
                    return false;
                }
                ++pos_;
            }
            return true;
        }
    }

    bool readArg(Arg &arg)
    {
        skipBlanks();
        if (atEnd()) {
            error_ = "missing value";
            return false;
        }
        const char c = peek();
        if (c == '"') {
            arg.type = Arg::Type::String;
            return readString(text_, pos_, arg.text, error_);
        }
        if (c == '&') {
            ++pos_;
            skipBlanks();
            arg.type = Arg::Type::Address;
            if (!readName(arg.text)) {
                error_ = "& needs a name";
                return false;
            }
            return true;
        }
        if (isNameStart(c)) {
            arg.type = Arg::Type::Name;
            return readName(arg.text);
        }
        bool negative = false;
        if (c == '-' || c == '+') {
            negative = c == '-';
            ++pos_;
            skipBlanks();
        }
        if (!readNumber(arg))
            return false;
        if (negative) {
            arg.negative = !arg.negative && arg.magnitude != 0;
            arg.floating = -arg.floating;
        }
        return true;
    }

    bool readNumber(Arg &arg)
    {
        if (peek() == '\'') {
            ++pos_;
            char value = 0;
            if (atEnd() || peek() == '\'' || !readChar(text_, pos_, value, error_)) {
                if (error_.empty())
                    error_ = "empty character constant";
                return false;
            }
            if (peek() != '\'') {
                error_ = "unterminated character constant";
                return false;
            }
            ++pos_;
            arg.type = Arg::Type::Integer;
            arg.magnitude = static_cast<unsigned char>(value);
            return true;
        }
        const std::size_t start = pos_;
        while (!atEnd() && (isNameChar(peek()) || peek() == '.' ||
                            ((peek() == '-' || peek() == '+') &&
                             (text_[pos_ - 1] == 'e' || text_[pos_ - 1] == 'E'))))
            ++pos_;
        const std::string number = text_.substr(start, pos_ - start);
        if (number.empty() || std::isdigit(static_cast<unsigned char>(number[0])) == 0) {
            if (number.empty() || number[0] != '.') {
                error_ = "not a value: '" + text_.substr(start, 12) + "'";
                return false;
            }
        }
        const bool hex = number.size() > 1 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X');
        const bool floating = !hex && number.find_first_of(".eE") != std::string::npos;
        char *end = nullptr;
        errno = 0;
        if (floating) {
            arg.type = Arg::Type::Floating;
            arg.floating = std::strtod(number.c_str(), &end);
        } else {
            arg.type = Arg::Type::Integer;
            // Base 0: 0x hex, leading 0 octal, decimal otherwise.
            arg.magnitude = std::strtoull(number.c_str(), &end, 0);
        }
        if (end == nullptr || *end != '\0') {
            error_ = "not a number: " + number;
            return false;
        }
        if (errno == ERANGE) {
            error_ = "number out of range: " + number;
            return false;
        }
        return true;
    }
};

} // namespace

ParseResult parseCommand(const std::string &line) { return Parser(line).parse(); }

bool splitName(const std::string &line, std::string &name, std::string &rest)
{
    std::size_t pos = 0;
    while (pos < line.size() && isBlank(line[pos]))
        ++pos;
    if (pos >= line.size() || !isNameStart(line[pos]))
        return false;
    const std::size_t start = pos;
    while (pos < line.size() && isNameChar(line[pos]))
        ++pos;
    name = line.substr(start, pos - start);
    rest = line.substr(pos);
    return true;
}

bool splitWords(const std::string &text, std::vector<std::string> &words, std::string &error,
                std::vector<bool> *quoted)
{
    std::string body = text;
    std::size_t first = body.find_first_not_of(" \t\r\n");
    std::size_t last = body.find_last_not_of(" \t\r\n");
    if (first != std::string::npos && body[first] == '(' && body[last] == ')')
        body = body.substr(first + 1, last - first - 1);
    words.clear();
    std::size_t pos = 0;
    while (pos < body.size()) {
        const char c = body[pos];
        if (isBlank(c) || c == ',') {
            ++pos;
        } else if (c == '"') {
            std::string word;
            if (!readString(body, pos, word, error))
                return false;
            words.push_back(word);
            if (quoted != nullptr)
                quoted->resize(words.size(), true);
        } else if (c == '<' || c == '>') {
            words.emplace_back(1, c);
            ++pos;
            if (quoted != nullptr)
                quoted->resize(words.size(), false);
        } else {
            const std::size_t start = pos;
            while (pos < body.size() && !isBlank(body[pos]) && body[pos] != ',' && body[pos] != '"' &&
                   body[pos] != '<' && body[pos] != '>')
                ++pos;
            words.push_back(body.substr(start, pos - start));
            if (quoted != nullptr)
                quoted->resize(words.size(), false);
        }
    }
    return true;
}

std::vector<std::string> splitStatements(const std::string &line)
{
    std::vector<std::string> statements;
    std::string current;
    bool inString = false;
    bool inChar = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if ((inString || inChar) && c == '\\' && i + 1 < line.size()) {
            current += c;
            current += line[++i];
            continue;
        }
        if (c == '"' && !inChar)
            inString = !inString;
        else if (c == '\'' && !inString)
            inChar = !inChar;
        else if (!inString && !inChar && c == '#')
            break;
        else if (!inString && !inChar && c == ';') {
            statements.push_back(current);
            current.clear();
            continue;
        }
        current += c;
    }
    statements.push_back(current);
    std::vector<std::string> nonEmpty;
    for (const std::string &s : statements)
        if (s.find_first_not_of(" \t\r\n") != std::string::npos)
            nonEmpty.push_back(s);
    return nonEmpty;
}

} // namespace shell
