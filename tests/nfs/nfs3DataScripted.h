// Test support: a scripted NFS version 3 server that serves READ and WRITE on one in-memory
// file and FSSTAT, FSINFO and PATHCONF with values a test sets, with switches for the replies
// no real server sends, and a record of every READ and WRITE it got.
#ifndef TESTS_NFS_NFS3DATASCRIPTED_H
#define TESTS_NFS_NFS3DATASCRIPTED_H

#include "server/scriptedServer.h"

#include <brisnel/nfs3Xdr.h>
#include <kernel/hostLib.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace data3 {

struct Transfer {
    uint64_t offset;
    uint32_t count;
    stable_how stable; // WRITE only
};

// What the handlers answer and what they saw; shared with the server's thread.
struct State {
    std::mutex lock;
    std::vector<char> file;
    fattr3 attributes{};
    // READ
    uint32_t readLimit = UINT32_MAX; // most bytes per reply
    uint32_t readExtra = 0;          // bytes sent beyond the count asked
    bool readCountDisagrees = false; // count one less than the data carried
    nfsstat3 readStatus = NFS3_OK;
    bool readAttributes = true;
    // WRITE
    uint32_t writeLimit = UINT32_MAX; // most bytes taken per call (0: none)
    std::optional<stable_how> committed;
    nfsstat3 writeStatus = NFS3_OK;
    bool wccBefore = true;
    bool wccAfter = true;
    wcc_attr before{};
    // FSSTAT, FSINFO, PATHCONF
    FSSTAT3resok fsStat{};
    FSINFO3resok fsInfo{};
    PATHCONF3resok pathconf{};
    nfsstat3 fsStatus = NFS3_OK;

    std::vector<Transfer> reads;
    std::vector<Transfer> writes;
};

template <typename Args> bool decodeArgs(XDR *xdrs, bool_t (*routine)(XDR *, Args *), Args *args)
{
    return routine(xdrs, args) != 0;
}

template <typename Args> void freeArgs(bool_t (*routine)(XDR *, Args *), Args *args)
{
    xdr_free(reinterpret_cast<xdrproc_t>(reinterpret_cast<void (*)()>(routine)),
             reinterpret_cast<char *>(args));
}

class Server {
public:
    // Over UDP, and also over TCP when asked.
    Server(const std::string &address, const std::string &hostName, bool tcp = false)
        : hostName_(hostName), address_(address)
    {
        std::string error;
        server_ = scripted::ScriptedServer::start({address, 0, 111, tcp}, &error);
        EXPECT_NE(server_, nullptr) << error;
        EXPECT_EQ(hostAdd(hostName.c_str(), address.c_str()), 0);
        if (server_ == nullptr)
            return;
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_READ,
                        [this](const scripted::RpcCall &, XDR *x) { return read(x); });
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_WRITE,
                        [this](const scripted::RpcCall &, XDR *x) { return write(x); });
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_FSSTAT,
                        [this](const scripted::RpcCall &, XDR *) { return fsStat(); });
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_FSINFO,
                        [this](const scripted::RpcCall &, XDR *) { return fsInfo(); });
        server_->handle(NFS_PROGRAM, NFS_V3, NFSPROC3_PATHCONF,
                        [this](const scripted::RpcCall &, XDR *) { return pathconf(); });
    }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;
    ~Server()
    {
        server_.reset();
        hostDelete(hostName_.c_str(), address_.c_str());
    }

    bool ok() const { return server_ != nullptr; }
    const char *host() const { return hostName_.c_str(); }
    State &state() { return state_; }
    scripted::ScriptedServer &server() { return *server_; }
    uint64_t calls(uint32_t proc) const { return server_->callCount(NFS_PROGRAM, NFS_V3, proc); }

private:
    scripted::Reply read(XDR *xdrs)
    {
        READ3args args{};
        const bool decoded = decodeArgs(xdrs, xdr_READ3args, &args);
        const uint64_t offset = args.offset;
        const uint32_t asked = args.count;
        freeArgs(xdr_READ3args, &args);
        if (!decoded)
            return scripted::Reply::of(scripted::ReplyKind::garbageArgs);

        std::lock_guard guard(state_.lock);
        state_.reads.push_back({offset, asked, UNSTABLE});
        auto res = std::make_shared<READ3res>();
        auto data = std::make_shared<std::vector<char>>();
        res->status = state_.readStatus;
        post_op_attr &attrs = res->status == NFS3_OK ? res->READ3res_u.resok.file_attributes
                                                     : res->READ3res_u.resfail.file_attributes;
        attrs.attributes_follow = state_.readAttributes;
        attrs.post_op_attr_u.attributes = state_.attributes;
        if (res->status == NFS3_OK) {
            const uint64_t size = state_.file.size();
            const uint64_t available = offset < size ? size - offset : 0;
            auto n = static_cast<std::size_t>(std::min<uint64_t>({asked, state_.readLimit, available}));
            const bool eof = offset + n >= size;
            data->assign(state_.file.begin() + static_cast<std::ptrdiff_t>(std::min<uint64_t>(offset, size)),
                         state_.file.begin() +
                             static_cast<std::ptrdiff_t>(std::min<uint64_t>(offset, size) + n));
            data->resize(n + state_.readExtra, '\x7e');
            READ3resok &ok = res->READ3res_u.resok;
            ok.count = static_cast<uint32_t>(data->size()) - (state_.readCountDisagrees ? 1U : 0U);
            ok.eof = eof;
        }
        return scripted::Reply::ok([res, data](XDR *out) {
            res->READ3res_u.resok.data.data_len = static_cast<u_int>(data->size());
            res->READ3res_u.resok.data.data_val = data->data();
            return xdr_READ3res(out, res.get()) != 0;
        });
    }

    scripted::Reply write(XDR *xdrs)
    {
        WRITE3args args{};
        const bool decoded = decodeArgs(xdrs, xdr_WRITE3args, &args);
        const Transfer transfer{args.offset, args.count, args.stable};
        const std::vector<char> bytes(args.data.data_val,
                                      args.data.data_val + (decoded ? args.data.data_len : 0));
        freeArgs(xdr_WRITE3args, &args);
        if (!decoded)
            return scripted::Reply::of(scripted::ReplyKind::garbageArgs);

        std::lock_guard guard(state_.lock);
        state_.writes.push_back(transfer);
        WRITE3res res{};
        res.status = state_.writeStatus;
        wcc_data &wcc =
            res.status == NFS3_OK ? res.WRITE3res_u.resok.file_wcc : res.WRITE3res_u.resfail.file_wcc;
        if (res.status == NFS3_OK) {
            const std::size_t taken = std::min<std::size_t>(bytes.size(), state_.writeLimit);
            const auto end = static_cast<std::size_t>(transfer.offset + taken);
            if (state_.file.size() < end)
                state_.file.resize(end);
            std::copy_n(bytes.begin(), taken,
                        state_.file.begin() + static_cast<std::ptrdiff_t>(transfer.offset));
            state_.attributes.size = state_.file.size();
            res.WRITE3res_u.resok.count = static_cast<uint32_t>(taken);
            res.WRITE3res_u.resok.committed = state_.committed.value_or(transfer.stable);
        }
        wcc.before.attributes_follow = state_.wccBefore;
        wcc.before.pre_op_attr_u.attributes = state_.before;
        wcc.after.attributes_follow = state_.wccAfter;
        wcc.after.post_op_attr_u.attributes = state_.attributes;
        return scripted::Reply::ok(xdr_WRITE3res, res);
    }

    scripted::Reply fsStat()
    {
        std::lock_guard guard(state_.lock);
        FSSTAT3res res{};
        res.status = state_.fsStatus;
        if (res.status == NFS3_OK)
            res.FSSTAT3res_u.resok = state_.fsStat;
        return scripted::Reply::ok(xdr_FSSTAT3res, res);
    }

    scripted::Reply fsInfo()
    {
        std::lock_guard guard(state_.lock);
        FSINFO3res res{};
        res.status = state_.fsStatus;
        if (res.status == NFS3_OK)
            res.FSINFO3res_u.resok = state_.fsInfo;
        return scripted::Reply::ok(xdr_FSINFO3res, res);
    }

    scripted::Reply pathconf()
    {
        std::lock_guard guard(state_.lock);
        PATHCONF3res res{};
        res.status = state_.fsStatus;
        if (res.status == NFS3_OK)
            res.PATHCONF3res_u.resok = state_.pathconf;
        return scripted::Reply::ok(xdr_PATHCONF3res, res);
    }

    std::string hostName_;
    std::string address_;
    State state_;
    std::unique_ptr<scripted::ScriptedServer> server_;
};

} // namespace data3

#endif
