// Test support: a scripted server that answers MOUNT versions 1 and 3 and the NFS version 3
// FSINFO call as a test sets them up, under a host name of its own on a loopback address.
#ifndef TESTS_NFS_MOUNTSCRIPTEDSERVER_H
#define TESTS_NFS_MOUNTSCRIPTEDSERVER_H

#include "server/scriptedServer.h"

#include <brisnel/mount1Xdr.h>
#include <brisnel/mount3Xdr.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/hostLib.h>
#include <kernel/iosLib.h>

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace mounttest {

struct ExportEntry {
    std::string dir;
    std::vector<std::string> groups;
};

struct FsInfoLimits {
    uint32_t rtmax = 0;
    uint32_t wtmax = 0;
    uint32_t dtpref = 0;
};

// What the handlers answer and what they saw; shared with the server's thread.
struct MountState {
    std::mutex lock;
    std::string handle = std::string(20, '\x5a'); // MNT's root handle, whatever its length
    std::map<std::string, uint32_t> refused;      // path -> MOUNT status
    std::vector<ExportEntry> exports;
    std::vector<std::pair<std::string, std::string>> mountTable;
    FsInfoLimits fsInfo{8192, 8192, 0};
    uint32_t fsInfoStatus = NFS3_OK;
    bool fsInfoSilent = false;
    std::vector<std::string> mounted;   // MNT paths, both versions
    std::vector<std::string> unmounted; // UMNT paths, both versions
};

inline bool encodeString(XDR *xdrs, const std::string &text)
{
    char *p = const_cast<char *>(text.c_str());
    return xdr_string(xdrs, &p, UINT32_MAX) != 0;
}

inline bool encodeMore(XDR *xdrs, bool more)
{
    bool_t flag = more ? TRUE : FALSE;
    return xdr_bool(xdrs, &flag) != 0;
}

inline std::string decodePath(XDR *args)
{
    char *path = nullptr;
    std::string result = xdr_dirpath(args, &path) ? path : "<undecodable>";
    xdr_free(reinterpret_cast<xdrproc_t>(xdr_dirpath), reinterpret_cast<char *>(&path));
    return result;
}

class MountServer {
public:
    // hostName is entered in the host table for address.
    MountServer(const std::string &address, const std::string &hostName)
        : host_(hostName), state_(std::make_shared<MountState>())
    {
        std::string error;
        server_ = scripted::ScriptedServer::start({address, 0, 111}, &error);
        EXPECT_NE(server_, nullptr) << error;
        EXPECT_EQ(hostAdd(hostName.c_str(), address.c_str()), 0);
        if (server_ == nullptr)
            return;
        for (const uint32_t version : {uint32_t{MOUNT_V1}, uint32_t{MOUNT_V3}})
            installMount(version);
        installFsInfo();
    }

    scripted::ScriptedServer &server() { return *server_; }
    bool up() const { return server_ != nullptr; }
    const std::string &host() const { return host_; }
    const char *name() const { return host_.c_str(); }

    template <typename Change> void set(Change change)
    {
        const std::lock_guard guard(state_->lock);
        change(*state_);
    }
    std::vector<std::string> unmounted()
    {
        const std::lock_guard guard(state_->lock);
        return state_->unmounted;
    }
    std::vector<std::string> mounted()
    {
        const std::lock_guard guard(state_->lock);
        return state_->mounted;
    }
    uint64_t count(uint32_t version, uint32_t proc) const
    {
        return server_->callCount(MOUNT_PROGRAM, version, proc);
    }

private:
    void installMount(uint32_t version)
    {
        auto state = state_;
        server_->handle(MOUNT_PROGRAM, version, MOUNTPROC3_MNT,
                        [state, version](const scripted::RpcCall &, XDR *args) {
                            const std::string path = decodePath(args);
                            const std::lock_guard guard(state->lock);
                            state->mounted.push_back(path);
                            const auto refusal = state->refused.find(path);
                            const uint32_t status = refusal == state->refused.end() ? 0 : refusal->second;
                            const std::string handle = state->handle;
                            return scripted::Reply::ok([status, handle, version](XDR *xdrs) {
                                u_int st = status;
                                if (!xdr_u_int(xdrs, &st))
                                    return false;
                                if (status != 0)
                                    return true;
                                if (version == MOUNT_V1) {
                                    std::string bytes = handle;
                                    bytes.resize(FHSIZE, '\0');
                                    return xdr_opaque(xdrs, bytes.data(), FHSIZE) != 0;
                                }
                                char *data = const_cast<char *>(handle.data());
                                auto length = static_cast<u_int>(handle.size());
                                u_int flavours = 1;
                                int unixFlavour = 1;
                                return xdr_bytes(xdrs, &data, &length, 4096) && xdr_u_int(xdrs, &flavours) &&
                                       xdr_int(xdrs, &unixFlavour);
                            });
                        });
        server_->handle(MOUNT_PROGRAM, version, MOUNTPROC3_UMNT,
                        [state](const scripted::RpcCall &, XDR *args) {
                            const std::string path = decodePath(args);
                            const std::lock_guard guard(state->lock);
                            state->unmounted.push_back(path);
                            return scripted::Reply::ok();
                        });
        server_->handle(MOUNT_PROGRAM, version, MOUNTPROC3_UMNTALL,
                        [](const scripted::RpcCall &, XDR *) { return scripted::Reply::ok(); });
        server_->handle(MOUNT_PROGRAM, version, MOUNTPROC3_EXPORT, [state](const scripted::RpcCall &, XDR *) {
            const std::lock_guard guard(state->lock);
            return scripted::Reply::ok([list = state->exports](XDR *xdrs) {
                for (const ExportEntry &entry : list) {
                    if (!encodeMore(xdrs, true) || !encodeString(xdrs, entry.dir))
                        return false;
                    for (const std::string &group : entry.groups) {
                        if (!encodeMore(xdrs, true) || !encodeString(xdrs, group))
                            return false;
                    }
                    if (!encodeMore(xdrs, false))
                        return false;
                }
                return encodeMore(xdrs, false);
            });
        });
        server_->handle(MOUNT_PROGRAM, version, MOUNTPROC3_DUMP, [state](const scripted::RpcCall &, XDR *) {
            const std::lock_guard guard(state->lock);
            return scripted::Reply::ok([table = state->mountTable](XDR *xdrs) {
                for (const auto &[client, dir] : table) {
                    if (!encodeMore(xdrs, true) || !encodeString(xdrs, client) || !encodeString(xdrs, dir))
                        return false;
                }
                return encodeMore(xdrs, false);
            });
        });
    }

    // FSINFO3res: status, post_op_attr (none), then for NFS3_OK rtmax, rtpref, rtmult, wtmax,
    // wtpref, wtmult, dtpref, maxfilesize, time_delta, properties.
    void installFsInfo()
    {
        auto state = state_;
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_FSINFO, [state](const scripted::RpcCall &, XDR *) {
            const std::lock_guard guard(state->lock);
            if (state->fsInfoSilent)
                return scripted::Reply::of(scripted::ReplyKind::silent);
            const FsInfoLimits limits = state->fsInfo;
            const uint32_t status = state->fsInfoStatus;
            return scripted::Reply::ok([limits, status](XDR *xdrs) {
                u_int words[] = {status, 0};
                if (!xdr_u_int(xdrs, &words[0]) || !xdr_u_int(xdrs, &words[1]))
                    return false;
                if (status != NFS3_OK)
                    return true;
                u_int body[] = {limits.rtmax, limits.rtmax, 1, limits.wtmax, limits.wtmax, 1, limits.dtpref};
                for (u_int &word : body) {
                    if (!xdr_u_int(xdrs, &word))
                        return false;
                }
                u_quad_t maxSize = UINT64_MAX;
                u_int tail[] = {0, 1, 0x1b};
                return xdr_u_int64_t(xdrs, &maxSize) && xdr_u_int(xdrs, &tail[0]) &&
                       xdr_u_int(xdrs, &tail[1]) && xdr_u_int(xdrs, &tail[2]);
            });
        });
    }

    std::string host_;
    std::shared_ptr<MountState> state_;
    std::unique_ptr<scripted::ScriptedServer> server_;
};

// The version 3 devices listed now, by name.
inline std::vector<std::string> nfs3DeviceNames(int drvNum)
{
    std::vector<std::string> names;
    for (DEV_HDR *dev = iosNextDevGet(nullptr); dev != nullptr; dev = iosNextDevGet(dev)) {
        if (dev->drvNum == drvNum)
            names.emplace_back(dev->name);
    }
    return names;
}

inline NfsDevice *nfs3DeviceNamed(const std::string &name)
{
    const char *tail = nullptr;
    DEV_HDR *dev = iosDevFind(name.c_str(), &tail);
    return dev != nullptr && name == dev->name ? reinterpret_cast<NfsDevice *>(dev) : nullptr;
}

} // namespace mounttest

#endif
