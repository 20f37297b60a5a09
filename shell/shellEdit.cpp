// The interactive line editor: libedit (BSD-licensed, so the shell stays free for any use
// beside modules built into proprietary systems), with history kept in ~/.rtsh_history and
// completion of commands, routine and word names, and file names through the I/O system.
#include "shellScript.h"
#include "shellSymbols.h"
#include "shellTask.h"

#include <kernel/ioLib.h>

#include <editline/readline.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace shell {
namespace {

constexpr int kHistoryMax = 1000;

std::vector<std::string> &matches()
{
    static std::vector<std::string> found;
    return found;
}

char *nextMatch(const char *, int state)
{
    const auto index = static_cast<std::size_t>(state);
    return index < matches().size() ? strdup(matches()[index].c_str()) : nullptr;
}

void nameMatches(const std::string &prefix)
{
    for (const BuiltinSpec &builtin : kBuiltinSpecs)
        if (builtin.name.compare(0, prefix.size(), prefix) == 0)
            matches().emplace_back(builtin.name);
    for (const SymbolEntry &entry : symbolList())
        if (entry.name.compare(0, prefix.size(), prefix) == 0)
            matches().push_back(entry.name);
}

void fileMatches(const std::string &typed)
{
    const std::size_t cut = typed.find_last_of("/:");
    const std::string dirPart = cut == std::string::npos ? "" : typed.substr(0, cut + 1);
    const std::string prefix = typed.substr(dirPart.size());
    const std::string dir = resolvePath(dirPart.empty() ? "." : dirPart);
    KDIR *stream = kOpendir(dir.c_str());
    if (stream == nullptr)
        return;
    while (struct kdirent *entry = kReaddir(stream)) {
        const std::string name = entry->d_name;
        if (name == "." || name == ".." || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        std::string candidate = dirPart + name;
        struct kstat st {};
        const std::string full = resolvePath(candidate);
        if (kStat(full.c_str(), &st) == 0 && (st.st_mode & K_S_IFMT) == K_S_IFDIR)
            candidate += '/';
        matches().push_back(candidate);
    }
    kClosedir(stream);
}

char **complete(const char *text, int start, int)
{
    rl_attempted_completion_over = 1; // never fall back to the host's own file names
    matches().clear();
    const std::string before(rl_line_buffer, static_cast<std::size_t>(std::max(start, 0)));
    const bool inString = std::count(before.begin(), before.end(), '"') % 2 == 1;
    const std::string typed = text;
    const bool pathCommand = before.find_first_not_of(" \t") != std::string::npos &&
                             builtinSpecFind(before.substr(0, before.find_first_of(" \t("))) != nullptr;
    if (inString || pathCommand || typed.find_first_of("/:.") != std::string::npos) {
        fileMatches(typed);
        rl_completion_append_character = '\0';
    } else {
        nameMatches(typed);
        rl_completion_append_character = ' ';
    }
    std::sort(matches().begin(), matches().end());
    matches().erase(std::unique(matches().begin(), matches().end()), matches().end());
    if (matches().empty())
        return nullptr;
    return rl_completion_matches(text, nextMatch);
}

} // namespace

EditLineSource::EditLineSource()
{
    rl_readline_name = "rtsh";
    static char breaks[] = " \t\n\",()=&<>";
    rl_completer_word_break_characters = breaks;
    rl_attempted_completion_function = complete;
    if (const char *home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        historyFile_ = std::string(home) + "/.rtsh_history";
    using_history();
    stifle_history(kHistoryMax);
    if (!historyFile_.empty())
        read_history(historyFile_.c_str());
}

EditLineSource::~EditLineSource()
{
    if (!historyFile_.empty())
        write_history(historyFile_.c_str());
    clear_history();
}

// Ctrl-C at the prompt drops the line typed so far and gives a fresh prompt. Each line goes
// into the history file at once, so that a session that ends badly keeps it.
bool EditLineSource::next(std::string &line)
{
    for (;;) {
        std::fflush(stdout);
        interruptTake();
        char *read = readline(kPrompt);
        if (interruptTake()) {
            std::free(read);
            std::printf("\n");
            continue;
        }
        if (read == nullptr) {
            std::printf("\n");
            return false;
        }
        line = read;
        std::free(read);
        if (line.find_first_not_of(" \t") != std::string::npos) {
            add_history(line.c_str());
            if (!historyFile_.empty())
                write_history(historyFile_.c_str());
        }
        return true;
    }
}

} // namespace shell
