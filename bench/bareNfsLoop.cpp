// The bare READ and WRITE loop: version 3 arguments and results encoded by hand with the XDR
// primitives, on one UDP handle of the RPC library.
#include "bareNfsLoop.h"

#include <brisnel/nfs3Drv.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/hostLib.h>

#include <arpa/inet.h>
#include <netinet/in.h>

#include <cstring>

namespace bench {

namespace {

constexpr uint32_t kNfs = 100003;
constexpr uint32_t kRead = 6;
constexpr uint32_t kWrite = 7;
constexpr uint32_t kLookup = 3;
constexpr u_int kAttrBytes = 84; // fattr3
constexpr timeval kTotal{25, 0};

struct ReadArgs {
    std::vector<char> *fh;
    uint64_t offset;
    uint32_t count;
};
struct ReadResult {
    char *buffer;
    uint32_t room;
    uint32_t status;
    uint32_t count;
    bool_t eof;
};
struct WriteArgs {
    std::vector<char> *fh;
    uint64_t offset;
    uint32_t count;
    char *data;
};

bool_t handle(XDR *xdrs, std::vector<char> *fh)
{
    char *bytes = fh->data();
    u_int length = static_cast<u_int>(fh->size());
    return xdr_bytes(xdrs, &bytes, &length, 64);
}

bool_t encodeRead(XDR *xdrs, ReadArgs *args)
{
    uint64_t offset = args->offset;
    u_int count = args->count;
    return handle(xdrs, args->fh) && xdr_uint64_t(xdrs, &offset) && xdr_u_int(xdrs, &count);
}

bool_t skipPostOpAttr(XDR *xdrs)
{
    bool_t follows = FALSE;
    char attr[kAttrBytes];
    return xdr_bool(xdrs, &follows) && (follows == FALSE || xdr_opaque(xdrs, attr, kAttrBytes));
}

bool_t decodeRead(XDR *xdrs, ReadResult *res)
{
    u_int status = 0;
    if (!xdr_u_int(xdrs, &status) || !skipPostOpAttr(xdrs))
        return FALSE;
    res->status = status;
    if (status != 0)
        return TRUE;
    u_int count = 0;
    char *buffer = res->buffer;
    u_int length = 0;
    if (!xdr_u_int(xdrs, &count) || !xdr_bool(xdrs, &res->eof) ||
        !xdr_bytes(xdrs, &buffer, &length, res->room))
        return FALSE;
    res->count = length;
    return TRUE;
}

bool_t encodeWrite(XDR *xdrs, WriteArgs *args)
{
    uint64_t offset = args->offset;
    u_int count = args->count;
    u_int stable = 0;
    char *data = args->data;
    u_int length = args->count;
    return handle(xdrs, args->fh) && xdr_uint64_t(xdrs, &offset) && xdr_u_int(xdrs, &count) &&
           xdr_u_int(xdrs, &stable) && xdr_bytes(xdrs, &data, &length, args->count);
}

// WRITE3res: the status and what follows it, unread (the result is not used).
bool_t decodeWrite(XDR *xdrs, uint32_t *status)
{
    u_int value = 0;
    if (!xdr_u_int(xdrs, &value))
        return FALSE;
    *status = value;
    return TRUE;
}

} // namespace

BareNfsLoop::BareNfsLoop(const std::string &host, const std::string &exportPath, const std::string &name,
                         uint32_t largestTransfer)
    : data_(largestTransfer + 1024)
{
    std::vector<char> root(64);
    nfs_fh3 rootFh{};
    rootFh.data.data_val = root.data();
    if (nfs3DirMount(host.c_str(), exportPath.c_str(), &rootFh) != 0)
        return;
    root.resize(rootFh.data.data_len);

    LOOKUP3args args{};
    args.what.dir = rootFh;
    std::string component = name;
    args.what.name = component.data();
    LOOKUP3res res{};
    if (nfsClientCall(host.c_str(), kNfs, 3, kLookup, nfsXdrProc(xdr_LOOKUP3args), &args,
                      nfsXdrProc(xdr_LOOKUP3res), &res) != 0)
        return;
    if (res.status == NFS3_OK) {
        const nfs_fh3 &object = res.LOOKUP3res_u.resok.object;
        fh_.assign(object.data.data_val, object.data.data_val + object.data.data_len);
    }
    clnt_freeres(nfsRpcClientCurrent()->pClient, nfsXdrProc(xdr_LOOKUP3res), reinterpret_cast<caddr_t>(&res));

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = static_cast<in_addr_t>(hostGetByName(host.c_str()));
    int socket = -1;
    const u_int size = largestTransfer + 1024;
    handle_ = clntudp_bufcreate(&address, kNfs, 3, timeval{5, 0}, &socket, size, size);
    if (handle_ != nullptr) {
        const int bytes = static_cast<int>(size) * 2;
        setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
        setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
        handle_->cl_auth = authunix_create_default();
    }
}

BareNfsLoop::~BareNfsLoop()
{
    if (handle_ == nullptr)
        return;
    auth_destroy(handle_->cl_auth);
    clnt_destroy(handle_);
}

bool BareNfsLoop::read(uint64_t offset, uint32_t count, uint32_t *got, bool *eof)
{
    ReadArgs args{&fh_, offset, count};
    ReadResult res{data_.data(), static_cast<uint32_t>(data_.size()), 0, 0, FALSE};
    if (clnt_call(handle_, kRead, nfsXdrProc(encodeRead), reinterpret_cast<caddr_t>(&args),
                  nfsXdrProc(decodeRead), reinterpret_cast<caddr_t>(&res), kTotal) != RPC_SUCCESS ||
        res.status != 0)
        return false;
    *got = res.count;
    *eof = res.eof != FALSE;
    return true;
}

bool BareNfsLoop::write(uint64_t offset, uint32_t count)
{
    WriteArgs args{&fh_, offset, count, data_.data()};
    uint32_t status = 0;
    return clnt_call(handle_, kWrite, nfsXdrProc(encodeWrite), reinterpret_cast<caddr_t>(&args),
                     nfsXdrProc(decodeWrite), reinterpret_cast<caddr_t>(&status), kTotal) == RPC_SUCCESS &&
           status == 0;
}

uint64_t BareNfsLoop::readAll(uint32_t transfer)
{
    uint64_t offset = 0;
    for (;;) {
        uint32_t got = 0;
        bool eof = false;
        if (!read(offset, transfer, &got, &eof))
            return 0;
        offset += got;
        if (got == 0)
            return offset;
    }
}

bool BareNfsLoop::writeAll(uint64_t size, uint32_t lineSize, uint32_t transfer, bool fillLines)
{
    for (uint64_t line = 0; line < size; line += lineSize) {
        uint32_t got = 0;
        bool eof = false;
        if (fillLines && !read(line, lineSize < transfer ? lineSize : transfer, &got, &eof))
            return false;
        for (uint64_t at = line; at < line + lineSize && at < size; at += transfer) {
            if (!write(at, transfer))
                return false;
        }
    }
    return true;
}

} // namespace bench
