// The shell's language: a tokenizer that records where each token stands, a parser that
// builds a small syntax tree one statement at a time, and the table of built-in commands.
//
//   statement  := command words | name '=' value | name | name args | name '(' args ')'
//   value      := routine args | expr               (a routine followed by arguments is called)
//   args       := expr { ',' expr }                 (at most ten)
//   expr       := C integer expressions over | ^ & << >> + - * / and unary - + ~ ! &name,
//                 with parentheses; numbers, 'c', "strings", floating-point numbers, names
// Statements are separated by ';'; '#' at the start of a token begins a comment. A built-in
// command takes either words (quoted or not, options before paths; '<' and '>' stand alone)
// or expressions, as its table entry says.
#ifndef SHELL_SHELLLANG_H
#define SHELL_SHELLLANG_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace shell {

struct Position {
    int line = 1;
    int column = 1;
};

struct Expr {
    enum class Type { Integer, Floating, String, Name, AddressOf, Unary, Binary };
    Type type = Type::Integer;
    Position at;
    uint64_t integer = 0; // the bits of an integer literal
    double floating = 0;
    std::string text; // strings, names, operators
    std::unique_ptr<Expr> left;
    std::unique_ptr<Expr> right;
};

struct Word {
    std::string text;
    bool quoted = false;
    Position at;
};

struct Statement {
    enum class Type { Command, Assign, Show, Call };
    Type type = Type::Show;
    Position at;
    std::string name;                        // the command, the word assigned, shown or called
    std::vector<Word> words;                 // commands that take words
    std::string routine;                     // Assign: the routine whose result is kept, if any
    std::vector<std::unique_ptr<Expr>> args; // calls, and commands that take values
    std::unique_ptr<Expr> value;             // Assign without routine
};

// The built-in commands. Each takes its arguments as words or as values.
enum class ArgStyle : uint8_t { Words, Values };

struct BuiltinSpec {
    std::string_view name;
    ArgStyle style;
    std::string_view usage;
};

// In name order; the shell's runners (shellExec.cpp) follow the same order.
inline constexpr BuiltinSpec kBuiltinSpecs[] = {
    {"cat", ArgStyle::Words, "cat file ...                   print files"},
    {"cd", ArgStyle::Words, "cd path                        change the default directory"},
    {"chmod", ArgStyle::Words, "chmod [-f] mode path ...       set permission bits (octal: 644, 0755)"},
    {"copy", ArgStyle::Words, "copy [-f] src dst, copy < src  copy a file (to a folder, to standard output)"},
    {"d", ArgStyle::Values, "d address[, count[, width]]    display memory in hex"},
    {"date", ArgStyle::Words, "date server                    the time from an SNTP server, in UTC"},
    {"devs", ArgStyle::Words, "devs                           list the I/O system's devices"},
    {"df", ArgStyle::Words, "df [path]                      file-system status of a device"},
    {"echo", ArgStyle::Words, "echo text ...                  print the text"},
    {"exit", ArgStyle::Values, "exit [status]                  leave the shell"},
    {"h", ArgStyle::Words, "h                              list the history of this session"},
    {"help", ArgStyle::Words, "help [name]                    this list, or a routine's prototype"},
    {"hostShow", ArgStyle::Words, "hostShow                       list the host table"},
    {"i", ArgStyle::Words, "i                              list the kernel tasks"},
    {"ld", ArgStyle::Words, "ld < module                    load a module (libname.so or name)"},
    {"lkup", ArgStyle::Words, "lkup [text]                    list what can be called or read"},
    {"ll", ArgStyle::Words, "ll [path]                      list a directory in long form"},
    {"ln", ArgStyle::Words, "ln [-fs] target name           hard link, or symbolic link (-s)"},
    {"lock", ArgStyle::Words, "lock [-r] file [start [len]]   take a record lock, show another task meet it"},
    {"ls", ArgStyle::Words, "ls [-la] [path]                list a directory or a file"},
    {"mkdir", ArgStyle::Words, "mkdir [-f] path                make a directory"},
    {"mount", ArgStyle::Words, "mount [-o opts] host:/path dev mount an NFS export; alone: list"},
    {"mv", ArgStyle::Words, "mv [-f] old new                rename"},
    {"printErrno", ArgStyle::Values, "printErrno [number]            name an error number (the last one)"},
    {"pwd", ArgStyle::Words, "pwd                            print the default directory"},
    {"readlink", ArgStyle::Words, "readlink path                  print a symbolic link's text"},
    {"rm", ArgStyle::Words, "rm [-f] file ...               remove files"},
    {"rmdir", ArgStyle::Words, "rmdir [-f] path                remove a directory"},
    {"stat", ArgStyle::Words, "stat path                      a file's status"},
    {"touch", ArgStyle::Words, "touch [-f] file ...            make missing files, set times to now"},
    {"umount", ArgStyle::Words, "umount dev                     unmount an NFS device"},
    {"version", ArgStyle::Words, "version                        the shell's and the modules' versions"},
};

constexpr const BuiltinSpec *builtinSpecFind(std::string_view name)
{
    for (const BuiltinSpec &builtin : kBuiltinSpecs)
        if (builtin.name == name)
            return &builtin;
    return nullptr;
}

inline constexpr std::size_t kMaxCallArgs = 10;

// Tells the parser whether a name is a routine: "x = routine args" is a call, "x = word - 1"
// an expression.
using RoutineTest = std::function<bool(const std::string &)>;

class Parser {
public:
    Parser(std::string text, int line, RoutineTest isRoutine);
    // The next statement; false at the end of the text, or with error() set.
    bool next(Statement &statement);
    // "line:column: what was expected"
    const std::string &error() const { return error_; }
    // The statement's text as typed, for messages.
    std::string lastText() const;

private:
    struct Token;
    std::string text_;
    int line_;
    RoutineTest isRoutine_;
    std::size_t pos_ = 0;
    std::size_t statementStart_ = 0;
    std::size_t statementEnd_ = 0;
    std::string error_;

    Position positionOf(std::size_t offset) const;
    bool fail(std::size_t offset, const std::string &what);
    void skipBlanks();
    bool atStatementEnd();
    bool peekToken(Token &token);
    bool takeToken(Token &token);
    bool expect(const char *op, const char *what);
    bool parseWords(Statement &statement);
    bool parseArgs(std::vector<std::unique_ptr<Expr>> &args);
    bool parseCallArgs(std::vector<std::unique_ptr<Expr>> &args);
    std::unique_ptr<Expr> parseExpr(int level);
    std::unique_ptr<Expr> parseUnary();
    bool readString(std::size_t &pos, std::string &out);
    bool readChar(std::size_t &pos, char &out);
};

// The tree as text, for tests and messages: (| 0x200 2), call f(1, "a"), set x = ...
std::string treeText(const Statement &statement);
std::string treeText(const Expr &expr);

} // namespace shell

#endif
