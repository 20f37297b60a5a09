// Runs rtsh as a user would: a script on standard input (or options), and what it printed.
#ifndef TESTS_SHELL_SHELLRUN_H
#define TESTS_SHELL_SHELLRUN_H

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

struct ShellRun {
    int status = -1; // exit status; 128 + signal when killed
    std::string out;
    std::string err;
};

inline std::string readWhole(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void writeWhole(const std::filesystem::path &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// A fresh folder under the temporary folder, removed with the object.
struct TempDir {
    std::filesystem::path path;
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "rtsh-test.XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
};

inline ShellRun runShell(const std::string &input, const std::string &options = "")
{
    TempDir dir;
    writeWhole(dir.path / "in", input);
    const std::string command = "RTSH_MODULE_PATH=" RTSH_TEST_MODULE_PATH " '" RTSH_PATH "' " + options +
                                " <'" + (dir.path / "in").string() + "' >'" + (dir.path / "out").string() +
                                "' 2>'" + (dir.path / "err").string() + "'";
    ShellRun run;
    const int raw = std::system(command.c_str());
    run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    run.out = readWhole(dir.path / "out");
    run.err = readWhole(dir.path / "err");
    return run;
}

#endif
