// The shell's grammar, on the parser itself: each line gives its statements' trees, or an
// error that says where (line:column) and what was expected.
#include "shellLang.h"

#include <gtest/gtest.h>

namespace {

// "f" and "g" are routines; every other name is a word.
std::string parsed(const std::string &line)
{
    shell::Parser parser(line, 1, [](const std::string &name) { return name == "f" || name == "g"; });
    std::string trees;
    shell::Statement statement;
    while (parser.next(statement))
        trees += (trees.empty() ? "" : " ; ") + shell::treeText(statement);
    return parser.error().empty() ? trees : "error " + parser.error();
}

TEST(ShellGrammar, StatementsAndExpressions)
{
    const struct {
        const char *line;
        const char *tree;
    } cases[] = {
        // Commands take words: quotes, options and paths as typed.
        {"cat it's; pwd", "cmd cat [it's] ; cmd pwd"},
        {"ls -la", "cmd ls [-la]"},
        {"ls -l file", "cmd ls [-l] [file]"},
        {"ls /", "cmd ls [/]"},
        {"cd \"..\"", "cmd cd [..]"},
        {"cd ..", "cmd cd [..]"},
        {"copy > b", "cmd copy [>] [b]"},
        {"copy < \"a b\" > c.txt", "cmd copy [<] [a b] [>] [c.txt]"},
        {"copy \"notes.txt\", \"/nfs/notes.txt\"", "cmd copy [notes.txt] [/nfs/notes.txt]"},
        {"ld(\"quenby\")", "cmd ld [quenby]"},
        {"chmod 0644 \"a b\" c", "cmd chmod [0644] [a b] [c]"},
        {"ln -s ../t.txt /nfs/l; readlink l", "cmd ln [-s] [../t.txt] [/nfs/l] ; cmd readlink [l]"},
        {"echo a # a comment; not a statement", "cmd echo [a]"},
        {"ls = 3", "set ls = 3"},
        // Commands that take values.
        {"d avalues, 2, 8", "cmd d(avalues, 2, 8)"},
        {"printErrno 0x300000|2", "cmd printErrno((| 3145728 2))"},
        // Calls, words, assignments.
        {"f", "show f"},
        {"f 1, \"a\", 'c', 2.5, -1", "call f(1, \"a\", 99, 2.5, (- 1))"},
        {"f(1, 2)", "call f(1, 2)"},
        {"f()", "call f()"},
        {"f (1+2)*3, 4", "call f((* (+ 1 2) 3), 4)"},
        {"f &w, ~0, !w", "call f(&w, (~ 0), (! w))"},
        {"x = 0x200|2", "set x = (| 512 2)"},
        {"x = K_O_CREAT | K_O_RDWR", "set x = (| K_O_CREAT K_O_RDWR)"},
        {"x = 1 | 2 ^ 3 & 4 << 5 + 6 * 7", "set x = (| 1 (^ 2 (& 3 (<< 4 (+ 5 (* 6 7))))))"},
        {"x = 8 - 2 - 1", "set x = (- (- 8 2) 1)"},
        {"x = w - 1", "set x = (- w 1)"},
        {"x = f -1", "set x = call f((- 1))"},
        {"x = g", "set x = call g()"},
        {"x = f(2), 3", "set x = call f(2, 3)"},
        {"w = \"a;b#c\"; g", "set w = \"a;b#c\" ; show g"},
        {";; f ;", "show f"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parsed(c.line), c.tree) << c.line;
}

TEST(ShellGrammar, ErrorsSayWhereAndWhat)
{
    const struct {
        const char *line;
        const char *error;
    } cases[] = {
        {"42", "1:1: a command starts with a name"},
        {"x = 1 +", "1:8: expected a value"},
        {"x = (1 + 2", "1:11: missing ')'"},
        {"f (1, 2", "1:8: missing ')'"},
        {"f 1 2", "1:5: expected ',' or the end of the statement, not '2'"},
        {"f 1,2,3,4,5,6,7,8,9,10,11", "1:24: too many arguments (at most 10)"},
        {"f \"abc", "1:3: unterminated string"},
        {"f \"a\\qb\"", "1:5: unknown escape \\q"},
        {"f 'ab'", "1:3: unterminated character constant"},
        {"f ''", "1:3: empty character constant"},
        {"x = 08", "1:5: not a number: 08"},
        {"x = 99999999999999999999999", "1:5: number out of range: 99999999999999999999999"},
        {"x = w 1", "1:5: unknown name, or not a routine: w"},
        {"f & 3", "1:5: & needs a name"},
        {"f @", "1:3: unexpected character '@'"},
        {"ls (\"a\" b", "1:10: missing ')'"},
        {"f 1) ; g", "1:4: unexpected ')'"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(parsed(c.line), std::string("error ") + c.error) << c.line;
}

} // namespace
