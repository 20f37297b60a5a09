// Test support for the tests against the real peers that tests/peers/with-nfs-peers.sh
// starts: where they are, raw MOUNT and NFS calls through the module's call path, and a way
// to make a peer fall silent for a while.
#ifndef TESTS_LIVE_LIVESERVER_H
#define TESTS_LIVE_LIVESERVER_H

#include <brisnel/mount3Xdr.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsRpcLib.h>

#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <fstream>
#include <memory>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace live {

inline std::string env(const char *name)
{
    const char *value = std::getenv(name);
    if (value == nullptr) {
        ADD_FAILURE() << name << " is not set: run this binary through tests/peers/with-nfs-peers.sh";
        return "";
    }
    return value;
}

inline std::string host()
{
    return env("RT_NFS_HOST");
}
inline std::string exportPath()
{
    return env("RT_NFS_EXPORT");
}
inline std::string exportDir()
{
    return env("RT_NFS_EXPORT_DIR");
}
// False when the server offers NFS and MOUNT over TCP only.
inline bool serverOffersUdp()
{
    return env("RT_NFS_SERVER_UDP") != "0";
}
// The transport the server offers first: UDP where offered, else TCP.
inline int servedTransport()
{
    return serverOffersUdp() ? IPPROTO_UDP : IPPROTO_TCP;
}

// What a descriptor refers to ("socket:[inode]"), so a test can tell sockets apart even when
// a descriptor number is reused.
inline std::string descriptorTarget(int fd)
{
    std::array<char, 128> target{};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = readlink(link.c_str(), target.data(), target.size() - 1);
    return length < 0 ? std::string() : std::string(target.data(), static_cast<std::size_t>(length));
}

inline std::string currentSocket()
{
    const NfsRpcClient *client = nfsRpcClientCurrent();
    return client == nullptr || client->valid == 0 ? std::string() : descriptorTarget(client->socket);
}

inline int nullCall(const std::string &server, uint32_t prog, uint32_t vers)
{
    return nfsClientCall(server.c_str(), prog, vers, 0, nfsXdrProc(xdr_void), nullptr, nfsXdrProc(xdr_void),
                         nullptr);
}

// The export's root handle, by a MOUNT version 3 MNT call.
struct RootHandle {
    std::array<char, NFS3_FHSIZE> bytes{};
    u_int length = 0;
    nfs_fh3 fh() { return nfs_fh3{{length, bytes.data()}}; }
};

inline bool mountRoot(RootHandle *root)
{
    const std::string path = exportPath();
    char *dir = const_cast<char *>(path.c_str());
    mountres3 res{};
    res.mountres3_u.mountinfo.fhandle.fhandle3_val = root->bytes.data();
    if (nfsClientCall(host().c_str(), MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_MNT, nfsXdrProc(xdr_dirpath), &dir,
                      nfsXdrProc(xdr_mountres3), &res) != 0)
        return false;
    root->length = res.mountres3_u.mountinfo.fhandle.fhandle3_len;
    const bool ok = res.fhs_status == MNT3_OK;
    res.mountres3_u.mountinfo.fhandle.fhandle3_val = nullptr;
    clnt_freeres(nfsRpcClientCurrent()->pClient, nfsXdrProc(xdr_mountres3), reinterpret_cast<char *>(&res));
    return ok;
}

// Creates (or truncates) a regular file of mode 0644 in the export's root; 0 or the status.
inline int createInRoot(RootHandle *root, const std::string &name)
{
    CREATE3args args{};
    args.where.dir = root->fh();
    args.where.name = const_cast<char *>(name.c_str());
    args.how.mode = UNCHECKED;
    args.how.createhow3_u.obj_attributes.mode.set_it = 1;
    args.how.createhow3_u.obj_attributes.mode.set_mode3_u.mode = 0644;
    CREATE3res res{};
    if (nfsClientCall(host().c_str(), NFS_PROGRAM, NFS_V3, NFSPROC3_CREATE, nfsXdrProc(xdr_CREATE3args),
                      &args, nfsXdrProc(xdr_CREATE3res), &res) != 0)
        return -1;
    const int status = res.status;
    clnt_freeres(nfsRpcClientCurrent()->pClient, nfsXdrProc(xdr_CREATE3res), reinterpret_cast<char *>(&res));
    return status;
}

inline int ownerOnServer(const std::string &name)
{
    struct stat st {};
    if (::stat((exportDir() + "/" + name).c_str(), &st) != 0)
        return -1;
    return static_cast<int>(st.st_uid);
}

// Every thread of the process is in the state wanted: stopped ('T') or not.
inline bool allThreadsStopped(pid_t pid, bool stopped)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(tasks.c_str()), closedir);
    if (!dir)
        return false;
    while (const dirent *task = readdir(dir.get())) {
        if (task->d_name[0] == '.')
            continue;
        std::ifstream stat(tasks + "/" + task->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        const std::size_t close = line.rfind(')');
        if (close == std::string::npos || close + 2 >= line.size())
            continue;
        if ((line[close + 2] == 'T') != stopped)
            return false;
    }
    return true;
}

// A loaded machine may take a while to stop every thread; a test that goes on with a peer still
// answering would fail far from the cause, so a peer that does not stop fails here.
inline bool awaitThreads(pid_t pid, bool stopped)
{
    for (int i = 0; i < 1000; ++i) {
        if (allThreadsStopped(pid, stopped))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Stops a peer process for the scope's lifetime, so that it receives but never answers.
// kill() returns before the threads stop, so the constructor waits until every one has.
class PeerPaused {
public:
    explicit PeerPaused(const char *pidVariable) : pid_(std::atoi(env(pidVariable).c_str()))
    {
        EXPECT_GT(pid_, 0);
        if (pid_ <= 0)
            return;
        EXPECT_EQ(kill(pid_, SIGSTOP), 0) << "peer " << pid_ << " is gone";
        EXPECT_TRUE(awaitThreads(pid_, true)) << "peer " << pid_ << " did not stop";
    }
    PeerPaused(const PeerPaused &) = delete;
    PeerPaused &operator=(const PeerPaused &) = delete;
    // The peer then answers the requests it queued while stopped; give the backlog a moment
    // to drain, so that the next test starts on a quiet server.
    ~PeerPaused()
    {
        if (pid_ <= 0)
            return;
        kill(pid_, SIGCONT);
        EXPECT_TRUE(awaitThreads(pid_, false)) << "peer " << pid_ << " did not resume";
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
    }

private:
    pid_t pid_;
};

// Kills the server (as a crash would) and starts it again on the same ports; its new pid,
// also for the tests that pause it later.
inline std::string serverRestarted()
{
    std::unique_ptr<FILE, int (*)(FILE *)> out(popen(env("RT_NFS_PEERS_RESTART").c_str(), "r"), pclose);
    std::array<char, 32> line{};
    if (!out || std::fgets(line.data(), line.size(), out.get()) == nullptr)
        return "";
    std::string pid(line.data());
    pid.erase(pid.find_last_not_of("\n") + 1);
    setenv("RT_GANESHA_PID", pid.c_str(), 1);
    return pid;
}

// The server restarted (serverRestarted) with a grace period of SECONDS, or none (0); with
// SHORT_LEASE, for that restart a lease of as many seconds where none is set, so that the
// server keeps the period it is given (else a default lease of a minute stretches it). The
// environment as it was after: the new pid, empty when none came.
inline std::string serverRestartedWithGrace(int seconds, bool shortLease)
{
    struct Saved {
        const char *name;
        std::string value;
        bool set;
    };
    Saved saved[] = {{"RT_NFS_V4_GRACE", "", false}, {"RT_NFS_V4_LEASE", "", false}};
    for (Saved &s : saved) {
        const char *now = std::getenv(s.name);
        s.set = now != nullptr;
        s.value = s.set ? now : "";
    }
    if (seconds > 0) {
        setenv("RT_NFS_V4_GRACE", std::to_string(seconds).c_str(), 1);
        if (shortLease && !saved[1].set)
            setenv("RT_NFS_V4_LEASE", std::to_string(seconds).c_str(), 1);
    } else {
        unsetenv("RT_NFS_V4_GRACE");
    }
    std::string pid = serverRestarted();
    for (const Saved &s : saved) {
        if (s.set)
            setenv(s.name, s.value.c_str(), 1);
        else
            unsetenv(s.name);
    }
    return pid;
}

} // namespace live

#endif
