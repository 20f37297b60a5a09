// Scripts against the real peers: a mount of the local nfs-ganesha export, checked in the
// exported folder, and the time from chrony.
#include "shellTerminal.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <array>

namespace {

std::string env(const char *name)
{
    const char *value = std::getenv(name);
    return value == nullptr ? "" : value;
}

std::string context(const ShellRun &run)
{
    return "stdout:\n" + run.out + "\nstderr:\n" + run.err;
}

TEST(LiveShell, ScriptMountsCopiesInAndOutAndRemoves)
{
    if (env("RT_NFS_HOST").empty())
        GTEST_SKIP() << "needs the NFS peers (with-nfs-peers.sh)";
    const std::filesystem::path exported = env("RT_NFS_EXPORT_DIR");
    TempDir local;
    std::string payload;
    for (int i = 0; i < 5000; ++i) // more than one cache line, not a multiple of one
        payload += "line " + std::to_string(i) + " of the file copied in\n";
    writeWhole(local.path / "in.txt", payload);
    writeWhole(exported / "served.txt", "written on the server\n");
    const std::string host = "host:" + local.path.string();
    const ShellRun run =
        runShell("nfs3Drv\nnfs3CacheParamsSet 16, 16384, 0\n" // until the module's start-up does this
                 "nfsMount \"" +
                     env("RT_NFS_HOST") + "\", \"" + env("RT_NFS_EXPORT") +
                     "\", \"/nfs\"\n"
                     "cd \"" +
                     host +
                     "\"\n"
                     "copy in.txt /nfs/copied.txt\n"
                     "copy /nfs/served.txt back.txt\n"
                     "mkdir /nfs/dir\n"
                     "mv /nfs/copied.txt /nfs/dir/moved.txt\n"
                     "ls /nfs/dir\n"
                     "cat /nfs/served.txt\n"
                     "copy < /nfs/missing\n",
                 "-k -l brisnel");
    EXPECT_EQ(run.status, 1) << context(run); // the copy of a missing file fails
    EXPECT_TRUE(readWhole(exported / "dir" / "moved.txt") == payload) << context(run);
    EXPECT_EQ(readWhole(local.path / "back.txt"), "written on the server\n");
    EXPECT_NE(run.out.find("-> ls /nfs/dir\n.\n..\nmoved.txt\n"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("-> cat /nfs/served.txt\nwritten on the server\n"), std::string::npos)
        << context(run);
    EXPECT_NE(run.err.find("copy: /nfs/missing: errno = 0x300002 (NFS3ERR_NOENT)"), std::string::npos)
        << context(run);

    const ShellRun removal =
        runShell("nfs3Drv\nnfs3CacheParamsSet 16, 16384, 0\n"
                 "nfsMount \"" +
                     env("RT_NFS_HOST") + "\", \"" + env("RT_NFS_EXPORT") +
                     "\", \"/nfs\"\n"
                     "rm /nfs/dir/moved.txt\nrmdir /nfs/dir\nnfsUnmount \"/nfs\"\ndevs\n",
                 "-q -l brisnel");
    EXPECT_EQ(removal.status, 0) << context(removal);
    EXPECT_FALSE(std::filesystem::exists(exported / "dir"));
    EXPECT_EQ(removal.out.find(" /nfs\n"), std::string::npos) << context(removal);
}

// mount -o mounts with the options for that device alone, mount alone lists them, umount takes
// the device away; an option that cannot be used refuses the mount, named with its hint.
TEST(LiveShell, MountWithOptionsAndUmount)
{
    if (env("RT_NFS_HOST").empty())
        GTEST_SKIP() << "needs the NFS peers (with-nfs-peers.sh)";
    const std::filesystem::path exported = env("RT_NFS_EXPORT_DIR");
    std::string payload;
    for (int i = 0; i < 20000; ++i)
        payload += "option line " + std::to_string(i) + "\n";
    TempDir local;
    writeWhole(local.path / "in.txt", payload);
    const std::string server = env("RT_NFS_HOST") + ":" + env("RT_NFS_EXPORT");
    const ShellRun run = runShell("mount -o proto=tcp,rsize=max,wsize=65536,lines=4,linesize=131072 " +
                                      server + " /opt\ncopy host:" + (local.path / "in.txt").string() +
                                      " /opt/opt.txt\nmount\numount /opt\ndevs\n"
                                      "mount -o rsize=big " +
                                      server + " /opt\nmount -o proto=tcp " + env("RT_NFS_HOST") + " /opt\n",
                                  "-k -l brisnel");
    EXPECT_EQ(run.status, 1) << context(run);
    EXPECT_TRUE(readWhole(exported / "opt.txt") == payload) << context(run);
    std::filesystem::remove(exported / "opt.txt");
    EXPECT_NE(run.out.find("-> mount\ndevice name          options\n"), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("/opt                 vers=3,proto=tcp,rsize="), std::string::npos)
        << context(run);
    EXPECT_NE(run.out.find(",wsize=65536,timeo=50,retrans=4,lines=4,linesize=131072,window=4,sec=sys\n"),
              std::string::npos)
        << context(run);
    EXPECT_NE(run.out.find("-> devs\ndrv name\n  1 host:\n-> mount"), std::string::npos) << context(run);
    EXPECT_NE(run.err.find("mount: " + server + ": errno = 0x2e0010 (NFS_ERR_BAD_OPTION)"), std::string::npos)
        << context(run);
    EXPECT_NE(run.err.find("hint: The mount option \"rsize=big\""), std::string::npos) << context(run);
    EXPECT_NE(run.err.find("usage: mount [-o options] server:/path /dev"), std::string::npos) << context(run);
}

// On a mount: chmod, ln -s, ln, touch and readlink each do their work, checked in the exported
// folder; readlink of a file that is no link names the server's error.
TEST(LiveShell, ModeLinkAndTimeCommandsOnAMountDoTheirWork)
{
    if (env("RT_NFS_HOST").empty())
        GTEST_SKIP() << "needs the NFS peers (with-nfs-peers.sh)";
    const std::filesystem::path exported = env("RT_NFS_EXPORT_DIR");
    writeWhole(exported / "kept.txt", "kept\n");
    std::filesystem::permissions(exported / "kept.txt", std::filesystem::perms(0644));
    ASSERT_EQ(::chown((exported / "kept.txt").c_str(), 2001, 100),
              0); // only the owner changes mode and times
    std::filesystem::last_write_time(exported / "kept.txt",
                                     std::filesystem::last_write_time(exported / "kept.txt") -
                                         std::chrono::hours(24));
    const auto before = std::filesystem::last_write_time(exported / "kept.txt");
    const ShellRun run =
        runShell("nfsAuthUnixSet \"tester\", 2001, 100, 0, 0\n"
                 "nfsMount \"" +
                     env("RT_NFS_HOST") + "\", \"" + env("RT_NFS_EXPORT") +
                     "\", \"/nfs\"\n"
                     "chmod 600 /nfs/kept.txt\nln -s kept.txt /nfs/soft\nln /nfs/kept.txt /nfs/hard\n"
                     "touch /nfs/kept.txt\nreadlink /nfs/soft\nreadlink /nfs/kept.txt\ntouch /nfs/made.txt\n",
                 "-k -q -l brisnel");
    EXPECT_EQ(run.status, 1) << context(run); // readlink of a file that is no link
    EXPECT_NE(run.out.find("kept.txt\n"), std::string::npos) << context(run);
    EXPECT_NE(run.err.find("readlink: /nfs/kept.txt: errno = 0x300016"), std::string::npos) << context(run);
    EXPECT_EQ(std::filesystem::status(exported / "kept.txt").permissions(), std::filesystem::perms(0600))
        << context(run);
    EXPECT_GT(std::filesystem::last_write_time(exported / "kept.txt"), before);
    EXPECT_EQ(readWhole(exported / "kept.txt"), "kept\n");
    EXPECT_EQ(std::filesystem::read_symlink(exported / "soft"), std::filesystem::path("kept.txt"));
    EXPECT_TRUE(std::filesystem::equivalent(exported / "hard", exported / "kept.txt"));
    EXPECT_TRUE(std::filesystem::is_regular_file(exported / "made.txt"));
    EXPECT_EQ(std::filesystem::file_size(exported / "made.txt"), 0u);
}

TEST(LiveShell, ChronyAnswersTheTimeQuery)
{
    if (env("SNTPC_CHRONY_PORT").empty())
        GTEST_SKIP() << "needs chrony (with-chrony.sh)";
    const ShellRun run = runShell("sntpcInit " + env("SNTPC_CHRONY_PORT") +
                                      "\nsntpcTimeGet \"127.0.0.1\", 300, avalues\n"
                                      "sntpcTimeGet \"127.0.0.1\", 300, 0\n"
                                      "d avalues, 1, 8\n",
                                  "-k -q -l tovelle -l quenby");
    EXPECT_EQ(run.status, 1) << context(run);
    EXPECT_NE(run.out.find(
                  "value = 0 = 0x0\nvalue = -1 = 0xffffffff\nerrno = 0x710001 (SNTPC_ERR_INVALID_PARAMETER)"),
              std::string::npos)
        << context(run);
    // The seconds since 1970 that chrony gave, against this machine's clock.
    const std::size_t line = run.out.find(":  ");
    ASSERT_NE(line, std::string::npos) << context(run);
    const long long seconds = std::stoll(run.out.substr(line + 3, 16), nullptr, 16);
    EXPECT_LT(std::llabs(seconds - static_cast<long long>(std::time(nullptr))), 60) << context(run);
}

// Ctrl-C during a copy from a server that does not answer: the prompt comes back long before
// the remote call's time-out, the mount still works once the server answers again, nothing
// of the copy is left, and the line is in the history file.
TEST(LiveShell, CtrlCStopsACopyFromAPausedServer)
{
    if (env("RT_NFS_HOST").empty() || env("RT_GANESHA_PID").empty())
        GTEST_SKIP() << "needs the NFS peers (with-nfs-peers.sh)";
    const pid_t server = std::stoi(env("RT_GANESHA_PID"));
    const std::filesystem::path exported = env("RT_NFS_EXPORT_DIR");
    writeWhole(exported / "paused.txt", std::string(100000, 'p'));
    TempDir home;
    const std::string target = (home.path / "copied.txt").string();
    Terminal term(home.path.string());
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    term.type("nfsMount \"" + env("RT_NFS_HOST") + "\", \"" + env("RT_NFS_EXPORT") + "\", \"/nfs\"\r");
    ASSERT_TRUE(term.waitFor("value = 0 = 0x0")) << term.seen();
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    struct Resume {
        pid_t pid;
        ~Resume() { kill(pid, SIGCONT); }
    } resume{server};
    ASSERT_EQ(kill(server, SIGSTOP), 0);
    term.type("copy /nfs/paused.txt host:" + target + "\r");
    poll(nullptr, 0, 500); // the copy waits for the server now
    term.type("\x03");
    // The call would end at its time-out (tens of seconds); the prompt is back well before.
    ASSERT_TRUE(term.waitForEditor(5)) << term.seen();
    kill(server, SIGCONT);
    term.type("ls /nfs\r");
    ASSERT_TRUE(term.waitFor("paused.txt")) << term.seen();
    ASSERT_TRUE(term.waitForEditor()) << term.seen();
    // The interrupted copy keeps its file open until its call returns and it stops: until
    // then the unmount answers K_EBUSY, and afterwards it succeeds.
    bool unmounted = false;
    for (int attempt = 0; attempt < 60 && !unmounted; ++attempt) {
        const std::size_t mark = term.seen().size();
        term.type("nfsUnmount \"/nfs\"\r");
        ASSERT_TRUE(term.waitForEditor()) << term.seen();
        const std::string answer = term.seen().substr(mark);
        unmounted = answer.find("value = 0 = 0x0") != std::string::npos;
        if (!unmounted) {
            ASSERT_NE(answer.find("errno = 0x10 (K_EBUSY)"), std::string::npos) << term.seen();
            poll(nullptr, 0, 500);
        }
    }
    ASSERT_TRUE(unmounted) << term.seen();
    term.type("exit\r");
    EXPECT_EQ(term.exitStatus(), 0) << term.seen();
    EXPECT_FALSE(std::filesystem::exists(target)) << term.seen();
    for (const auto &entry : std::filesystem::directory_iterator(home.path))
        EXPECT_EQ(entry.path().filename().string().find(".rtsh-"), std::string::npos) << entry.path();
    EXPECT_NE(readWhole(home.path / ".rtsh_history").find("copy\\040/nfs/paused.txt"), std::string::npos);
}

// A file that a command left open is closed at the end of the session, of a script on the
// standard input as of a command given with -c: its data reaches the server.
TEST(LiveShell, TheEndClosesWhatCommandsLeftOpen)
{
    if (env("RT_NFS_HOST").empty())
        GTEST_SKIP() << "needs the NFS peers (with-nfs-peers.sh)";
    const std::filesystem::path exported = env("RT_NFS_EXPORT_DIR");
    const auto script = [](const std::string &name) {
        return "nfsMount \"" + env("RT_NFS_HOST") + "\", \"" + env("RT_NFS_EXPORT") +
               "\", \"/nfs\"\n"
               "fd = kOpen \"/nfs/" +
               name +
               "\", K_O_WRONLY | K_O_CREAT, 0644\n"
               "kWrite fd, \"left open\\n\", 10\n";
    };
    const ShellRun fromInput = runShell(script("left-open.txt"), "-q -l brisnel");
    EXPECT_EQ(fromInput.status, 0) << context(fromInput);
    EXPECT_EQ(readWhole(exported / "left-open.txt"), "left open\n") << context(fromInput);
    const ShellRun fromCommand = runShell("", "-q -l brisnel -c '" + script("left-open-c.txt") + "'");
    EXPECT_EQ(fromCommand.status, 0) << context(fromCommand);
    EXPECT_EQ(readWhole(exported / "left-open-c.txt"), "left open\n") << context(fromCommand);
}

// The date command asks chrony and prints the time in UTC beside the host clock's offset.
TEST(LiveShell, DateAsksTheServer)
{
    if (env("SNTPC_CHRONY_PORT").empty())
        GTEST_SKIP() << "needs chrony (with-chrony.sh)";
    const ShellRun run =
        runShell("sntpcInit " + env("SNTPC_CHRONY_PORT") + "\ndate 127.0.0.1\n", "-q -l tovelle");
    ASSERT_EQ(run.status, 0) << context(run);
    std::array<char, 16> year{};
    const std::time_t now = std::time(nullptr);
    std::strftime(year.data(), year.size(), "\n%Y-", std::gmtime(&now));
    EXPECT_NE(run.out.find(year.data()), std::string::npos) << context(run);
    EXPECT_NE(run.out.find("Z "), std::string::npos) << context(run);
    EXPECT_NE(run.out.find(" s (host clock minus server)"), std::string::npos) << context(run);
}

} // namespace
