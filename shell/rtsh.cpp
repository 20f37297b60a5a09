// rtsh: the kernel shell. Starts the kernel layer (linked in, so its start-up has run before
// main), runs as a kernel task, loads modules and runs commands from a terminal, a script, a
// pipe or the command line.
//
//   rtsh [-q] [-k] [-l module]... [-c "cmd; cmd"]... [-f script | script]
#include "shellCall.h"
#include "shellExec.h"
#include "shellScript.h"
#include "shellSymbols.h"
#include "shellTask.h"
#include "shellWords.h"

#include <kernel/ioLib.h>
#include <kernel/iosLib.h>

#include <fcntl.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

struct Options {
    std::vector<std::string> modules;
    std::string command; // every -c, one line each
    bool haveCommand = false;
    std::string script;
    bool help = false;
    shell::RunOptions run;
};

void usage(FILE *to)
{
    std::fprintf(to, "usage: rtsh [-q] [-k] [-l module]... [-c \"cmd; cmd\"]... [-f script | script]\n"
                     "  -l module  load a module at start-up (libname.so, name or a path)\n"
                     "  -c cmds    run the commands and leave (several -c run in order)\n"
                     "  -f script  run a script (also: rtsh script, rtsh < script)\n"
                     "  -q         do not echo the commands of a script\n"
                     "  -k         go on after a failing command\n"
                     "  --help     print this and leave\n");
}

bool parseOptions(int argc, char **argv, Options &options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "-q") {
            options.run.echo = false;
        } else if (arg == "-k") {
            options.run.keepGoing = true;
        } else if (arg == "-l" && hasValue) {
            options.modules.emplace_back(argv[++i]);
        } else if (arg == "-c" && hasValue) {
            if (options.haveCommand)
                options.command += '\n';
            options.command += argv[++i];
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

bool loadModule(const std::string &module)
{
    const shell::TaskOutcome outcome = shell::callTaskRun([module] {
        std::string error;
        std::string path;
        if (!shell::moduleLoad(module, error, path)) {
            shell::reportError("ld: " + error);
            return false;
        }
        std::printf("ld: loaded %s\n", path.c_str());
        return true;
    });
    if (!outcome.report.empty())
        shell::reportError("rtsh: " + outcome.report);
    return outcome.end == shell::TaskOutcome::End::Done && outcome.ok;
}

// At the end of a session: the descriptors that commands left open are closed (their data
// written back), and a module's routine that writes everything back, nfsSyncAll, is called
// when one is loaded.
void sessionEnd()
{
    shell::callTaskRun([] {
        for (int fd = 3; fd < K_IOS_MAX_FILES; ++fd)
            kClose(fd);
        const shell::NameInfo sync = shell::nameLookUp("nfsSyncAll");
        shell::CallResult result;
        std::string error;
        if (sync.what == shell::NameInfo::What::Routine &&
            !shell::routineCall("nfsSyncAll", sync, {}, result, error))
            shell::reportError(error);
        return true;
    });
    shell::callTaskEnd();
}

int runLinesFrom(const Options &options, shell::Session &session)
{
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

int runShell(const Options &options)
{
    shell::Session session;
    shell::workingDirectoryInit();
    for (const std::string &module : options.modules) {
        if (!loadModule(module) && !options.run.keepGoing) {
            sessionEnd();
            return 1;
        }
    }
    const int status = runLinesFrom(options, session);
    sessionEnd();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parseOptions(argc, argv, options)) {
        usage(stderr);
        return 2;
    }
    if (options.help) {
        usage(stdout);
        return 0;
    }
    // Typed characters beyond ASCII reach the line editor whole.
    std::setlocale(LC_CTYPE, "");
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    shell::signalsInit();
    moduleSearchPathInit();
    // The commands run in the call task (shellTask.h); this thread reads the lines.
    const int status = runShell(options);
    std::fflush(stdout);
    return status;
}
