// The file commands, all through the kernel layer's I/O system, so that they work on any
// device: host:, an NFS mount, or whatever a module adds.
#include "shellErrno.h"
#include "shellExec.h"

#include <kernel/errnoLib.h>
#include <kernel/ioLib.h>
#include <kernel/iosLib.h>
#include <kernel/pathLib.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace shell {
namespace {

constexpr std::size_t kPathMax = 1024;
constexpr int kCopyChunk = 16384;
constexpr int kNewFileMode = 0644;
constexpr int kNewDirMode = 0755;

bool failed(const std::string &command, const std::string &path)
{
    reportError(command + ": " + path + ": errno = " + errnoText(errnoGet()));
    return false;
}

bool usage(const char *text)
{
    reportError(std::string("usage: ") + text);
    return false;
}

std::string currentDirectory()
{
    std::array<char, kPathMax> path{};
    ioDefPathGet(path.data(), path.size());
    return path.data();
}

std::string joinName(const std::string &dir, const char *name)
{
    if (dir.empty() || dir.back() == '/' || dir.back() == ':')
        return dir + name;
    return dir + "/" + name;
}

std::string modeText(uint32_t mode)
{
    std::string text = "----------";
    switch (mode & K_S_IFMT) {
    case K_S_IFDIR: text[0] = 'd'; break;
    case K_S_IFLNK: text[0] = 'l'; break;
    case K_S_IFCHR: text[0] = 'c'; break;
    case K_S_IFBLK: text[0] = 'b'; break;
    case K_S_IFIFO: text[0] = 'p'; break;
    case K_S_IFSOCK: text[0] = 's'; break;
    default: break;
    }
    static const char letters[] = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        if ((mode & (0400u >> bit)) != 0)
            text[static_cast<std::size_t>(bit) + 1] = letters[bit];
    return text;
}

void printLong(const std::string &dir, const char *name)
{
    struct kstat st{};
    const std::string path = joinName(dir, name);
    if (kStat(path.c_str(), &st) != 0) {
        std::printf("?????????? %-8s %s (errno = %s)\n", "", name, errnoText(errnoGet()).c_str());
        return;
    }
    std::array<char, 32> when{};
    const auto mtime = static_cast<time_t>(st.st_mtime);
    tm parts{};
    if (gmtime_r(&mtime, &parts) != nullptr)
        std::strftime(when.data(), when.size(), "%b %e %Y %H:%M", &parts);
    std::printf("%s %3u %5u %5u %12llu %s %s\n", modeText(st.st_mode).c_str(), st.st_nlink,
                unsigned{st.st_uid}, unsigned{st.st_gid}, static_cast<unsigned long long>(st.st_size),
                when.data(), name);
}

bool list(const std::string &typed, bool longForm)
{
    const std::string dir = resolvePath(typed.empty() ? "." : typed);
    KDIR *stream = kOpendir(dir.c_str());
    if (stream == nullptr)
        return failed(longForm ? "ll" : "ls", dir);
    std::vector<std::string> names;
    errnoSet(0);
    while (struct kdirent *entry = kReaddir(stream))
        names.emplace_back(entry->d_name);
    const int readError = errnoGet();
    kClosedir(stream);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        if (longForm)
            printLong(dir, name.c_str());
        else
            std::printf("%s\n", name.c_str());
    }
    if (readError != 0) {
        errnoSet(readError);
        return failed("ls", dir);
    }
    return true;
}

// Copies from an open descriptor to another, or to standard output when to is -1.
bool copyData(const char *command, int from, int to, const std::string &source, const std::string &target)
{
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        const int got = kRead(from, buffer.data(), kCopyChunk);
        if (got < 0)
            return failed(command, source);
        if (got == 0)
            return true;
        if (to < 0) {
            std::fwrite(buffer.data(), 1, static_cast<std::size_t>(got), stdout);
            continue;
        }
        for (int done = 0; done < got;) {
            const int put = kWrite(to, buffer.data() + done, got - done);
            if (put <= 0)
                return failed(command, target);
            done += put;
        }
    }
}

bool copyFile(const char *command, const std::string &source, const std::string *target)
{
    const std::string from = resolvePath(source);
    const int in = kOpen(from.c_str(), K_O_RDONLY, 0);
    if (in < 0)
        return failed(command, from);
    if (target == nullptr) {
        const bool ok = copyData(command, in, -1, from, "");
        kClose(in);
        std::fflush(stdout);
        return ok;
    }
    const std::string to = resolvePath(*target);
    const int out = kOpen(to.c_str(), K_O_WRONLY | K_O_CREAT | K_O_TRUNC, kNewFileMode);
    if (out < 0) {
        kClose(in);
        return failed("copy", to);
    }
    bool ok = copyData(command, in, out, from, to);
    kClose(in);
    // The close writes cached data back: its failure is the copy's.
    if (kClose(out) != 0 && ok)
        ok = failed("copy", to);
    return ok;
}

} // namespace

std::string resolvePath(const std::string &typed)
{
    std::string full = typed;
    const char *tail = nullptr;
    DEV_HDR *device = iosDevFind(full.c_str(), &tail);
    if (device == nullptr) {
        std::array<char, kPathMax> joined{};
        if (pathCat(currentDirectory().c_str(), typed.c_str(), joined.data(), joined.size()) != 0)
            return typed;
        full = joined.data();
        device = iosDevFind(full.c_str(), &tail);
    }
    if (device == nullptr)
        return full;
    const std::size_t prefix = static_cast<std::size_t>(tail - full.c_str());
    std::string rest = full.substr(prefix);
    const bool absolute = !rest.empty() && rest[0] == '/';
    std::vector<char> condensed(rest.begin(), rest.end());
    condensed.push_back('\0');
    pathCondense(condensed.data());
    rest = condensed.data();
    if (absolute && (rest.empty() || rest[0] != '/'))
        rest = "/" + rest;
    return full.substr(0, prefix) + rest;
}

void workingDirectoryInit()
{
    if (!currentDirectory().empty())
        return;
    std::array<char, kPathMax> cwd{};
    if (getcwd(cwd.data(), cwd.size()) != nullptr)
        ioDefPathSet(("host:" + std::string(cwd.data())).c_str());
}

bool cmdLs(const std::vector<std::string> &words, Session &)
{
    bool longForm = false;
    std::vector<std::string> paths;
    for (const std::string &word : words) {
        if (word == "-l")
            longForm = true;
        else
            paths.push_back(word);
    }
    if (paths.size() > 1)
        return usage("ls [-l] [path]");
    return list(paths.empty() ? "" : paths[0], longForm);
}

bool cmdLl(const std::vector<std::string> &words, Session &)
{
    if (words.size() > 1)
        return usage("ll [path]");
    return list(words.empty() ? "" : words[0], true);
}

bool cmdCd(const std::vector<std::string> &words, Session &)
{
    if (words.size() != 1)
        return usage("cd path");
    const std::string dir = resolvePath(words[0]);
    const char *tail = nullptr;
    if (iosDevFind(dir.c_str(), &tail) == nullptr) {
        reportError("cd: " + dir + ": no device has this name");
        return false;
    }
    struct kstat st{};
    if (kStat(dir.c_str(), &st) != 0)
        return failed("cd", dir);
    if ((st.st_mode & K_S_IFMT) != K_S_IFDIR) {
        reportError("cd: " + dir + ": not a directory");
        return false;
    }
    if (ioDefPathSet(dir.c_str()) != 0)
        return failed("cd", dir);
    return true;
}

bool cmdPwd(const std::vector<std::string> &words, Session &)
{
    if (!words.empty())
        return usage("pwd");
    std::printf("%s\n", currentDirectory().c_str());
    return true;
}

bool cmdCat(const std::vector<std::string> &words, Session &)
{
    if (words.empty())
        return usage("cat file ...");
    bool ok = true;
    for (const std::string &word : words)
        ok = copyFile("cat", word, nullptr) && ok;
    return ok;
}

bool cmdCopy(const std::vector<std::string> &words, Session &)
{
    // copy src dst, copy src, copy < src, copy src > dst
    std::vector<std::string> names;
    for (const std::string &word : words)
        if (word != "<" && word != ">")
            names.push_back(word);
    if (names.empty() || names.size() > 2)
        return usage("copy src [dst], copy < src");
    return copyFile("copy", names[0], names.size() == 2 ? &names[1] : nullptr);
}

bool cmdMkdir(const std::vector<std::string> &words, Session &)
{
    if (words.size() != 1)
        return usage("mkdir path");
    const std::string path = resolvePath(words[0]);
    return kMkdir(path.c_str(), kNewDirMode) == 0 || failed("mkdir", path);
}

bool cmdRmdir(const std::vector<std::string> &words, Session &)
{
    if (words.size() != 1)
        return usage("rmdir path");
    const std::string path = resolvePath(words[0]);
    return kRmdir(path.c_str()) == 0 || failed("rmdir", path);
}

bool cmdRm(const std::vector<std::string> &words, Session &)
{
    if (words.empty())
        return usage("rm file ...");
    bool ok = true;
    for (const std::string &word : words) {
        const std::string path = resolvePath(word);
        if (kRemove(path.c_str()) != 0)
            ok = failed("rm", path);
    }
    return ok;
}

bool cmdMv(const std::vector<std::string> &words, Session &)
{
    if (words.size() != 2)
        return usage("mv old new");
    const std::string from = resolvePath(words[0]);
    const std::string to = resolvePath(words[1]);
    return kRename(from.c_str(), to.c_str()) == 0 || failed("mv", from);
}

bool cmdDevs(const std::vector<std::string> &words, Session &)
{
    if (!words.empty())
        return usage("devs");
    std::printf("drv name\n");
    for (DEV_HDR *device = iosNextDevGet(nullptr); device != nullptr; device = iosNextDevGet(device))
        std::printf("%3d %s\n", device->drvNum, device->name);
    return true;
}

} // namespace shell
