// The file commands, all through the kernel layer's I/O system, so that they work on any
// device: host:, an NFS mount, or whatever a module adds.
#include "shellErrno.h"
#include "shellExec.h"
#include "shellTask.h"

#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>
#include <kernel/ioLib.h>
#include <kernel/iosLib.h>
#include <kernel/pathLib.h>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

namespace shell {
namespace {

constexpr std::size_t kPathMax = 1024;
// A copy moves this much per call, so that a mount's large transfers and its calls in flight
// carry it (a 16 KiB chunk held every copy to one line's worth of calls at a time).
constexpr int kCopyChunk = 1 << 20;
constexpr int kNewFileMode = 0644;
constexpr int kNewDirMode = 0755;

bool failed(const std::string &command, const std::string &path)
{
    const int error = errnoGet();
    reportError(command + ": " + path + ": errno = " + errnoText(error));
    const std::string hint = errnoHint("", error);
    if (!hint.empty())
        reportError("hint: " + hint);
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

// The device an absolute path that names no device of its own would be taken on (the current
// directory's, by the I/O system's rule), or "" for any other path.
std::string fallDevice(const std::string &typed)
{
    const char *tail = nullptr;
    if (typed.empty() || typed[0] != '/' || iosDevFind(typed.c_str(), &tail) != nullptr)
        return "";
    const std::string current = currentDirectory();
    if (iosDevFind(current.c_str(), &tail) == nullptr)
        return "";
    return current.substr(0, static_cast<std::size_t>(tail - current.c_str()));
}

// A command that changes files refuses a path that would fall on the current directory's
// device unawares (a mount that failed leaves its name to the host's files): it names the
// device, and -f makes it go on.
bool mayChange(const char *command, const std::string &typed, bool force)
{
    const std::string device = fallDevice(typed);
    if (device.empty() || force)
        return true;
    reportError(std::string(command) + ": " + typed + ": no device has this name; it would be taken on " +
                device + " (the current directory's device) as " + resolvePath(typed) +
                ": not done without -f");
    return false;
}

// A command that reads says which device it reads such a path on.
void noteRead(const char *command, const std::string &typed)
{
    const std::string device = fallDevice(typed);
    if (!device.empty())
        std::fprintf(stderr, "%s: %s: no device has this name: reading it on %s as %s\n", command,
                     typed.c_str(), device.c_str(), resolvePath(typed).c_str());
}

// Takes a leading -f (go on where a path falls on the current directory's device) off the words.
bool takeForce(Words *words)
{
    if (words->empty() || (*words)[0] != "-f")
        return false;
    words->erase(words->begin());
    return true;
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
    struct kstat st {};
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

bool list(const char *command, const std::string &typed, bool longForm)
{
    noteRead(command, typed);
    const std::string dir = resolvePath(typed.empty() ? "." : typed);
    struct kstat st {};
    if (!typed.empty() && kStat(dir.c_str(), &st) == 0 && (st.st_mode & K_S_IFMT) != K_S_IFDIR) {
        // A file lists itself, as ls does.
        const std::size_t cut = dir.find_last_of("/:");
        const std::string parent = cut == std::string::npos ? "" : dir.substr(0, cut + 1);
        if (longForm)
            printLong(parent, dir.substr(parent.size()).c_str());
        else
            std::printf("%s\n", typed.c_str());
        return true;
    }
    KDIR *stream = kOpendir(dir.c_str());
    if (stream == nullptr)
        return failed(command, dir);
    std::vector<std::string> names;
    errnoSet(0);
    while (struct kdirent *entry = kReaddir(stream)) {
        names.emplace_back(entry->d_name);
        if (interruptRequested())
            break;
    }
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
        return failed(command, dir);
    }
    return true;
}

// Shows a long copy's progress on a terminal, at most twice a second, and its byte count.
class Progress {
public:
    explicit Progress(bool shown) : shown_(shown && isatty(STDERR_FILENO) != 0) {}
    void add(uint64_t bytes)
    {
        done_ += bytes;
        const auto now = Clock::now();
        // A copy left in the background stays off the terminal: the prompt is the user's again.
        if (!shown_ || now - last_ < std::chrono::milliseconds(500) || callAbandoned())
            return;
        last_ = now;
        const double seconds = std::chrono::duration<double>(now - start_).count();
        std::fprintf(stderr, "\r%llu bytes, %.1f KiB/s ", static_cast<unsigned long long>(done_),
                     seconds > 0 ? static_cast<double>(done_) / 1024 / seconds : 0.0);
        line_ = true;
    }
    ~Progress() { finish(); }
    // Clears the progress line, so that what follows starts on a line of its own.
    void finish()
    {
        if (line_)
            std::fprintf(stderr, "\r%*s\r", 40, "");
        line_ = false;
    }
    Progress(const Progress &) = delete;
    Progress &operator=(const Progress &) = delete;
    uint64_t done() const { return done_; }

private:
    using Clock = std::chrono::steady_clock;
    bool shown_;
    bool line_ = false;
    uint64_t done_ = 0;
    Clock::time_point start_ = Clock::now();
    Clock::time_point last_ = start_;
};

// Copies from an open descriptor to another, or to standard output when to is -1.
bool copyData(const char *command, int from, int to, const std::string &source, const std::string &target,
              Progress &progress)
{
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        if (interruptRequested()) {
            // Left in the background, the shell has already said so.
            if (!callAbandoned())
                reportError(std::string(command) + ": interrupted");
            return false;
        }
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
        progress.add(static_cast<uint64_t>(got));
    }
}

bool printFile(const char *command, const std::string &source)
{
    noteRead(command, source);
    const std::string from = resolvePath(source);
    const int in = kOpen(from.c_str(), K_O_RDONLY, 0);
    if (in < 0)
        return failed(command, from);
    Progress none(false);
    const bool ok = copyData(command, in, -1, from, "", none);
    kClose(in);
    std::fflush(stdout);
    return ok;
}

bool isDirectory(const std::string &path)
{
    struct kstat st {};
    return kStat(path.c_str(), &st) == 0 && (st.st_mode & K_S_IFMT) == K_S_IFDIR;
}

std::string baseName(const std::string &path)
{
    const std::size_t cut = path.find_last_of("/:");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The same file by identity: device, file number, size and time (a file number may be cut
// to 32 bits, so it alone could match two files).
bool sameFile(const struct kstat &a, const struct kstat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_ino != 0 && a.st_size == b.st_size &&
           a.st_mtime == b.st_mtime;
}

// A name beside the destination that no other copy uses.
std::string temporaryNameFor(const std::string &target)
{
    static std::atomic<unsigned> serial{0};
    const std::size_t cut = target.find_last_of("/:");
    const std::string dir = cut == std::string::npos ? "" : target.substr(0, cut + 1);
    return dir + "." + baseName(target) + ".rtsh-" + std::to_string(getpid()) + "-" +
           std::to_string(serial++);
}

// Writes into PATH; errors name SHOWN, the destination as the user knows it (not the
// temporary name the copy goes through).
bool writeCopy(int in, const std::string &from, const std::string &path, const std::string &shown,
               Progress &progress)
{
    const int out = kOpen(path.c_str(), K_O_WRONLY | K_O_CREAT | K_O_TRUNC, kNewFileMode);
    if (out < 0)
        return failed("copy", shown);
    bool ok = copyData("copy", in, out, from, shown, progress);
    // The close writes cached data back: its failure is the copy's.
    if (kClose(out) != 0 && ok)
        ok = failed("copy", shown);
    return ok;
}

// Copies into a temporary name beside the destination and renames it over the destination
// at the end, so that a failed or interrupted copy leaves the destination as it was. A device
// that cannot rename gets the data written in place.
bool copyFile(const std::string &source, const std::string &target, bool force)
{
    noteRead("copy", source);
    if (!mayChange("copy", target, force))
        return false;
    const std::string from = resolvePath(source);
    std::string to = resolvePath(target);
    if (isDirectory(to))
        to = resolvePath(to + "/" + baseName(from));
    struct kstat fromStat {};
    struct kstat toStat {};
    // A missing source is that, even when both names are the same.
    if (kStat(from.c_str(), &fromStat) != 0)
        return failed("copy", from);
    const bool targetExists = kStat(to.c_str(), &toStat) == 0;
    if (from == to || (targetExists && sameFile(fromStat, toStat))) {
        reportError("copy: " + from + " and " + to + " are the same file");
        return false;
    }
    const int in = kOpen(from.c_str(), K_O_RDONLY, 0);
    if (in < 0)
        return failed("copy", from);
    Progress progress(true);
    const std::string temporary = temporaryNameFor(to);
    bool ok = writeCopy(in, from, temporary, to, progress);
    uint64_t copied = progress.done();
    if (ok && kRename(temporary.c_str(), to.c_str()) != 0) {
        const int why = errnoGet();
        kRemove(temporary.c_str());
        if (why != K_ENOTSUP) {
            errnoSet(why);
            kClose(in);
            return failed("copy", to);
        }
        Progress again(true);
        ok = kLseek(in, 0, K_SEEK_SET) == 0 && writeCopy(in, from, to, to, again);
        copied = again.done();
        again.finish();
    } else if (!ok) {
        kRemove(temporary.c_str());
    }
    kClose(in);
    progress.finish();
    if (ok)
        std::printf("%llu bytes copied\n", static_cast<unsigned long long>(copied));
    return ok;
}

} // namespace

std::string resolvePath(const std::string &typed)
{
    std::string full = typed;
    const char *tail = nullptr;
    DEV_HDR *device = iosDevFind(full.c_str(), &tail);
    if (device == nullptr && !typed.empty() && typed[0] == '/') {
        // An absolute path on no device of its own name: the default directory's device.
        const std::string current = currentDirectory();
        const DEV_HDR *currentDevice = iosDevFind(current.c_str(), &tail);
        if (currentDevice != nullptr)
            full = current.substr(0, static_cast<std::size_t>(tail - current.c_str())) + typed;
        device = iosDevFind(full.c_str(), &tail);
        if (device == nullptr)
            return typed;
    }
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
    while (rest.size() > 1 && rest.back() == '/')
        rest.pop_back();
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

// Options come before the paths: -l (long form), -a (every name; the listing shows them all
// anyway); "--" ends them.
bool cmdLs(const Words &words, Session &)
{
    bool longForm = false;
    std::vector<std::string> paths;
    bool options = true;
    for (const std::string &word : words) {
        if (options && word == "--") {
            options = false;
        } else if (options && word.size() > 1 && word[0] == '-') {
            for (std::size_t i = 1; i < word.size(); ++i) {
                if (word[i] == 'l')
                    longForm = true;
                else if (word[i] != 'a')
                    return usage("ls [-la] [path]");
            }
        } else {
            options = false;
            paths.push_back(word);
        }
    }
    if (paths.size() > 1)
        return usage("ls [-la] [path]");
    return list("ls", paths.empty() ? "" : paths[0], longForm);
}

bool cmdLl(const std::vector<std::string> &words, Session &)
{
    if (words.size() > 1)
        return usage("ll [path]");
    return list("ll", words.empty() ? "" : words[0], true);
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
    struct kstat st {};
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

bool cmdCat(const Words &words, Session &)
{
    if (words.empty())
        return usage("cat file ...");
    bool ok = true;
    for (const std::string &word : words)
        ok = printFile("cat", word) && ok;
    return ok;
}

// copy src dst, copy src (to standard output), copy < src, copy src > dst, copy < src > dst.
bool cmdCopy(const Words &typed, Session &)
{
    Words words = typed;
    const bool force = takeForce(&words);
    std::string source;
    std::string target;
    bool haveSource = false;
    bool haveTarget = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const bool redirect = words[i] == "<" || words[i] == ">";
        std::string &slot = words[i] == ">" || (!redirect && haveSource) ? target : source;
        bool &have = &slot == &target ? haveTarget : haveSource;
        if (redirect && ++i == words.size())
            return usage("copy src [dst], copy < src [> dst]");
        if (have)
            return usage("copy src [dst], copy < src [> dst]");
        slot = words[i];
        have = true;
    }
    if (!haveSource)
        return usage("copy src [dst], copy < src [> dst] (a source is needed)");
    return haveTarget ? copyFile(source, target, force) : printFile("copy", source);
}

bool cmdMkdir(const std::vector<std::string> &typed, Session &)
{
    Words words = typed;
    const bool force = takeForce(&words);
    if (words.size() != 1)
        return usage("mkdir [-f] path");
    if (!mayChange("mkdir", words[0], force))
        return false;
    const std::string path = resolvePath(words[0]);
    return kMkdir(path.c_str(), kNewDirMode) == 0 || failed("mkdir", path);
}

bool cmdRmdir(const std::vector<std::string> &typed, Session &)
{
    Words words = typed;
    const bool force = takeForce(&words);
    if (words.size() != 1)
        return usage("rmdir [-f] path");
    if (!mayChange("rmdir", words[0], force))
        return false;
    const std::string path = resolvePath(words[0]);
    return kRmdir(path.c_str()) == 0 || failed("rmdir", path);
}

bool cmdRm(const std::vector<std::string> &typed, Session &)
{
    Words words = typed;
    const bool force = takeForce(&words);
    if (words.empty())
        return usage("rm [-f] file ...");
    bool ok = true;
    for (const std::string &word : words) {
        if (!mayChange("rm", word, force)) {
            ok = false;
            continue;
        }
        const std::string path = resolvePath(word);
        if (kRemove(path.c_str()) != 0)
            ok = failed("rm", path);
    }
    return ok;
}

bool cmdMv(const std::vector<std::string> &typed, Session &)
{
    Words words = typed;
    const bool force = takeForce(&words);
    if (words.size() != 2)
        return usage("mv [-f] old new");
    if (!mayChange("mv", words[0], force) || !mayChange("mv", words[1], force))
        return false;
    const std::string from = resolvePath(words[0]);
    const std::string to = resolvePath(words[1]);
    return kRename(from.c_str(), to.c_str()) == 0 || failed("mv", from);
}

bool cmdStat(const Words &words, Session &)
{
    if (words.size() != 1)
        return usage("stat path");
    noteRead("stat", words[0]);
    const std::string path = resolvePath(words[0]);
    struct kstat st {};
    if (kStat(path.c_str(), &st) != 0)
        return failed("stat", path);
    std::array<char, 32> when{};
    const auto mtime = static_cast<time_t>(st.st_mtime);
    tm parts{};
    if (gmtime_r(&mtime, &parts) != nullptr)
        std::strftime(when.data(), when.size(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    std::printf("  file: %s\n  size: %llu  blocks: %u  block size: %u  %s\n"
                "  file number: %u  links: %u  mode: %04o  user: %u  group: %u\n  modified: %s\n",
                path.c_str(), static_cast<unsigned long long>(st.st_size), st.st_blocks, st.st_blksize,
                modeText(st.st_mode).c_str(), st.st_ino, st.st_nlink, st.st_mode & 07777u,
                unsigned{st.st_uid}, unsigned{st.st_gid}, when.data());
    return true;
}

bool cmdDf(const Words &words, Session &)
{
    if (words.size() > 1)
        return usage("df [path]");
    if (!words.empty())
        noteRead("df", words[0]);
    const std::string path = resolvePath(words.empty() ? "." : words[0]);
    struct kstatfs fs {};
    if (kStatfs(path.c_str(), &fs) != 0)
        return failed("df", path);
    const auto kib = [&fs](uint32_t blocks) {
        return static_cast<unsigned long long>(blocks) * static_cast<unsigned>(std::max(fs.f_bsize, 0)) /
               1024;
    };
    std::printf("%-24s %12s %12s %12s %10s %10s\n", "device", "KiB", "free KiB", "avail KiB", "files",
                "free files");
    std::printf("%-24s %12llu %12llu %12llu %10u %10u\n", path.c_str(), kib(fs.f_blocks), kib(fs.f_bfree),
                kib(fs.f_bavail), fs.f_files, fs.f_ffree);
    return true;
}

// Makes the files that do not exist and sets an existing file's times to now (on a device
// that cannot set times, touching an existing file fails with the device's error).
bool cmdTouch(const Words &typed, Session &)
{
    Words words = typed;
    const bool force = takeForce(&words);
    if (words.empty())
        return usage("touch [-f] file ...");
    bool ok = true;
    for (const std::string &word : words) {
        if (!mayChange("touch", word, force)) {
            ok = false;
            continue;
        }
        const std::string path = resolvePath(word);
        struct kstat st {};
        if (kStat(path.c_str(), &st) == 0) {
            if (kUtime(path.c_str(), nullptr) != 0)
                ok = failed("touch", path);
            continue;
        }
        const int fd = kOpen(path.c_str(), K_O_WRONLY | K_O_CREAT, kNewFileMode);
        if (fd < 0 || kClose(fd) != 0)
            ok = failed("touch", path);
    }
    return ok;
}

// The mode is octal, as users type it (644, 0755, 4755): one to four digits, no sign.
bool cmdChmod(const Words &typed, Session &)
{
    Words words = typed;
    const bool force = takeForce(&words);
    if (words.size() < 2)
        return usage("chmod [-f] mode path ...");
    const std::string &text = words[0];
    const bool octal =
        !text.empty() && text.size() <= 5 && text.find_first_not_of("01234567") == std::string::npos;
    const unsigned long mode = octal ? std::stoul(text, nullptr, 8) : 0;
    if (!octal || mode > 07777) {
        reportError("chmod: " + text + ": not an octal mode from 0 to 7777");
        return false;
    }
    bool ok = true;
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (!mayChange("chmod", words[i], force)) {
            ok = false;
            continue;
        }
        const std::string path = resolvePath(words[i]);
        if (kChmod(path.c_str(), static_cast<int>(mode)) != 0)
            ok = failed("chmod", path);
    }
    return ok;
}

// ln existing new: a further name for the file. ln -s target name: a symbolic link holding
// target as typed (never resolved against the current directory, as a link's text is
// read from the link's own folder).
bool cmdLn(const Words &words, Session &)
{
    constexpr const char *kUsage = "ln [-f] [-s] target name";
    bool symbolic = false;
    bool force = false;
    std::vector<std::string> names;
    bool options = true;
    for (const std::string &word : words) {
        if (options && word == "--") {
            options = false;
        } else if (options && word.size() > 1 && word[0] == '-') {
            if (word != "-s" && word != "-f" && word != "-sf" && word != "-fs")
                return usage(kUsage);
            symbolic = symbolic || word != "-f";
            force = force || word != "-s";
        } else {
            options = false;
            names.push_back(word);
        }
    }
    if (names.size() != 2)
        return usage(kUsage);
    if (!mayChange("ln", names[1], force))
        return false;
    const std::string name = resolvePath(names[1]);
    if (symbolic)
        return kSymlink(names[0].c_str(), name.c_str()) == 0 || failed("ln", name);
    const std::string existing = resolvePath(names[0]);
    return kLink(existing.c_str(), name.c_str()) == 0 || failed("ln", existing + " to " + name);
}

bool cmdReadlink(const Words &words, Session &)
{
    if (words.size() != 1)
        return usage("readlink path");
    noteRead("readlink", words[0]);
    const std::string path = resolvePath(words[0]);
    std::array<char, kPathMax + 1> text{};
    const int length = kReadlink(path.c_str(), text.data(), text.size());
    if (length < 0)
        return failed("readlink", path);
    std::printf("%.*s\n", length, text.data());
    return true;
}

namespace {

// The other task's side of `lock`: what K_F_GETLK reports over the range, and whether its own
// K_F_SETLK of a write lock there is granted (then released) or refused.
struct OtherTask {
    int opened = -1;
    int getErrno = 0;
    kflock seen{};
    int setResult = -1;
    int setErrno = 0;
};

OtherTask askFromAnotherTask(const std::string &path, int64_t start, int64_t length)
{
    OtherTask other;
    std::thread task([&] {
        const int fd = kOpen(path.c_str(), K_O_RDWR, 0);
        other.opened = fd;
        if (fd < 0) {
            other.getErrno = errnoGet();
            return;
        }
        other.seen = kflock{K_F_WRLCK, K_SEEK_SET, start, length, 0};
        if (kFcntl(fd, K_F_GETLK, &other.seen) != 0)
            other.getErrno = errnoGet();
        kflock want{K_F_WRLCK, K_SEEK_SET, start, length, 0};
        other.setResult = kFcntl(fd, K_F_SETLK, &want);
        other.setErrno = other.setResult == 0 ? 0 : errnoGet();
        kClose(fd); // releases what it took
    });
    task.join();
    return other;
}

std::string rangeText(int64_t start, int64_t length)
{
    return "bytes " + std::to_string(start) + (length == 0 ? " to the end" : " to " + std::to_string(start + length - 1));
}

void printOther(const OtherTask &other)
{
    if (other.opened < 0) {
        std::printf("  another task cannot open the file: errno = %s\n", errnoText(other.getErrno).c_str());
        return;
    }
    if (other.getErrno != 0)
        std::printf("  another task's K_F_GETLK: errno = %s\n", errnoText(other.getErrno).c_str());
    else if (other.seen.l_type == K_F_UNLCK)
        std::printf("  another task's K_F_GETLK: nothing in the way\n");
    else
        std::printf("  another task's K_F_GETLK: a %s lock on %s\n", other.seen.l_type == K_F_WRLCK ? "write" : "read",
                    rangeText(other.seen.l_start, other.seen.l_len).c_str());
    if (other.setResult == 0)
        std::printf("  another task's K_F_SETLK of a write lock: granted\n");
    else
        std::printf("  another task's K_F_SETLK of a write lock: refused, errno = %s\n",
                    errnoText(other.setErrno).c_str());
}

} // namespace

// Takes a record lock (write, or read with -r) on a range of a file, shows what another task
// meets while it is held and after it is released: a look at a device's record locks.
bool cmdLock(const Words &typed, Session &)
{
    Words words = typed;
    const bool read = !words.empty() && words[0] == "-r";
    if (read)
        words.erase(words.begin());
    if (words.empty() || words.size() > 3)
        return usage("lock [-r] file [start [length]]");
    int64_t start = 0;
    int64_t length = 0;
    try {
        start = words.size() > 1 ? std::stoll(words[1]) : 0;
        length = words.size() > 2 ? std::stoll(words[2]) : 0;
    } catch (const std::exception &) {
        return usage("lock [-r] file [start [length]]");
    }
    if (start < 0 || length < 0)
        return usage("lock [-r] file [start [length]]");
    noteRead("lock", words[0]);
    const std::string path = resolvePath(words[0]);
    const int fd = kOpen(path.c_str(), read ? K_O_RDONLY : K_O_RDWR, 0);
    if (fd < 0)
        return failed("lock", path);
    kflock mine{static_cast<int16_t>(read ? K_F_RDLCK : K_F_WRLCK), K_SEEK_SET, start, length, 0};
    if (kFcntl(fd, K_F_SETLK, &mine) != 0) {
        const bool ok = failed("lock", path);
        kClose(fd);
        return ok;
    }
    std::printf("%s: a %s lock on %s, held by this task\n", path.c_str(), read ? "read" : "write",
                rangeText(start, length).c_str());
    printOther(askFromAnotherTask(path, start, length));
    kflock release{K_F_UNLCK, K_SEEK_SET, start, length, 0};
    const bool released = kFcntl(fd, K_F_SETLK, &release) == 0 || failed("lock", path);
    if (kClose(fd) != 0)
        return failed("lock", path);
    if (!released)
        return false;
    std::printf("%s: released\n", path.c_str());
    printOther(askFromAnotherTask(path, start, length));
    return true;
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
