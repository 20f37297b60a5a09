// rtsh: the kernel shell. Starts the kernel layer (linked in, so its start-up has run before
// main), runs as a kernel task, loads modules and runs commands from a terminal, a script, a
// pipe or the command line.
//
//   rtsh [-q] [-k] [-l module]... [-c "cmd; cmd"] [-f script | script]
#include "shellExec.h"
#include "shellScript.h"
#include "shellSymbols.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Options {
    std::vector<std::string> modules;
    std::string command;
    bool haveCommand = false;
    std::string script;
    shell::RunOptions run;
};

void usage()
{
    std::fprintf(stderr, "usage: rtsh [-q] [-k] [-l module]... [-c \"cmd; cmd\"] [-f script | script]\n"
                         "  -l module  load a module at start-up (libname.so, name or a path)\n"
                         "  -c cmds    run the commands and leave\n"
                         "  -f script  run a script (also: rtsh script, rtsh < script)\n"
                         "  -q         do not echo the commands of a script\n"
                         "  -k         go on after a failing command\n");
}

bool parseOptions(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "-q") {
            options.run.echo = false;
        } else if (arg == "-k") {
            options.run.keepGoing = true;
        } else if (arg == "-l" && hasValue) {
            options.modules.emplace_back(argv[++i]);
        } else if (arg == "-c" && hasValue) {
            options.command = argv[++i];
            options.haveCommand = true;
        } else if (arg == "-f" && hasValue) {
            options.script = argv[++i];
        } else if (arg.empty() || arg[0] == '-' || !options.script.empty()) {
            return false;
        } else {
            options.script = arg;
        }
    }
    return true;
}

// Bare module names are looked for in RTSH_MODULE_PATH, then in the library folder beside
// the installed shell, and, for the shell in its build folder, in the build's module folders.
void moduleSearchPathInit()
{
    if (const char *path = std::getenv("RTSH_MODULE_PATH")) {
        std::string list = path;
        for (std::size_t start = 0; start <= list.size();) {
            std::size_t end = list.find(':', start);
            if (end == std::string::npos)
                end = list.size();
            if (end > start)
                shell::moduleSearchPathAdd(list.substr(start, end - start));
            start = end + 1;
        }
    }
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::canonical("/proc/self/exe", ec).parent_path();
    if (ec)
        return;
    shell::moduleSearchPathAdd((self / RTSH_LIBDIR_FROM_BINDIR).lexically_normal().string());
    if (self == std::filesystem::path(RTSH_BUILD_DIR))
        for (const char *dir : {RTSH_BUILD_MODULE_DIRS})
            shell::moduleSearchPathAdd(dir);
}

int runShell(const Options &options)
{
    shell::Session session;
    shell::workingDirectoryInit();
    for (const std::string &module : options.modules) {
        if (!shell::execute("ld < \"" + module + "\"", session) && !options.run.keepGoing)
            return 1;
    }
    shell::RunOptions run = options.run;
    if (options.haveCommand) {
        run.sourceName = "-c";
        shell::TextLineSource source(options.command);
        return shell::runLines(source, run, session);
    }
    if (!options.script.empty()) {
        const int fd = ::open(options.script.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            std::fprintf(stderr, "rtsh: %s: %s\n", options.script.c_str(), std::strerror(errno));
            return 1;
        }
        run.sourceName = options.script;
        shell::FdLineSource source(fd);
        const int status = shell::runLines(source, run, session);
        ::close(fd);
        return status;
    }
    if (isatty(STDIN_FILENO) != 0) {
        run.interactive = true;
        run.sourceName = "tty";
        shell::EditLineSource source;
        return shell::runLines(source, run, session);
    }
    run.sourceName = "stdin";
    shell::FdLineSource source(STDIN_FILENO);
    return shell::runLines(source, run, session);
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage();
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    moduleSearchPathInit();
    // The commands run in a kernel task of their own, whose per-task state (the NFS client's
    // handle among it) the task-delete hooks release when it ends.
    int status = 0;
    std::thread task([&] { status = runShell(options); });
    task.join();
    std::fflush(stdout);
    return status;
}
