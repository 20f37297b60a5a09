// Calls, words and bad input, through scripts on the shell's standard input.
#include "shellRun.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <cstring>
#include <ctime>

namespace {

std::string context(const ShellRun &run)
{
    return "stdout:\n" + run.out + "\nstderr:\n" + run.err;
}

TEST(ShellCall, ArgumentsAndResultsKeepTheirTypes)
{
    TempDir dir;
    writeWhole(dir.path / "data", std::string(16, 'x'));
    const ShellRun run = runShell("ld < quenby\n"
                                  "setNDVal 3, 2.5\n"
                                  "getNDVal(3)\n"
                                  "setNDVal 4, -7\n" // an integer for a double
                                  "getNDVal 4\n"
                                  "setNIVal 1, 0xfffffffe\n" // the unsigned spelling of -2
                                  "getNIVal 1\n"
                                  "setNIVal 2, 'A'\n"
                                  "getNIVal 2\n"
                                  "setNIVal 3, 017\n"
                                  "getNIVal 3\n"
                                  "fd = kOpen \"host:" +
                                      (dir.path / "data").string() +
                                      "\", 2, 0\n"
                                      "kLseek fd, 0x100000000, 0\n" // 64-bit argument and result
                                      "kClose fd\n"
                                      "setAVal 0, \"a\\tb\\\"c\\x41\\101\", 7\n"
                                      "d avalues, 7, 1\n"
                                      "icount = 0x0a434241\n"
                                      "kWrite 1, &icount, 4\n" // a word's address
                                      "sntpcPort\n",
                                  "-q -l tovelle");
    ASSERT_EQ(run.status, 0) << context(run);
    for (const char *expected :
         {"value = 2.5\n", "value = -7\n", "value = -2 = 0xfffffffe\n", "value = 65 = 0x41\n",
          "value = 15 = 0xf\n", "value = 4294967296 = 0x100000000\n", " 61 09 62 22 63 41 41  *a.b\"cAA*",
          "ABC\nvalue = 4 = 0x4\n", "value = 123 = 0x7b\n"})
        EXPECT_NE(run.out.find(expected), std::string::npos) << expected << "\n" << context(run);
}

TEST(ShellCall, NumbersInEveryNotation)
{
    const struct {
        const char *value;
        const char *shown;
    } cases[] = {
        {"42", "value = 42 = 0x2a"},
        {"-42", "value = -42 = 0xffffffffffffffd6"},
        {"0x2A", "value = 42 = 0x2a"},
        {"052", "value = 42 = 0x2a"},
        {"0", "value = 0 = 0x0"},
        {"'*'", "value = 42 = 0x2a"},
        {"'\\n'", "value = 10 = 0xa"},
        {"'\\x2a'", "value = 42 = 0x2a"},
        {"'\\052'", "value = 42 = 0x2a"},
        {"0xffffffffffffffff", "value = -1 = 0xffffffffffffffff"},
        {"-0x8000000000000000", "value = -9223372036854775808 = 0x8000000000000000"},
        {"2.5e3", "value = 2500"},
        {"-.5", "value = -0.5"},
        {"0x200|2", "value = 514 = 0x202"},
        {"K_O_CREAT | K_O_RDWR", "value = 514 = 0x202"},
        {"(1 << 4) - 1 ^ 3", "value = 12 = 0xc"},
        {"-7 / 2", "value = -3 = 0xfffffffffffffffd"},
        {"~0x0f & 0xff", "value = 240 = 0xf0"},
        {"!0 + !5", "value = 1 = 0x1"},
        {"1.5 * 2", "value = 3"},
        {"1 - 2", "value = -1 = 0xffffffffffffffff"},
        {"0xffffffffffffffff >> 60", "value = 15 = 0xf"},
    };
    std::string script;
    for (const auto &c : cases)
        script += std::string("x = ") + c.value + "\n";
    const ShellRun run = runShell(script, "-q");
    ASSERT_EQ(run.status, 0) << context(run);
    std::size_t at = 0;
    for (const auto &c : cases) {
        const std::size_t found = run.out.find(std::string("x (shell variable): ") + c.shown + "\n", at);
        EXPECT_NE(found, std::string::npos) << c.value << "\n" << context(run);
        at = found == std::string::npos ? at : found + 1;
    }
    for (const char *bad : {"x = 08", "x = 0x", "x = 1.2.3", "x = ''", "x = 'ab'", "x = -0x8000000000000001",
                            "x = 1 / 0", "x = 1 << 64", "x = 2.5 | 1", "x = &K_O_RDWR"}) {
        const ShellRun refused = runShell(std::string(bad) + "\n", "-q");
        EXPECT_EQ(refused.status, 1) << bad << "\n" << context(refused);
    }
}

// A routine that no public header declares takes and returns pointer-wide integers; the
// host's C library is not the shell's to call.
TEST(ShellCall, RoutinesWithoutPrototypeAndModuleLoading)
{
    const ShellRun run = runShell("shellTestWide\nld < quenby\nld < libquenby.so\n"
                                  "lkup \"nIvAl\"\nshellTestWide 2.5\n",
                                  "-k -q -l shelltest");
    EXPECT_EQ(run.status, 1) << context(run);
    const auto wide = static_cast<unsigned long long>(INTPTR_MAX / 3);
    EXPECT_NE(run.out.find("value = " + std::to_string(wide) + " = 0x2aaaaaaa"), std::string::npos)
        << context(run);
    EXPECT_NE(run.err.find("ld: already loaded: "), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("getNIVal "), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("setNIVal "), std::string::npos) << context(run);
    EXPECT_NE(run.err.find("shellTestWide has no known prototype"), std::string::npos) << context(run);
    for (const char *host : {"remove \"/tmp/x\"", "open \"/etc/hostname\", 0, 0", "x = malloc 16",
                             "system \"true\"", "printf \"%d\", 1"}) {
        const ShellRun refused = runShell(std::string(host) + "\n", "-q");
        EXPECT_EQ(refused.status, 1) << host << "\n" << context(refused);
        EXPECT_NE(refused.err.find("unknown name"), std::string::npos) << host << "\n" << context(refused);
    }
    const ShellRun listed = runShell("lkup\n", "-q");
    for (const char *host : {"\nmalloc ", "\nprintf ", "\nremove "})
        EXPECT_EQ(listed.out.find(host), std::string::npos) << host;
}

TEST(ShellCall, WordsAreReadAndSetWithTheirWidth)
{
    const ShellRun run = runShell("sntpcPort = 0x1234\nsntpcPort\ns = \"text\"\ns\nx = getNIVal 5\nx\n",
                                  "-q -l tovelle -l quenby");
    ASSERT_EQ(run.status, 0) << context(run);
    EXPECT_NE(run.out.find("sntpcPort = 0x"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find(": value = 4660 = 0x1234\n"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("= \"text\"\n"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("x (shell variable): value = 0 = 0x0\n"), std::string::npos) << context(run);
}

// Each line is refused with a message, the script stops there, and the shell does not crash.
TEST(ShellCall, BadInputIsRefusedWithoutCalling)
{
    const struct {
        const char *line;
        const char *message;
    } cases[] = {
        {"noSuchRoutine 1", "unknown name: noSuchRoutine"},
        {"setNIVal 1,2,3,4,5,6,7,8,9,10,11", "too many arguments"},
        {"setNIVal 1,2,3", "setNIVal takes 2 arguments, not 3"},
        {"hostAdd \"abc", "unterminated string"},
        {"hostAdd \"a\\qb\", \"1.2.3.4\"", "unknown escape"},
        {"setNIVal 1, 4294967296", "number out of range for int"},
        {"setNIVal 1, 99999999999999999999999", "number out of range"},
        {"sntpcPort = 65536", "number out of range for 16-bit unsigned"},
        {"setNIVal 1.5, 2", "a floating-point number where an integer"},
        {"kStat \"host:/\"", "argument 2 (pointer) is missing"},
        {"getAVal 1", "argument 2 (char *) is missing"},
        {"icount 3", "icount is a word, not a routine"},
        {"setNIVal = 3", "setNIVal is a routine, not a word"},
        {"setNIVal (1, 2", "missing ')'"},
        {"42", "a command starts with a name"},
        {"d 0", "non-null address"},
        {"d 8, 4", "cannot be read"},
        {"ld < noSuchModule", "no module noSuchModule"},
    };
    for (const auto &c : cases) {
        const ShellRun run =
            runShell(std::string("ld < quenby\n") + c.line + "\necho not reached\n", "-l tovelle");
        EXPECT_EQ(run.status, 1) << c.line << "\n" << context(run);
        EXPECT_NE(run.err.find(c.message), std::string::npos) << c.line << "\n" << context(run);
        EXPECT_NE(run.err.find("rtsh: stdin:2: failed: "), std::string::npos) << c.line << "\n"
                                                                              << context(run);
        EXPECT_EQ(run.out.find("not reached\n"), std::string::npos) << c.line;
    }
}

TEST(ShellCall, FailingRoutineShowsTheErrorNumberByName)
{
    const struct {
        const char *line;
        const char *shown;
    } cases[] = {
        {"kOpen \"host:/no/such/file\", 0, 0", "errno = 0x2 (K_ENOENT)"},
        {"nfsExportShow 0", "errno = 0x320003 (NFS_ERR_NO_HOST or K_HOST_INVALID_PARAMETER)"},
        {"nfsErrnoSet 2; errnoGet; kClose -1", "errno = 0x9 (K_EBADF)"},
        {"rpcClntErrnoSet 5; x = errnoGet", "value = 4587525 = 0x460005"},
        // A version 4 status under its own name, unless version 3 names the same status alike.
        {"printErrno 0x30271a", "errno = 0x30271a (NFS4ERR_DENIED)\n"},
        {"printErrno 0x302718", "errno = 0x302718 (NFS3ERR_JUKEBOX or NFS4ERR_DELAY)\n"},
        {"printErrno 0x300002", "errno = 0x300002 (NFS3ERR_NOENT)\n"},
        {"printErrno 0x302711", "errno = 0x302711 (NFS3ERR_BADHANDLE)\n"},
    };
    for (const auto &c : cases) {
        const ShellRun run = runShell(std::string(c.line) + "\n", "-k -l brisnel");
        EXPECT_NE(run.out.find(c.shown), std::string::npos) << c.line << "\n" << context(run);
    }
}

TEST(ShellScript, StopsAtTheFirstFailureUnlessToldToGoOn)
{
    const std::string script = "echo one\n\n# a comment\nnoSuch\necho two; echo three\n";
    const ShellRun stopped = runShell(script);
    EXPECT_EQ(stopped.status, 1);
    EXPECT_EQ(stopped.out, "-> echo one\none\n-> noSuch\n");
    EXPECT_NE(stopped.err.find("rtsh: stdin:4: failed: noSuch"), std::string::npos) << stopped.err;

    const ShellRun goesOn = runShell(script, "-k -q");
    EXPECT_EQ(goesOn.status, 1);
    EXPECT_EQ(goesOn.out, "one\ntwo\nthree\n");

    const ShellRun oneLiner = runShell("", "-q -c 'echo a; exit 4; echo b'");
    EXPECT_EQ(oneLiner.status, 4);
    EXPECT_EQ(oneLiner.out, "a\n");

    TempDir dir;
    writeWhole(dir.path / "script", "echo from a file\nnoSuch\n");
    const ShellRun fromFile = runShell("", "-f '" + (dir.path / "script").string() + "'");
    EXPECT_EQ(fromFile.status, 1);
    EXPECT_NE(fromFile.err.find(":2: failed: noSuch"), std::string::npos) << fromFile.err;
}

TEST(ShellFiles, CommandsWorkThroughTheIoSystem)
{
    TempDir dir;
    writeWhole(dir.path / "a.txt", "alpha\n");
    const std::string host = "host:" + dir.path.string();
    const ShellRun run = runShell("cd \"" + host +
                                      "\"\npwd\nmkdir sub\ncopy a.txt sub/b.txt\nmv sub/b.txt c.txt\n"
                                      "ls\nll sub\ncat c.txt\nrm a.txt\nrmdir sub\ncd ..\ncat nothing\n",
                                  "-q");
    EXPECT_EQ(run.status, 1) << context(run);
    EXPECT_NE(run.out.find(host + "\n"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("a.txt\nc.txt\nsub\n"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("alpha\n"), std::string::npos) << context(run);
    EXPECT_NE(run.err.find("cat: host:" + (dir.path.parent_path() / "nothing").string() +
                           ": errno = 0x2 (K_ENOENT)"),
              std::string::npos)
        << context(run);
    EXPECT_EQ(readWhole(dir.path / "c.txt"), "alpha\n");
    EXPECT_FALSE(std::filesystem::exists(dir.path / "a.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir.path / "sub"));
}

// The shell's own parse of what users typed, and copy's refusals, on the host device.
TEST(ShellFiles, WordsOptionsAndSafeCopies)
{
    TempDir dir;
    writeWhole(dir.path / "a.txt", "alpha\n");
    std::filesystem::create_directory(dir.path / "sub");
    const std::string host = "host:" + dir.path.string();
    const ShellRun run = runShell("cd \"" + host +
                                      "/sub\"\ncd \"..\"\npwd\n"
                                      "copy a.txt a.txt\ncopy a.txt ../" +
                                      dir.path.filename().string() +
                                      "/a.txt\n"
                                      "copy a.txt sub\ncopy > b\nls -l a.txt\nls -la sub\ncat it's; pwd\n"
                                      "touch t.txt\nstat a.txt\ndf\ncd /\npwd\n",
                                  "-k -q");
    EXPECT_EQ(run.status, 1) << context(run);
    EXPECT_NE(run.out.find(host + "\n"), std::string::npos) << context(run); // no trailing slash
    EXPECT_NE(run.err.find("copy: " + host + "/a.txt and " + host +
                           "/a.txt are the same file\n"
                           "rtsh: stdin:4: failed: copy a.txt a.txt\n"),
              std::string::npos)
        << context(run);
    EXPECT_NE(run.err.find("are the same file\nrtsh: stdin:5: failed:"), std::string::npos) << context(run);
    EXPECT_EQ(readWhole(dir.path / "a.txt"), "alpha\n");
    EXPECT_EQ(readWhole(dir.path / "sub" / "a.txt"), "alpha\n"); // into a folder: the source's name
    EXPECT_NE(run.out.find("6 bytes copied\n"), std::string::npos) << context(run);
    EXPECT_NE(run.err.find("a source is needed"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("-rw"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find(" a.txt\n"), std::string::npos) << context(run);
    EXPECT_NE(run.err.find("cat: " + host + "/it's: errno = 0x2 (K_ENOENT)"), std::string::npos)
        << context(run);
    EXPECT_NE(run.out.find("  size: 6 "), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("free KiB"), std::string::npos) << context(run);
    EXPECT_TRUE(std::filesystem::exists(dir.path / "t.txt"));
    EXPECT_NE(run.out.find("\nhost:/\n"), std::string::npos) << context(run);
    for (const auto &entry : std::filesystem::directory_iterator(dir.path))
        EXPECT_EQ(entry.path().filename().string().find(".rtsh-"), std::string::npos) << entry.path();
}

// chmod, ln, ln -s, touch and readlink on the host device, each checked with the host's own
// calls; refusals name the error.
TEST(ShellFiles, ModesLinksAndTimesOnTheHostDevice)
{
    TempDir dir;
    const std::filesystem::path d = dir.path;
    writeWhole(d / "a.txt", "alpha\n");
    writeWhole(d / "old.txt", "old\n");
    const struct timespec longAgo[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (d / "old.txt").c_str(), longAgo, 0), 0);
    const ShellRun run =
        runShell("cd \"host:" + d.string() +
                     "\"\n"
                     "chmod 640 old.txt\nchmod 0755 missing.txt a.txt\nln a.txt hard.txt\n"
                     "ln -s ../x/a.txt soft\nreadlink soft\ntouch old.txt new.txt\n"
                     "chmod 8 a.txt\nchmod u+x a.txt\nchmod 10000 a.txt\nln -s a.txt\nln -f a b\n"
                     "ln a.txt hard.txt\nreadlink a.txt\nln nothing other\n",
                 "-k -q");
    EXPECT_EQ(run.status, 1) << context(run);
    struct stat st {};
    ASSERT_EQ(::stat((d / "hard.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0755u) << "a failing path does not stop the next";
    EXPECT_EQ(st.st_nlink, 2u);
    struct stat original {};
    ASSERT_EQ(::stat((d / "a.txt").c_str(), &original), 0);
    EXPECT_EQ(st.st_ino, original.st_ino);
    std::array<char, 64> link{};
    const ssize_t length = ::readlink((d / "soft").c_str(), link.data(), link.size());
    EXPECT_EQ(std::string(link.data(), length > 0 ? static_cast<std::size_t>(length) : 0), "../x/a.txt");
    EXPECT_NE(run.out.find("../x/a.txt\n"), std::string::npos) << context(run);
    ASSERT_EQ(::stat((d / "old.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_LT(std::llabs(static_cast<long long>(st.st_mtime) - static_cast<long long>(std::time(nullptr))),
              60);
    EXPECT_EQ(readWhole(d / "old.txt"), "old\n");
    EXPECT_EQ(readWhole(d / "new.txt"), "");
    const std::string host = "host:" + d.string();
    for (const std::string &expected : std::vector<std::string>{
             "chmod: " + host + "/missing.txt: errno = 0x2 (K_ENOENT)\n", "chmod: 8: not an octal mode",
             "chmod: u+x: not an octal mode", "chmod: 10000: not an octal mode",
             "usage: ln [-f] [-s] target name\n",
             "ln: " + host + "/a.txt to " + host + "/hard.txt: errno = 0x11 (K_EEXIST)\n",
             "readlink: " + host + "/a.txt: errno = 0x16 (K_EINVAL)\n",
             "ln: " + host + "/nothing to " + host + "/other: errno = 0x2 (K_ENOENT)\n"})
        EXPECT_NE(run.err.find(expected), std::string::npos) << expected << "\n" << context(run);
}

// lock on the host device: the range held by the command's task is refused to another task and
// named by its K_F_GETLK, then granted once released; bad ranges and missing files are refused.
TEST(ShellFiles, LockShowsAnotherTaskMeetingTheRange)
{
    TempDir dir;
    const std::filesystem::path d = dir.path;
    writeWhole(d / "a.txt", "alpha beta gamma\n");
    const ShellRun run = runShell("cd \"host:" + d.string() +
                                      "\"\nlock a.txt 2 10\nlock -r a.txt\nlock a.txt -1\nlock a.txt x\nlock nope.txt\n",
                                  "-k -q");
    EXPECT_EQ(run.status, 1) << context(run);
    const std::string host = "host:" + d.string() + "/";
    for (const std::string &expected : std::vector<std::string>{
             host + "a.txt: a write lock on bytes 2 to 11, held by this task\n"
                    "  another task's K_F_GETLK: a write lock on bytes 2 to 11\n"
                    "  another task's K_F_SETLK of a write lock: refused, errno = 0xb (K_EAGAIN)\n" +
                 host + "a.txt: released\n  another task's K_F_GETLK: nothing in the way\n"
                        "  another task's K_F_SETLK of a write lock: granted\n",
             host + "a.txt: a read lock on bytes 0 to the end, held by this task\n"
                    "  another task's K_F_GETLK: a read lock on bytes 0 to the end\n"})
        EXPECT_NE(run.out.find(expected), std::string::npos) << context(run);
    for (const std::string &expected :
         {std::string("usage: lock [-r] file [start [length]]"), "lock: " + host + "nope.txt: errno = 0x2 (K_ENOENT)"})
        EXPECT_NE(run.err.find(expected), std::string::npos) << context(run);
    EXPECT_EQ(readWhole(d / "a.txt"), "alpha beta gamma\n");
}

// A routine that faults stops the call task, not the shell; the next command runs.
TEST(ShellTask, FaultStopsTheTaskNotTheShell)
{
    const ShellRun run = runShell("x = 5\nshellTestNull\nx\nshellTestAbort\nkClose -1\nprintErrno\n"
                                  "printErrno 0x300002\nh\ni\n",
                                  "-k -q -l shelltest");
    EXPECT_EQ(run.status, 1) << context(run);
    EXPECT_NE(run.err.find("rtsh: SIGSEGV (segmentation fault) in shellTestNull at address 0x0"),
              std::string::npos)
        << context(run);
    EXPECT_NE(run.err.find("rtsh: SIGABRT (abort) in shellTestAbort"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("x (shell variable): value = 5 = 0x5\nx (shell variable): value = 5 = 0x5\n"),
              std::string::npos)
        << context(run);
    EXPECT_NE(
        run.out.find("errno = 0x9 (K_EBADF)\nerrno = 0x9 (K_EBADF)\nerrno = 0x300002 (NFS3ERR_NOENT)\n"),
        std::string::npos)
        << context(run);
    EXPECT_NE(run.out.find("   4  shellTestAbort\n"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("  tShellCall "), std::string::npos) << context(run); // the call task, in i
    // At the end, a loaded module's nfsSyncAll writes everything back, once.
    EXPECT_EQ(run.out.find("nfsSyncAll called\n"), run.out.size() - std::strlen("nfsSyncAll called\n"))
        << context(run);
}

TEST(ShellScript, HelpAndOptions)
{
    const ShellRun help = runShell("", "--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("usage: rtsh"), std::string::npos) << context(help);
    const ShellRun twice = runShell("", "-q -c 'echo one' -c 'echo two'");
    EXPECT_EQ(twice.out, "one\ntwo\n") << context(twice);
    const ShellRun names = runShell("help kOpen\nhelp cd\nversion\nhelp kLseek\n", "-q");
    EXPECT_NE(names.out.find("int kOpen(const char *path, int flags, int mode)\n"), std::string::npos)
        << context(names);
    EXPECT_NE(names.out.find("int64_t kLseek(int fd, int64_t offset, int whence)\n    Positions through the "
                             "64-bit seek codes;"),
              std::string::npos)
        << context(names);
    EXPECT_NE(names.out.find("cd path "), std::string::npos) << context(names);
    EXPECT_NE(names.out.find("rtsh "), std::string::npos) << context(names);
}

// An absolute path that names no device falls on the current directory's device: the commands
// that change files refuse it without -f, naming the device; the reading ones say where they read.
// Also: copy's errors name the destination typed, ls -l's are ls's, a missing source is missing
// even when copied onto itself, and loading a module leaves the shell where it started.
TEST(ShellFiles, PathsOnNoDeviceAreNotChangedUnawares)
{
    TempDir dir;
    const std::filesystem::path d = dir.path;
    writeWhole(d / "a.txt", "alpha\n");
    const std::string bare = d.string(); // absolute, and no device has its name
    const std::string host = "host:" + bare;
    const ShellRun run = runShell("cd \"" + host + "\"\n" + "rm " + bare + "/a.txt\ncopy a.txt " + bare +
                                      "/b.txt\nmkdir " + bare + "/sub\ntouch " + bare + "/t\nmv a.txt " +
                                      bare + "/c.txt\ncat " + bare + "/a.txt\ncopy -f a.txt " + bare +
                                      "/b.txt\ncopy a.txt nodir/x.txt\nls -l nodir\ncopy gone gone\nrm -f " +
                                      bare + "/a.txt\n",
                                  "-k -q");
    EXPECT_EQ(run.status, 1) << context(run);
    for (const char *command : {"rm", "copy", "mkdir", "touch", "mv"})
        EXPECT_NE(run.err.find(std::string(command) + ": " + bare + "/"), std::string::npos) << command;
    EXPECT_NE(run.err.find(
                  "no device has this name; it would be taken on host: (the current directory's device) as " +
                  host + "/a.txt: not done without -f"),
              std::string::npos)
        << context(run);
    EXPECT_NE(run.err.find("cat: " + bare + "/a.txt: no device has this name: reading it on host: as " +
                           host + "/a.txt\n"),
              std::string::npos)
        << context(run);
    EXPECT_NE(run.out.find("alpha\n"), std::string::npos) << context(run);
    EXPECT_NE(run.err.find("copy: " + host + "/nodir/x.txt: errno = 0x2 (K_ENOENT)\n"), std::string::npos)
        << context(run);
    EXPECT_NE(run.err.find("ls: " + host + "/nodir: errno = 0x2"), std::string::npos) << context(run);
    EXPECT_NE(run.err.find("copy: " + host + "/gone: errno = 0x2 (K_ENOENT)\n"), std::string::npos)
        << context(run);
    EXPECT_FALSE(std::filesystem::exists(d / "a.txt")) << "rm -f goes on";
    EXPECT_EQ(readWhole(d / "b.txt"), "alpha\n") << "copy -f goes on";
    for (const char *name : {"sub", "t", "c.txt"})
        EXPECT_FALSE(std::filesystem::exists(d / name)) << name;

    const ShellRun started = runShell("pwd\nnetHelp\nhelp nfsAuthUnixSet\nnfsTimeoutSec = 1\n"
                                      "nfsMount \"127.0.0.93\",\"/nope\",\"/fb\"\n",
                                      "-q -l brisnel");
    EXPECT_NE(started.out.find("host:" + std::filesystem::current_path().string() + "\n"), std::string::npos)
        << context(started);
    EXPECT_NE(started.out.find("hostShow "), std::string::npos) << context(started);
    EXPECT_NE(started.out.find("int nGroups, const int *groups)"), std::string::npos) << context(started);
    // A failed mount says what to do.
    EXPECT_NE(started.out.find("\nhint: The server did not answer within 1 s"), std::string::npos)
        << context(started);
}

} // namespace
