#include "shellLang.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace shell {
namespace {

bool isNameStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool isNameChar(char c)
{
    return isNameStart(c) || isDigit(c);
}
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

int hexDigit(char c)
{
    if (isDigit(c))
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Binary operators by precedence, loosest first, as in C.
constexpr const char *kLevels[][2] = {
    {"|", nullptr}, {"^", nullptr}, {"&", nullptr}, {"<<", ">>"}, {"+", "-"}, {"*", "/"},
};
constexpr int kLevelCount = static_cast<int>(sizeof kLevels / sizeof kLevels[0]);

// Operators, longest first.
constexpr const char *kOperators[] = {"<<", ">>", "(", ")", ",", "=", "&", "|", "^",
                                      "~",  "!",  "+", "-", "*", "/", "<", ">"};

std::unique_ptr<Expr> node(Expr::Type type, Position at)
{
    auto e = std::make_unique<Expr>();
    e->type = type;
    e->at = at;
    return e;
}

} // namespace

struct Parser::Token {
    enum class Type { End, Name, Integer, Floating, String, Op };
    Type type = Type::End;
    std::size_t start = 0;
    std::size_t end = 0;
    std::string text; // names, operators, strings
    uint64_t integer = 0;
    double floating = 0;
};

Parser::Parser(std::string text, int line, RoutineTest isRoutine)
    : text_(std::move(text)), line_(line), isRoutine_(std::move(isRoutine))
{
}

Position Parser::positionOf(std::size_t offset) const
{
    return Position{line_, static_cast<int>(offset) + 1};
}

bool Parser::fail(std::size_t offset, const std::string &what)
{
    if (error_.empty())
        error_ = std::to_string(line_) + ":" + std::to_string(offset + 1) + ": " + what;
    return false;
}

void Parser::skipBlanks()
{
    while (pos_ < text_.size() && isBlank(text_[pos_]))
        ++pos_;
    if (pos_ < text_.size() && text_[pos_] == '#')
        pos_ = text_.size();
}

bool Parser::atStatementEnd()
{
    skipBlanks();
    return pos_ >= text_.size() || text_[pos_] == ';';
}

std::string Parser::lastText() const
{
    std::string statement = text_.substr(statementStart_, statementEnd_ - statementStart_);
    const std::size_t last = statement.find_last_not_of(" \t\r\n");
    return last == std::string::npos ? "" : statement.substr(0, last + 1);
}

// One character of a string or character constant, escapes included.
bool Parser::readChar(std::size_t &pos, char &out)
{
    if (text_[pos] != '\\') {
        out = text_[pos++];
        return true;
    }
    const std::size_t escape = pos;
    if (++pos >= text_.size())
        return fail(escape, "unterminated escape");
    const char c = text_[pos++];
    switch (c) {
    case 'n': out = '\n'; return true;
    case 't': out = '\t'; return true;
    case 'r': out = '\r'; return true;
    case 'a': out = '\a'; return true;
    case 'b': out = '\b'; return true;
    case 'f': out = '\f'; return true;
    case 'v': out = '\v'; return true;
    case 'e': out = '\033'; return true;
    case '\\':
    case '\'':
    case '"':
    case '?': out = c; return true;
    case 'x': {
        unsigned value = 0;
        int digits = 0;
        for (int d = 0; pos < text_.size() && (d = hexDigit(text_[pos])) >= 0; ++pos, ++digits)
            value = value * 16 + static_cast<unsigned>(d);
        if (digits == 0 || digits > 2)
            return fail(escape, "\\x needs one or two hex digits");
        out = static_cast<char>(value);
        return true;
    }
    default:
        if (c >= '0' && c <= '7') {
            unsigned value = static_cast<unsigned>(c - '0');
            for (int n = 1; n < 3 && pos < text_.size() && text_[pos] >= '0' && text_[pos] <= '7'; ++n)
                value = value * 8 + static_cast<unsigned>(text_[pos++] - '0');
            if (value > 0xff)
                return fail(escape, "octal escape out of range");
            out = static_cast<char>(value);
            return true;
        }
        return fail(escape, std::string("unknown escape \\") + c);
    }
}

bool Parser::readString(std::size_t &pos, std::string &out)
{
    const std::size_t open = pos++;
    out.clear();
    while (pos < text_.size() && text_[pos] != '"') {
        char c = 0;
        if (!readChar(pos, c))
            return false;
        out += c;
    }
    if (pos >= text_.size())
        return fail(open, "unterminated string");
    ++pos;
    return true;
}

bool Parser::peekToken(Token &token)
{
    const std::size_t saved = pos_;
    const bool ok = takeToken(token);
    pos_ = saved;
    return ok;
}

bool Parser::takeToken(Token &token)
{
    skipBlanks();
    token = Token{};
    token.start = pos_;
    if (pos_ >= text_.size() || text_[pos_] == ';') {
        token.end = pos_;
        return true;
    }
    const char c = text_[pos_];
    if (isNameStart(c)) {
        while (pos_ < text_.size() && isNameChar(text_[pos_]))
            ++pos_;
        token.type = Token::Type::Name;
        token.text = text_.substr(token.start, pos_ - token.start);
    } else if (c == '"') {
        token.type = Token::Type::String;
        if (!readString(pos_, token.text))
            return false;
    } else if (c == '\'') {
        ++pos_;
        char value = 0;
        if (pos_ >= text_.size() || text_[pos_] == '\'')
            return fail(token.start, "empty character constant");
        if (!readChar(pos_, value))
            return false;
        if (pos_ >= text_.size() || text_[pos_] != '\'')
            return fail(token.start, "unterminated character constant");
        ++pos_;
        token.type = Token::Type::Integer;
        token.integer = static_cast<unsigned char>(value);
    } else if (isDigit(c) || (c == '.' && pos_ + 1 < text_.size() && isDigit(text_[pos_ + 1]))) {
        while (pos_ < text_.size() &&
               (isNameChar(text_[pos_]) || text_[pos_] == '.' ||
                ((text_[pos_] == '-' || text_[pos_] == '+') &&
                 (text_[pos_ - 1] == 'e' || text_[pos_ - 1] == 'E') &&
                 text_.compare(token.start, 2, "0x") != 0 && text_.compare(token.start, 2, "0X") != 0)))
            ++pos_;
        const std::string number = text_.substr(token.start, pos_ - token.start);
        const bool hex = number.size() > 1 && number[0] == '0' && (number[1] == 'x' || number[1] == 'X');
        char *end = nullptr;
        errno = 0;
        if (!hex && number.find_first_of(".eE") != std::string::npos) {
            token.type = Token::Type::Floating;
            token.floating = std::strtod(number.c_str(), &end);
        } else {
            token.type = Token::Type::Integer;
            token.integer = std::strtoull(number.c_str(), &end, 0); // 0x hex, 0 octal, decimal
        }
        if (end == nullptr || *end != '\0')
            return fail(token.start, "not a number: " + number);
        if (errno == ERANGE)
            return fail(token.start, "number out of range: " + number);
    } else {
        for (const char *op : kOperators) {
            if (text_.compare(pos_, std::strlen(op), op) == 0) {
                token.type = Token::Type::Op;
                token.text = op;
                pos_ += std::strlen(op);
                break;
            }
        }
        if (token.type != Token::Type::Op)
            return fail(pos_, std::string("unexpected character '") + c + "'");
    }
    token.end = pos_;
    return true;
}

bool Parser::expect(const char *op, const char *what)
{
    Token token;
    if (!takeToken(token))
        return false;
    if (token.type != Token::Type::Op || token.text != op)
        return fail(token.start, what);
    return true;
}

std::unique_ptr<Expr> Parser::parseUnary()
{
    Token token;
    if (!takeToken(token))
        return nullptr;
    const Position at = positionOf(token.start);
    switch (token.type) {
    case Token::Type::End: fail(token.start, "expected a value"); return nullptr;
    case Token::Type::Name: {
        auto e = node(Expr::Type::Name, at);
        e->text = token.text;
        return e;
    }
    case Token::Type::Integer: {
        auto e = node(Expr::Type::Integer, at);
        e->integer = token.integer;
        return e;
    }
    case Token::Type::Floating: {
        auto e = node(Expr::Type::Floating, at);
        e->floating = token.floating;
        return e;
    }
    case Token::Type::String: {
        auto e = node(Expr::Type::String, at);
        e->text = token.text;
        return e;
    }
    case Token::Type::Op: break;
    }
    if (token.text == "(") {
        auto inner = parseExpr(0);
        if (inner == nullptr || !expect(")", "missing ')'"))
            return nullptr;
        return inner;
    }
    if (token.text == "&") {
        Token name;
        if (!takeToken(name))
            return nullptr;
        if (name.type != Token::Type::Name) {
            fail(name.start, "& needs a name");
            return nullptr;
        }
        auto e = node(Expr::Type::AddressOf, at);
        e->text = name.text;
        return e;
    }
    if (token.text == "-" || token.text == "+" || token.text == "~" || token.text == "!") {
        auto operand = parseUnary();
        if (operand == nullptr)
            return nullptr;
        auto e = node(Expr::Type::Unary, at);
        e->text = token.text;
        e->left = std::move(operand);
        return e;
    }
    fail(token.start, "expected a value, not '" + token.text + "'");
    return nullptr;
}

std::unique_ptr<Expr> Parser::parseExpr(int level)
{
    if (level == kLevelCount)
        return parseUnary();
    auto left = parseExpr(level + 1);
    while (left != nullptr) {
        Token token;
        if (!peekToken(token))
            return nullptr;
        const char *const *ops = kLevels[level];
        const bool matches = token.type == Token::Type::Op &&
                             (token.text == ops[0] || (ops[1] != nullptr && token.text == ops[1]));
        if (!matches)
            return left;
        takeToken(token);
        auto right = parseExpr(level + 1);
        if (right == nullptr)
            return nullptr;
        auto e = node(Expr::Type::Binary, positionOf(token.start));
        e->text = token.text;
        e->left = std::move(left);
        e->right = std::move(right);
        left = std::move(e);
    }
    return left;
}

bool Parser::parseArgs(std::vector<std::unique_ptr<Expr>> &args)
{
    for (;;) {
        const std::size_t start = pos_;
        auto arg = parseExpr(0);
        if (arg == nullptr)
            return false;
        if (args.size() == kMaxCallArgs)
            return fail(start, "too many arguments (at most 10)");
        args.push_back(std::move(arg));
        Token token;
        if (!peekToken(token))
            return false;
        if (token.type != Token::Type::Op || token.text != ",")
            return true;
        takeToken(token);
    }
}

// The arguments of a call: none, "a, b" or "(a, b)". A list that starts with a parenthesis
// but goes on after the closing one, "(1 + 2) * 3, 4", is read again as a plain list.
bool Parser::parseCallArgs(std::vector<std::unique_ptr<Expr>> &args)
{
    if (atStatementEnd())
        return true;
    Token token;
    if (!peekToken(token))
        return false;
    if (token.type == Token::Type::Op && token.text == "(") {
        const std::size_t start = pos_;
        takeToken(token);
        Token close;
        if (!peekToken(close))
            return false;
        bool listed = false;
        if (close.type == Token::Type::Op && close.text == ")") {
            takeToken(close);
            listed = true;
        } else if (parseArgs(args) && expect(")", "missing ')'")) {
            listed = true;
        }
        if (listed && atStatementEnd())
            return true;
        const std::string firstError = error_;
        pos_ = start;
        error_.clear();
        args.clear();
        if (parseArgs(args))
            return true;
        if (!listed && !firstError.empty())
            error_ = firstError;
        return false;
    }
    return parseArgs(args);
}

// Words: strings in double quotes, or runs of characters up to a blank, a comma, a quote, a
// semicolon, '<' or '>'; the whole list may stand in parentheses.
bool Parser::parseWords(Statement &statement)
{
    skipBlanks();
    bool parenthesised = false;
    if (pos_ < text_.size() && text_[pos_] == '(') {
        parenthesised = true;
        ++pos_;
    }
    for (;;) {
        skipBlanks();
        if (pos_ >= text_.size() || text_[pos_] == ';')
            break;
        const char c = text_[pos_];
        Word word;
        word.at = positionOf(pos_);
        if (c == ',') {
            ++pos_;
            continue;
        }
        if (parenthesised && c == ')') {
            ++pos_;
            parenthesised = false;
            if (!atStatementEnd())
                return fail(pos_, "expected the end of the statement after ')'");
            break;
        }
        if (c == '"') {
            word.quoted = true;
            if (!readString(pos_, word.text))
                return false;
        } else if (c == '<' || c == '>') {
            word.text = std::string(1, c);
            ++pos_;
        } else {
            const std::size_t start = pos_;
            while (pos_ < text_.size() && !isBlank(text_[pos_]) &&
                   std::strchr(",\";<>", text_[pos_]) == nullptr && !(parenthesised && text_[pos_] == ')'))
                ++pos_;
            word.text = text_.substr(start, pos_ - start);
        }
        statement.words.push_back(std::move(word));
    }
    if (parenthesised)
        return fail(pos_, "missing ')'");
    return true;
}

bool Parser::next(Statement &statement)
{
    statement = Statement{};
    skipBlanks();
    while (pos_ < text_.size() && text_[pos_] == ';') {
        ++pos_;
        skipBlanks();
    }
    statementStart_ = pos_;
    statementEnd_ = pos_;
    if (pos_ >= text_.size())
        return false;
    Token first;
    if (!takeToken(first))
        return false;
    if (first.type != Token::Type::Name)
        return fail(first.start, "a command starts with a name");
    statement.at = positionOf(first.start);
    statement.name = first.text;
    // Looked at as characters: the words of a command need not be tokens of an expression.
    skipBlanks();
    const bool assignment = pos_ < text_.size() && text_[pos_] == '=';
    Token token;
    bool ok = true;
    if (const BuiltinSpec *builtin = builtinSpecFind(first.text); builtin != nullptr && !assignment) {
        statement.type = Statement::Type::Command;
        if (builtin->style == ArgStyle::Words) {
            ok = parseWords(statement);
        } else {
            ok = parseCallArgs(statement.args);
        }
    } else if (assignment) {
        takeToken(token);
        statement.type = Statement::Type::Assign;
        Token valueStart;
        if (!peekToken(valueStart))
            return false;
        if (valueStart.type == Token::Type::Name && isRoutine_ && isRoutine_(valueStart.text)) {
            takeToken(valueStart);
            statement.routine = valueStart.text;
            ok = parseCallArgs(statement.args);
        } else {
            statement.value = parseExpr(0);
            ok = statement.value != nullptr;
            if (ok && statement.value->type == Expr::Type::Name && !atStatementEnd())
                return fail(valueStart.start, "unknown name, or not a routine: " + valueStart.text);
        }
    } else if (atStatementEnd()) {
        statement.type = Statement::Type::Show;
    } else {
        statement.type = Statement::Type::Call;
        ok = parseCallArgs(statement.args);
    }
    if (!ok)
        return false;
    if (!atStatementEnd()) {
        Token extra;
        const std::size_t at = pos_;
        if (!peekToken(extra))
            return false;
        return fail(at, extra.type == Token::Type::Op && extra.text == ")"
                            ? "unexpected ')'"
                            : "expected ',' or the end of the statement, not '" +
                                  text_.substr(at, extra.end > at ? extra.end - at : 1) + "'");
    }
    statementEnd_ = pos_;
    return true;
}

std::string treeText(const Expr &expr)
{
    switch (expr.type) {
    case Expr::Type::Integer: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%" PRIu64, expr.integer);
        return buf;
    }
    case Expr::Type::Floating: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%g", expr.floating);
        return buf;
    }
    case Expr::Type::String: return "\"" + expr.text + "\"";
    case Expr::Type::Name: return expr.text;
    case Expr::Type::AddressOf: return "&" + expr.text;
    case Expr::Type::Unary: return "(" + expr.text + " " + treeText(*expr.left) + ")";
    case Expr::Type::Binary:
        return "(" + expr.text + " " + treeText(*expr.left) + " " + treeText(*expr.right) + ")";
    }
    return "?";
}

std::string treeText(const Statement &statement)
{
    std::string args;
    for (const auto &arg : statement.args)
        args += (args.empty() ? "" : ", ") + treeText(*arg);
    switch (statement.type) {
    case Statement::Type::Command: {
        std::string words;
        for (const Word &word : statement.words)
            words += " [" + word.text + "]";
        return "cmd " + statement.name + words + (args.empty() ? "" : "(" + args + ")");
    }
    case Statement::Type::Assign:
        return "set " + statement.name + " = " +
               (statement.value != nullptr ? treeText(*statement.value)
                                           : "call " + statement.routine + "(" + args + ")");
    case Statement::Type::Show: return "show " + statement.name;
    case Statement::Type::Call: return "call " + statement.name + "(" + args + ")";
    }
    return "?";
}

} // namespace shell
