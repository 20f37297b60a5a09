// The folder-backed version 2 server. A handle is the number of its path in a table (the
// path relative to the folder, "" for the root), so handles stay valid across a rename,
// which moves the table's entries with it.
#include "server/nfs2FolderServer.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace scripted {
namespace {

constexpr uint32_t kNfs = 100003;
constexpr uint32_t kMount = 100005;
constexpr uint32_t kFhSize = 32;
constexpr uint32_t kMaxData = 8192;
constexpr uint32_t kMagic = 0x6e667332; // "nfs2"

using State = Nfs2FolderServer::State;
using Handle = std::array<char, kFhSize>;

uint32_t statusOf(int error)
{
    switch (error) {
    case ENOENT: return 2;
    case EACCES:
    case EPERM: return 13;
    case EEXIST: return 17;
    case ENOTDIR: return 20;
    case EISDIR: return 21;
    case EFBIG: return 27;
    case ENOSPC: return 28;
    case ENAMETOOLONG: return 63;
    case ENOTEMPTY: return 66;
    default: return 5;
    }
}

bool putU(XDR *xdrs, uint32_t value)
{
    return xdr_u_int(xdrs, &value) != 0;
}

Handle handleFor(State &state, const std::string &path)
{
    auto found = std::find(state.paths.begin(), state.paths.end(), path);
    if (found == state.paths.end())
        found = state.paths.insert(state.paths.end(), path);
    Handle handle{};
    const auto number = static_cast<uint32_t>(found - state.paths.begin());
    std::memcpy(handle.data(), &kMagic, 4);
    std::memcpy(handle.data() + 4, &number, 4);
    return handle;
}

// The path a handle names; false for a handle this server did not give.
bool pathOf(State &state, const Handle &handle, std::string *path)
{
    uint32_t magic = 0;
    uint32_t number = 0;
    std::memcpy(&magic, handle.data(), 4);
    std::memcpy(&number, handle.data() + 4, 4);
    if (magic != kMagic || number >= state.paths.size())
        return false;
    *path = state.paths[number];
    return true;
}

std::string full(const State &state, const std::string &path)
{
    return path.empty() ? state.folder : state.folder + "/" + path;
}

std::string joined(const std::string &dir, const std::string &name)
{
    return dir.empty() ? name : dir + "/" + name;
}

struct Attr {
    std::array<uint32_t, 17> words{};
};

Attr attrOf(const struct stat &st)
{
    uint32_t type = 0;
    if (S_ISREG(st.st_mode))
        type = 1;
    else if (S_ISDIR(st.st_mode))
        type = 2;
    else if (S_ISLNK(st.st_mode))
        type = 5;
    Attr a;
    a.words = {type,
               static_cast<uint32_t>(st.st_mode),
               static_cast<uint32_t>(st.st_nlink),
               st.st_uid,
               st.st_gid,
               static_cast<uint32_t>(st.st_size),
               4096,
               0,
               static_cast<uint32_t>(st.st_blocks),
               1,
               static_cast<uint32_t>(st.st_ino),
               static_cast<uint32_t>(st.st_atime),
               0,
               static_cast<uint32_t>(st.st_mtime),
               0,
               static_cast<uint32_t>(st.st_ctime),
               0};
    return a;
}

bool putAttr(XDR *xdrs, const Attr &a)
{
    return std::all_of(a.words.begin(), a.words.end(), [xdrs](uint32_t w) { return putU(xdrs, w); });
}

bool getHandle(XDR *args, Handle *handle)
{
    return xdr_opaque(args, handle->data(), kFhSize) != 0;
}

bool getName(XDR *args, std::string *name)
{
    char *text = nullptr;
    if (!xdr_string(args, &text, 1024))
        return false;
    *name = text;
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_wrapstring), reinterpret_cast<char *>(&text));
    return true;
}

Reply statusOnly(uint32_t status)
{
    return Reply::ok([status](XDR *xdrs) { return putU(xdrs, status); });
}

// status, then for 0 the handle and the attributes of path (lstat: links are objects).
Reply dirop(State &state, const std::string &path)
{
    struct stat st {};
    if (lstat(full(state, path).c_str(), &st) != 0)
        return statusOnly(statusOf(errno));
    Handle handle = handleFor(state, path);
    const Attr attr = attrOf(st);
    return Reply::ok([handle, attr](XDR *xdrs) mutable {
        return putU(xdrs, 0) && xdr_opaque(xdrs, handle.data(), kFhSize) && putAttr(xdrs, attr);
    });
}

Reply attrstat(State &state, const std::string &path)
{
    struct stat st {};
    if (lstat(full(state, path).c_str(), &st) != 0)
        return statusOnly(statusOf(errno));
    const Attr attr = attrOf(st);
    return Reply::ok([attr](XDR *xdrs) { return putU(xdrs, 0) && putAttr(xdrs, attr); });
}

// Decodes a handle (and a name) and runs the action under the state's lock.
template <typename Action> Handler withHandle(std::shared_ptr<State> state, Action action)
{
    return [state, action](const RpcCall &, XDR *args) {
        Handle handle{};
        if (!getHandle(args, &handle))
            return Reply::of(ReplyKind::garbageArgs);
        const std::lock_guard guard(state->lock);
        std::string path;
        if (!pathOf(*state, handle, &path))
            return statusOnly(70); // NFSERR_STALE
        return action(*state, path, args);
    };
}

template <typename Action> Handler withDirop(std::shared_ptr<State> state, Action action)
{
    return withHandle(state, [action](State &s, const std::string &dir, XDR *args) {
        std::string name;
        if (!getName(args, &name))
            return Reply::of(ReplyKind::garbageArgs);
        return action(s, dir, name, args);
    });
}

void renameTable(State &state, const std::string &from, const std::string &to)
{
    for (std::string &path : state.paths) {
        if (path == from)
            path = to;
        else if (path.rfind(from + "/", 0) == 0)
            path = to + path.substr(from.size());
    }
}

Reply readDir(State &state, const std::string &dir, uint32_t cookie, uint32_t count)
{
    std::vector<std::pair<std::string, uint32_t>> names;
    if (DIR *d = opendir(full(state, dir).c_str())) {
        while (const dirent *e = readdir(d)) {
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.emplace_back(e->d_name, static_cast<uint32_t>(e->d_ino));
        }
        closedir(d);
    } else {
        return statusOnly(statusOf(errno));
    }
    std::sort(names.begin(), names.end());
    // Entries from the one after `cookie` (entry number + 1) as long as they fit count bytes.
    // Paired cookies: entries 2k and 2k + 1 both carry 2k + 2, and a batch never ends between them.
    const bool paired = state.faults.pairedCookies;
    std::vector<std::pair<std::pair<std::string, uint32_t>, uint32_t>> batch;
    uint32_t used = 16;
    std::size_t next = cookie;
    for (; next < names.size(); ++next) {
        const uint32_t cost = 16 + ((static_cast<uint32_t>(names[next].first.size()) + 3) & ~3U);
        if (used + cost > count && !(paired && next % 2 == 1))
            break;
        used += cost;
        const uint32_t entryCookie = state.faults.repeatedCookies ? 1
                                     : paired                     ? static_cast<uint32_t>(next / 2 * 2 + 2)
                                                                  : static_cast<uint32_t>(next + 1);
        batch.emplace_back(names[next], entryCookie);
        if (state.faults.doubledEntries)
            batch.emplace_back(names[next], entryCookie);
    }
    const bool eof = next >= names.size();
    return Reply::ok([batch, eof](XDR *xdrs) {
        if (!putU(xdrs, 0))
            return false;
        for (const auto &[entry, entryCookie] : batch) {
            char *name = const_cast<char *>(entry.first.c_str());
            if (!putU(xdrs, 1) || !putU(xdrs, entry.second) || !xdr_string(xdrs, &name, 1024) ||
                !putU(xdrs, entryCookie))
                return false;
        }
        return putU(xdrs, 0) && putU(xdrs, eof ? 1 : 0);
    });
}

void installNfs(ScriptedServer &server, const std::shared_ptr<State> &state)
{
    server.handle(kNfs, 2, 1,
                  withHandle(state, [](State &s, const std::string &p, XDR *) { return attrstat(s, p); }));
    // SETATTR: sattr fields of all ones are left as they are.
    server.handle(kNfs, 2, 2, withHandle(state, [](State &s, const std::string &p, XDR *args) {
                      std::array<uint32_t, 8> sattr{};
                      for (uint32_t &w : sattr) {
                          if (!xdr_u_int(args, &w))
                              return Reply::of(ReplyKind::garbageArgs);
                      }
                      s.setattrs.push_back(sattr);
                      const std::string path = full(s, p);
                      constexpr uint32_t kNotSet = 0xFFFFFFFFU;
                      if (sattr[0] != kNotSet &&
                          chmod(path.c_str(), static_cast<mode_t>(sattr[0] & 07777)) != 0)
                          return statusOnly(statusOf(errno));
                      if (sattr[3] != kNotSet && truncate(path.c_str(), static_cast<off_t>(sattr[3])) != 0)
                          return statusOnly(statusOf(errno));
                      if (sattr[4] != kNotSet || sattr[6] != kNotSet) {
                          const std::array<timespec, 2> times{
                              timespec{static_cast<time_t>(sattr[4]), sattr[4] == kNotSet ? UTIME_OMIT : 0},
                              timespec{static_cast<time_t>(sattr[6]), sattr[6] == kNotSet ? UTIME_OMIT : 0}};
                          if (utimensat(AT_FDCWD, path.c_str(), times.data(), AT_SYMLINK_NOFOLLOW) != 0)
                              return statusOnly(statusOf(errno));
                      }
                      return attrstat(s, p);
                  }));
    // LINK: the file's handle, then the new name's diropargs.
    server.handle(kNfs, 2, 12, withHandle(state, [](State &s, const std::string &p, XDR *args) {
                      Handle dir{};
                      std::string name;
                      std::string dirPath;
                      if (!getHandle(args, &dir) || !getName(args, &name))
                          return Reply::of(ReplyKind::garbageArgs);
                      if (!pathOf(s, dir, &dirPath))
                          return statusOnly(70);
                      return statusOnly(link(full(s, p).c_str(), full(s, joined(dirPath, name)).c_str()) == 0
                                            ? 0
                                            : statusOf(errno));
                  }));
    // SYMLINK: diropargs, the target, sattr (not applied: a link's mode means nothing here).
    server.handle(kNfs, 2, 13,
                  withDirop(state, [](State &s, const std::string &dir, const std::string &name, XDR *args) {
                      std::string target;
                      std::array<uint32_t, 8> sattr{};
                      if (!getName(args, &target))
                          return Reply::of(ReplyKind::garbageArgs);
                      for (uint32_t &w : sattr) {
                          if (!xdr_u_int(args, &w))
                              return Reply::of(ReplyKind::garbageArgs);
                      }
                      return statusOnly(symlink(target.c_str(), full(s, joined(dir, name)).c_str()) == 0
                                            ? 0
                                            : statusOf(errno));
                  }));
    server.handle(kNfs, 2, 4,
                  withDirop(state, [](State &s, const std::string &dir, const std::string &name, XDR *) {
                      if (s.faults.lookUpFailures > 0) {
                          --s.faults.lookUpFailures;
                          return statusOnly(statusOf(EIO));
                      }
                      return dirop(s, joined(dir, name));
                  }));
    server.handle(kNfs, 2, 5, withHandle(state, [](State &s, const std::string &p, XDR *) {
                      std::array<char, 1024> text{};
                      const ssize_t n = readlink(full(s, p).c_str(), text.data(), text.size() - 1);
                      if (n < 0)
                          return statusOnly(statusOf(errno));
                      std::string link =
                          s.linkText.value_or(std::string(text.data(), static_cast<std::size_t>(n)));
                      return Reply::ok([link](XDR *xdrs) mutable { // a string on the wire, NUL bytes and all
                          char *t = link.data();
                          auto length = static_cast<u_int>(link.size());
                          return putU(xdrs, 0) && xdr_bytes(xdrs, &t, &length, 1024);
                      });
                  }));
    server.handle(
        kNfs, 2, 6, withHandle(state, [](State &s, const std::string &p, XDR *args) {
            uint32_t offset = 0, count = 0, total = 0;
            if (!xdr_u_int(args, &offset) || !xdr_u_int(args, &count) || !xdr_u_int(args, &total))
                return Reply::of(ReplyKind::garbageArgs);
            count = std::min(count, kMaxData);
            std::string data(count, '\0');
            const int fd = open(full(s, p).c_str(), O_RDONLY);
            if (fd < 0)
                return statusOnly(statusOf(errno));
            const ssize_t n = pread(fd, data.data(), count, offset);
            struct stat st {};
            fstat(fd, &st);
            close(fd);
            if (n < 0)
                return statusOnly(statusOf(errno));
            data.resize(s.faults.readPastEnd ? count : s.faults.emptyReads ? 0 : static_cast<std::size_t>(n));
            const Attr attr = attrOf(st);
            return Reply::ok([attr, data](XDR *xdrs) mutable {
                char *bytes = data.data();
                auto length = static_cast<u_int>(data.size());
                return putU(xdrs, 0) && putAttr(xdrs, attr) && xdr_bytes(xdrs, &bytes, &length, kMaxData);
            });
        }));
    server.handle(kNfs, 2, 8, withHandle(state, [](State &s, const std::string &p, XDR *args) {
                      uint32_t begin = 0, offset = 0, total = 0;
                      std::string data(kMaxData, '\0');
                      char *bytes = data.data();
                      u_int length = kMaxData;
                      if (!xdr_u_int(args, &begin) || !xdr_u_int(args, &offset) || !xdr_u_int(args, &total) ||
                          !xdr_bytes(args, &bytes, &length, kMaxData))
                          return Reply::of(ReplyKind::garbageArgs);
                      if (s.faults.refuseWrites)
                          return statusOnly(statusOf(EIO));
                      const int fd = open(full(s, p).c_str(), O_WRONLY);
                      if (fd < 0)
                          return statusOnly(statusOf(errno));
                      const ssize_t n = pwrite(fd, data.data(), length, offset);
                      close(fd);
                      if (n != static_cast<ssize_t>(length))
                          return statusOnly(statusOf(errno));
                      return attrstat(s, p);
                  }));
    // CREATE and MKDIR: diropargs, then sattr (mode, uid, gid, size, atime, mtime).
    auto make = [](bool directory) {
        return [directory](State &s, const std::string &dir, const std::string &name, XDR *args) {
            std::array<uint32_t, 8> sattr{};
            for (uint32_t &w : sattr) {
                if (!xdr_u_int(args, &w))
                    return Reply::of(ReplyKind::garbageArgs);
            }
            const std::string path = joined(dir, name);
            const auto mode = static_cast<mode_t>(sattr[0] & 07777);
            if (directory) {
                if (mkdir(full(s, path).c_str(), mode) != 0)
                    return statusOnly(statusOf(errno));
            } else {
                const int fd = open(full(s, path).c_str(), O_WRONLY | O_CREAT, mode);
                if (fd < 0)
                    return statusOnly(statusOf(errno));
                if (sattr[3] == 0 && ftruncate(fd, 0) != 0) {
                    close(fd);
                    return statusOnly(statusOf(errno));
                }
                close(fd);
            }
            return dirop(s, path);
        };
    };
    server.handle(kNfs, 2, 9, withDirop(state, make(false)));
    server.handle(kNfs, 2, 14, withDirop(state, make(true)));
    server.handle(
        kNfs, 2, 10, withDirop(state, [](State &s, const std::string &dir, const std::string &name, XDR *) {
            return statusOnly(unlink(full(s, joined(dir, name)).c_str()) == 0 ? 0 : statusOf(errno));
        }));
    server.handle(kNfs, 2, 15,
                  withDirop(state, [](State &s, const std::string &dir, const std::string &name, XDR *) {
                      return statusOnly(rmdir(full(s, joined(dir, name)).c_str()) == 0 ? 0 : statusOf(errno));
                  }));
    server.handle(kNfs, 2, 11,
                  withDirop(state, [](State &s, const std::string &dir, const std::string &name, XDR *args) {
                      Handle toDir{};
                      std::string toName;
                      std::string toDirPath;
                      if (!getHandle(args, &toDir) || !getName(args, &toName))
                          return Reply::of(ReplyKind::garbageArgs);
                      if (!pathOf(s, toDir, &toDirPath))
                          return statusOnly(70);
                      const std::string from = joined(dir, name);
                      const std::string to = joined(toDirPath, toName);
                      if (rename(full(s, from).c_str(), full(s, to).c_str()) != 0)
                          return statusOnly(statusOf(errno));
                      renameTable(s, from, to);
                      return statusOnly(0);
                  }));
    server.handle(kNfs, 2, 16, withHandle(state, [](State &s, const std::string &p, XDR *args) {
                      std::array<char, 4> cookie{};
                      uint32_t count = 0;
                      if (!xdr_opaque(args, cookie.data(), 4) || !xdr_u_int(args, &count))
                          return Reply::of(ReplyKind::garbageArgs);
                      uint32_t number = 0; // the cookie went out as an XDR number: big-endian bytes
                      std::memcpy(&number, cookie.data(), 4);
                      return readDir(s, p, s.faults.firstBatchAlways ? 0 : ntohl(number), count);
                  }));
    server.handle(kNfs, 2, 17, withHandle(state, [](State &s, const std::string &p, XDR *) {
                      struct statvfs vfs {};
                      if (statvfs(full(s, p).c_str(), &vfs) != 0)
                          return statusOnly(statusOf(errno));
                      const std::array<uint32_t, 6> words = {0,
                                                             kMaxData,
                                                             static_cast<uint32_t>(vfs.f_bsize),
                                                             static_cast<uint32_t>(vfs.f_blocks),
                                                             static_cast<uint32_t>(vfs.f_bfree),
                                                             static_cast<uint32_t>(vfs.f_bavail)};
                      return Reply::ok([words](XDR *xdrs) {
                          return std::all_of(words.begin(), words.end(),
                                             [xdrs](uint32_t w) { return putU(xdrs, w); });
                      });
                  }));
}

void installMount(ScriptedServer &server, const std::shared_ptr<State> &state)
{
    server.handle(kMount, 1, 1, [state](const RpcCall &, XDR *args) {
        std::string path;
        if (!getName(args, &path))
            return Reply::of(ReplyKind::garbageArgs);
        const std::lock_guard guard(state->lock);
        if (path != state->exportPath)
            return statusOnly(13);
        Handle root = handleFor(*state, "");
        return Reply::ok(
            [root](XDR *xdrs) mutable { return putU(xdrs, 0) && xdr_opaque(xdrs, root.data(), kFhSize); });
    });
    server.handle(kMount, 1, 2, [](const RpcCall &, XDR *) { return statusOnly(0); }); // DUMP: empty list
    server.handle(kMount, 1, 3, [](const RpcCall &, XDR *) { return Reply::ok(); });
    server.handle(kMount, 1, 4, [](const RpcCall &, XDR *) { return Reply::ok(); });
    server.handle(kMount, 1, 5, [state](const RpcCall &, XDR *) {
        const std::string dir = state->exportPath;
        return Reply::ok([dir](XDR *xdrs) {
            char *d = const_cast<char *>(dir.c_str());
            return putU(xdrs, 1) && xdr_string(xdrs, &d, 1024) && putU(xdrs, 0) && putU(xdrs, 0);
        });
    });
}

} // namespace

Nfs2FolderServer::Nfs2FolderServer(ScriptedServer &server, std::string folder, std::string exportPath)
    : state_(std::make_shared<State>())
{
    state_->folder = std::move(folder);
    state_->exportPath = std::move(exportPath);
    state_->paths.emplace_back("");
    installNfs(server, state_);
    installMount(server, state_);
}

void Nfs2FolderServer::linkTextSet(std::optional<std::string> text)
{
    const std::lock_guard guard(state_->lock);
    state_->linkText = std::move(text);
}

std::vector<std::array<uint32_t, 8>> Nfs2FolderServer::setattrs() const
{
    const std::lock_guard guard(state_->lock);
    return state_->setattrs;
}

} // namespace scripted
