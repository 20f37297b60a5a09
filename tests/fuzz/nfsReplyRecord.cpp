// Records the seed corpora from real peers (run by tools/fuzz-seeds.sh):
//   nfsReplyRecord nfs DIR    beside the NFS peers: DIR/xdrResultsFuzz gets MOUNT, NFS version 3
//                             and portmapper reply bodies, DIR/nfsNameOpsFuzz the replies the
//                             directory reading and lookups of a small tree meet
//   nfsReplyRecord sntp DIR   beside the time server: its replies and a broadcast, as datagrams
// The remote call here is a real one that keeps the reply's result bytes as the input's next
// chunk, then decodes them as the harness does.
#include "nfsNameOpsDrive.h"

#include "rpc/nfsRemoteCall.h"

#include <brisnel/mount1Xdr.h>
#include <brisnel/mount3Xdr.h>
#include <brisnel/nfsRpcLib.h>
#include <kernel/errnoLib.h>
#include <kernel/kernelErrno.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <rpc/pmap_prot.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string *recording = nullptr; // the input being recorded, if any

// A result filter that keeps the result's bytes, a word at a time.
bool_t bodyKeep(XDR *xdrs, std::string *body)
{
    u_int word = 0;
    while (xdr_u_int(xdrs, &word) != 0) {
        for (int shift = 24; shift >= 0; shift -= 8)
            body->push_back(static_cast<char>(word >> shift & 0xff));
    }
    return TRUE;
}

bool rawCall(const char *host, uint32_t prog, uint32_t vers, uint32_t proc, xdrproc_t inproc, void *in,
             std::string *body)
{
    sockaddr_in server{}; // the port from the portmapper
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = inet_addr(host);
    const timeval wait{5, 0};
    int socket = RPC_ANYSOCK;
    CLIENT *client = clntudp_create(&server, prog, vers, wait, &socket);
    if (client == nullptr)
        return false;
    auth_destroy(client->cl_auth);
    client->cl_auth = authunix_create_default();
    const clnt_stat status = clnt_call(client, proc, inproc, static_cast<caddr_t>(in), nfsXdrProc(bodyKeep),
                                       reinterpret_cast<caddr_t>(body), wait);
    auth_destroy(client->cl_auth);
    clnt_destroy(client);
    return status == RPC_SUCCESS;
}

bool filterRun(xdrproc_t proc, void *object, std::string *bytes, xdr_op op)
{
    XDR xdr;
    xdrmem_create(&xdr, bytes->data(), static_cast<u_int>(bytes->size()), op);
    auto *where = static_cast<caddr_t>(object);
    const bool done = xdr_reference(&xdr, &where, 0, proc) != 0;
    xdr_destroy(&xdr);
    return done;
}

void fileWrite(const fs::path &file, const std::string &bytes)
{
    std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// One call whose reply body becomes the xdrResultsFuzz seed `name`, after its decoder's number.
void resultRecord(const fs::path &dir, const char *name, uint8_t decoder, uint32_t prog, uint32_t vers,
                  uint32_t proc, xdrproc_t inproc, void *in)
{
    std::string body;
    if (!rawCall(std::getenv("RT_NFS_HOST"), prog, vers, proc, inproc, in, &body)) {
        std::cerr << "nfsReplyRecord: no reply for " << name << "\n";
        std::exit(1);
    }
    fileWrite(dir / name, std::string(1, static_cast<char>(decoder)) + body);
}

// The tree the lookups and listings meet, made on the server's side.
void treeMake(const fs::path &root)
{
    fs::create_directories(root / "a" / "b");
    std::ofstream(root / "a" / "b" / "x") << "x\n";
    std::ofstream(root / "f") << "file\n";
    fs::create_symlink("b", root / "a" / "l");
    fs::create_symlink("/a/b", root / "abs");
    fs::create_symlink("loop", root / "loop");
}

// The bytes an XDR routine gives for value.
template <typename T> std::string encoded(bool_t (*routine)(XDR *, T *), T value)
{
    std::array<char, 1024> bytes{};
    XDR xdr;
    xdrmem_create(&xdr, bytes.data(), bytes.size(), XDR_ENCODE);
    routine(&xdr, &value);
    std::string body(bytes.data(), xdr_getpos(&xdr));
    xdr_destroy(&xdr);
    return body;
}

// The same, as a chunk of input.
template <typename T> void chunkEncode(std::string *input, bool_t (*routine)(XDR *, T *), T value)
{
    nameops::chunkAppend(input, encoded(routine, value));
}

diropres found2(char id, ftype type)
{
    diropres res{};
    res.diropres_u.diropres.file[0] = id;
    res.diropres_u.diropres.attributes.type = type;
    return res;
}

// No real server speaks version 2: its inputs are encoded here, for the same tree.
void version2Write(const fs::path &names)
{
    std::string dir(1, static_cast<char>(nameops::kDirRead2));
    std::array<std::string, 3> entryNames{"a", "abs", "f"};
    std::array<entry, 3> entries{};
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i].fileid = static_cast<u_int>(i + 1);
        entries[i].name = entryNames[i].data();
        entries[i].cookie[3] = static_cast<char>(i + 1);
    }
    entries[0].nextentry = &entries[1];
    readdirres batch{};
    batch.readdirres_u.reply = {entries.data(), FALSE}; // a, abs
    chunkEncode(&dir, xdr_readdirres, batch);
    entries[1].nextentry = nullptr;
    batch.readdirres_u.reply = {&entries[2], TRUE}; // f, the end
    chunkEncode(&dir, xdr_readdirres, batch);
    fileWrite(names / "dir2", dir);

    std::string lookUp(1, static_cast<char>(nameops::kLookUp2));
    nameops::chunkAppend(&lookUp, "a/l/x");
    chunkEncode(&lookUp, xdr_diropres, found2('a', NFDIR));
    chunkEncode(&lookUp, xdr_diropres, found2('l', NFLNK));
    std::string text = "b";
    readlinkres link{};
    link.readlinkres_u.data = text.data();
    chunkEncode(&lookUp, xdr_readlinkres, link);
    chunkEncode(&lookUp, xdr_diropres, found2('a', NFDIR));
    chunkEncode(&lookUp, xdr_diropres, found2('b', NFDIR));
    chunkEncode(&lookUp, xdr_diropres, found2('x', NFREG));
    fileWrite(names / "lookup2-link", lookUp);
}

// Version 2 and MOUNT version 1 result bodies for xdrResultsFuzz, encoded here as well.
void version2ResultsWrite(const fs::path &results)
{
    const auto seed = [&](const char *name, uint8_t decoder, auto routine, auto value) {
        fileWrite(results / name, std::string(1, static_cast<char>(decoder)) + encoded(routine, value));
    };
    fattr attributes{};
    attributes.type = NFREG;
    attributes.mode = 0100644;
    attributes.nlink = 1;
    attributes.size = 5;
    attributes.fileid = 7;
    attrstat attr{};
    attr.attrstat_u.attributes = attributes;
    seed("nfs2-getattr", 21, xdr_attrstat, attr);
    seed("nfs2-lookup", 22, xdr_diropres, found2('f', NFREG));
    std::string text = "b";
    readlinkres link{};
    link.readlinkres_u.data = text.data();
    seed("nfs2-readlink", 23, xdr_readlinkres, link);
    std::string bytes = "file\n";
    readres read{};
    read.readres_u.reply = {attributes, {static_cast<u_int>(bytes.size()), bytes.data()}};
    seed("nfs2-read", 24, xdr_readres, read);
    std::string entryName = "f";
    entry only{};
    only.fileid = 7;
    only.name = entryName.data();
    only.cookie[3] = 1;
    readdirres dir{};
    dir.readdirres_u.reply = {&only, TRUE};
    seed("nfs2-readdir", 25, xdr_readdirres, dir);
    statfsres statfs{};
    statfs.statfsres_u.reply = {8192, 4096, 1000, 500, 400};
    seed("nfs2-statfs", 26, xdr_statfsres, statfs);
    fhstatus mounted{};
    mounted.fhstatus_u.directory[0] = 'r';
    seed("mount1-mnt", 27, xdr_fhstatus, mounted);
}

nfs_fh3 lookUp(const char *host, const nfs_fh3 &dir, const char *name, char *buffer)
{
    LOOKUP3args args{};
    args.what = {dir, const_cast<char *>(name)};
    LOOKUP3res res{};
    res.LOOKUP3res_u.resok.object.data.data_val = buffer;
    if (nfsClientCall(host, NFS_PROGRAM, NFS_V3, NFSPROC3_LOOKUP, nfsXdrProc(xdr_LOOKUP3args), &args,
                      nfsXdrProc(xdr_LOOKUP3res), &res) != 0 ||
        res.status != NFS3_OK) {
        std::cerr << "nfsReplyRecord: no " << name << "\n";
        std::exit(1);
    }
    const nfs_fh3 found = res.LOOKUP3res_u.resok.object;
    res.LOOKUP3res_u.resok.object.data.data_val = nullptr;
    xdr_free(nfsXdrProc(xdr_LOOKUP3res), reinterpret_cast<char *>(&res));
    return found;
}

int nfsRecord(const fs::path &out)
{
    const char *host = std::getenv("RT_NFS_HOST");
    const char *exportPath = std::getenv("RT_NFS_EXPORT");
    if (host == nullptr || exportPath == nullptr || std::getenv("RT_NFS_EXPORT_DIR") == nullptr) {
        std::cerr << "nfsReplyRecord: run beside the NFS peers\n";
        return 2;
    }
    treeMake(std::getenv("RT_NFS_EXPORT_DIR"));
    const fs::path results = out / "xdrResultsFuzz";
    const fs::path names = out / "nfsNameOpsFuzz";
    fs::create_directories(results);
    fs::create_directories(names);

    // MOUNT: the root handle, the export list and the mount list.
    std::array<char, FHSIZE3> rootBuffer{};
    char *dirPath = const_cast<char *>(exportPath);
    mountres3 mounted{};
    mounted.mountres3_u.mountinfo.fhandle.fhandle3_val = rootBuffer.data();
    if (nfsClientCall(host, MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_MNT, nfsXdrProc(xdr_dirpath), &dirPath,
                      nfsXdrProc(xdr_mountres3), &mounted) != 0 ||
        mounted.fhs_status != MNT3_OK) {
        std::cerr << "nfsReplyRecord: the export does not mount\n";
        return 1;
    }
    const nfs_fh3 root{{mounted.mountres3_u.mountinfo.fhandle.fhandle3_len, rootBuffer.data()}};
    mounted.mountres3_u.mountinfo.fhandle.fhandle3_val = nullptr;
    xdr_free(nfsXdrProc(xdr_mountres3), reinterpret_cast<char *>(&mounted));
    const xdrproc_t none = nfsXdrProc(xdr_void);
    resultRecord(results, "mount3-mnt", 28, MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_MNT, nfsXdrProc(xdr_dirpath),
                 &dirPath);
    resultRecord(results, "mount3-export", 29, MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_EXPORT, none, nullptr);
    resultRecord(results, "mount3-dump", 30, MOUNT_PROGRAM, MOUNT_V3, MOUNTPROC3_DUMP, none, nullptr);
    resultRecord(results, "pmap-dump", 31, PMAPPROG, PMAPVERS, PMAPPROC_DUMP, none, nullptr);

    // NFS version 3 results on the tree.
    std::array<std::array<char, NFS3_FHSIZE>, 3> buffers{};
    const nfs_fh3 linkFh = lookUp(host, lookUp(host, root, "a", buffers[0].data()), "l", buffers[1].data());
    const nfs_fh3 fileFh = lookUp(host, root, "f", buffers[2].data());
    GETATTR3args getattr{root};
    ACCESS3args access{root, 0x3f};
    FSINFO3args fsinfo{root};
    PATHCONF3args pathconf{root};
    READLINK3args readlink{linkFh};
    READ3args read{fileFh, 0, 4096};
    std::string nameA = "a";
    std::string nameMissing = "missing";
    LOOKUP3args found{};
    found.what = {root, nameA.data()};
    LOOKUP3args missing{};
    missing.what = {root, nameMissing.data()};
    READDIR3args readdir{root, 0, {}, 4096};
    READDIRPLUS3args readdirplus{root, 0, {}, 1024, 4096};
    const auto nfs = [&](const char *name, uint8_t decoder, uint32_t call, xdrproc_t inproc, void *in) {
        resultRecord(results, name, decoder, NFS_PROGRAM, NFS_V3, call, inproc, in);
    };
    nfs("nfs3-getattr", 5, NFSPROC3_GETATTR, nfsXdrProc(xdr_GETATTR3args), &getattr);
    nfs("nfs3-access", 0, NFSPROC3_ACCESS, nfsXdrProc(xdr_ACCESS3args), &access);
    nfs("nfs3-fsinfo", 3, NFSPROC3_FSINFO, nfsXdrProc(xdr_FSINFO3args), &fsinfo);
    nfs("nfs3-fsstat", 4, NFSPROC3_FSSTAT, nfsXdrProc(xdr_FSSTAT3args), &fsinfo);
    nfs("nfs3-pathconf", 10, NFSPROC3_PATHCONF, nfsXdrProc(xdr_PATHCONF3args), &pathconf);
    nfs("nfs3-readlink", 14, NFSPROC3_READLINK, nfsXdrProc(xdr_READLINK3args), &readlink);
    nfs("nfs3-read", 11, NFSPROC3_READ, nfsXdrProc(xdr_READ3args), &read);
    nfs("nfs3-lookup", 7, NFSPROC3_LOOKUP, nfsXdrProc(xdr_LOOKUP3args), &found);
    nfs("nfs3-lookup-noent", 7, NFSPROC3_LOOKUP, nfsXdrProc(xdr_LOOKUP3args), &missing);
    nfs("nfs3-readdir", 12, NFSPROC3_READDIR, nfsXdrProc(xdr_READDIR3args), &readdir);
    nfs("nfs3-readdirplus", 13, NFSPROC3_READDIRPLUS, nfsXdrProc(xdr_READDIRPLUS3args), &readdirplus);

    // The changing operations, on names of their own in the root: each reply once.
    std::string nameNew = "new", nameDir = "dir", nameLink = "sym", nameHard = "hard", nameMoved = "moved";
    std::string nameFifo = "fifo", target = "new";
    CREATE3args create{};
    create.where = {root, nameNew.data()};
    create.how.mode = UNCHECKED;
    create.how.createhow3_u.obj_attributes.mode = {TRUE, {0644}};
    nfs("nfs3-create", 2, NFSPROC3_CREATE, nfsXdrProc(xdr_CREATE3args), &create);
    std::array<char, NFS3_FHSIZE> newBuffer{};
    const nfs_fh3 newFh = lookUp(host, root, "new", newBuffer.data());
    std::string data = "written\n";
    WRITE3args write{
        newFh, 0, static_cast<count3>(data.size()), UNSTABLE, {static_cast<u_int>(data.size()), data.data()}};
    nfs("nfs3-write", 20, NFSPROC3_WRITE, nfsXdrProc(xdr_WRITE3args), &write);
    COMMIT3args commit{newFh, 0, 0};
    nfs("nfs3-commit", 1, NFSPROC3_COMMIT, nfsXdrProc(xdr_COMMIT3args), &commit);
    SETATTR3args setattr{};
    setattr.object = newFh;
    setattr.new_attributes.mode = {TRUE, {0600}};
    nfs("nfs3-setattr", 18, NFSPROC3_SETATTR, nfsXdrProc(xdr_SETATTR3args), &setattr);
    MKDIR3args mkdir{};
    mkdir.where = {root, nameDir.data()};
    mkdir.attributes.mode = {TRUE, {0755}};
    nfs("nfs3-mkdir", 8, NFSPROC3_MKDIR, nfsXdrProc(xdr_MKDIR3args), &mkdir);
    SYMLINK3args symlink{};
    symlink.where = {root, nameLink.data()};
    symlink.symlink.symlink_data = target.data();
    nfs("nfs3-symlink", 19, NFSPROC3_SYMLINK, nfsXdrProc(xdr_SYMLINK3args), &symlink);
    MKNOD3args mknod{};
    mknod.where = {root, nameFifo.data()};
    mknod.what.type = NF3FIFO;
    nfs("nfs3-mknod", 9, NFSPROC3_MKNOD, nfsXdrProc(xdr_MKNOD3args), &mknod);
    LINK3args hardLink{newFh, {root, nameHard.data()}};
    nfs("nfs3-link", 6, NFSPROC3_LINK, nfsXdrProc(xdr_LINK3args), &hardLink);
    RENAME3args rename{{root, nameHard.data()}, {root, nameMoved.data()}};
    nfs("nfs3-rename", 16, NFSPROC3_RENAME, nfsXdrProc(xdr_RENAME3args), &rename);
    REMOVE3args remove{{root, nameMoved.data()}};
    nfs("nfs3-remove", 15, NFSPROC3_REMOVE, nfsXdrProc(xdr_REMOVE3args), &remove);
    RMDIR3args rmdir{{root, nameDir.data()}};
    nfs("nfs3-rmdir", 17, NFSPROC3_RMDIR, nfsXdrProc(xdr_RMDIR3args), &rmdir);
    version2ResultsWrite(results);

    // The name operations' inputs: a choice, a lookup's path, then each reply's result.
    struct Walk {
        const char *name;
        uint8_t choice;
        const char *path;
        int32_t batchSize; // nfs3MaxRddirSz for a listing
    };
    constexpr std::array walks{
        Walk{"dir3", nameops::kDirRead3, nullptr, 0},
        Walk{"dir3-batches", nameops::kDirRead3, nullptr, 160},
        Walk{"lookup3-plain", nameops::kLookUp3, "a/b/x", 0},
        Walk{"lookup3-link", nameops::kLookUp3, "a/l/x", 0},
        Walk{"lookup3-absolute", nameops::kLookUp3, "abs/x", 0},
        Walk{"lookup3-nofollow", nameops::kLookUp3 | nameops::kNoFollowLast, "a/l", 0},
        Walk{"lookup3-loop", nameops::kLookUp3, "loop", 0},
        Walk{"lookup3-noent", nameops::kLookUp3, "a/missing", 0},
        Walk{"lookup3-notdir", nameops::kLookUp3, "f/x", 0},
    };
    const nfs_fh2 noHandle2{};
    for (const Walk &walk : walks) {
        std::string input(1, static_cast<char>(walk.choice));
        const std::string path = walk.path != nullptr ? walk.path : "";
        if (walk.path != nullptr)
            nameops::chunkAppend(&input, path);
        nfs3MaxRddirSz = walk.batchSize;
        recording = &input;
        nameops::drive(walk.choice, host, root, noHandle2, path);
        recording = nullptr;
        fileWrite(names / walk.name, input);
    }
    version2Write(names);
    return 0;
}

// Replies to requests of versions 4, 3 and 1, the unsynchronised server's reply (stratum 0)
// when it runs, and one broadcast.
int sntpRecord(const fs::path &out)
{
    const char *port = std::getenv("SNTPC_CHRONY_PORT");
    const char *broadcastPort = std::getenv("SNTPC_CHRONY_BROADCAST_PORT");
    if (port == nullptr || broadcastPort == nullptr) {
        std::cerr << "nfsReplyRecord: run beside the time server\n";
        return 2;
    }
    fs::create_directories(out);
    const int sock = socket(AF_INET, SOCK_DGRAM, 0);
    const timeval wait{2, 0};
    setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.sin_port = htons(static_cast<uint16_t>(std::atoi(port)));
    std::array<char, 512> reply{};
    struct Exchange {
        const char *port;
        int version;
        std::string name;
    };
    std::vector<Exchange> exchanges{{port, 4, "reply-v4"}, {port, 3, "reply-v3"}, {port, 1, "reply-v1"}};
    if (const char *unsyncPort = std::getenv("SNTPC_CHRONY_UNSYNC_PORT"))
        exchanges.push_back({unsyncPort, 4, "reply-unsynchronised"});
    for (const Exchange &exchange : exchanges) {
        server.sin_port = htons(static_cast<uint16_t>(std::atoi(exchange.port)));
        std::array<char, 48> request{};
        request[0] = static_cast<char>(exchange.version << 3 | 3);
        request[40] = static_cast<char>(0xe0 + exchange.version); // a transmit time to be echoed
        ssize_t length = -1;
        for (int attempt = 0; attempt < 5 && length < 0; ++attempt) {
            sendto(sock, request.data(), request.size(), 0, reinterpret_cast<sockaddr *>(&server),
                   sizeof server);
            length = recv(sock, reply.data(), reply.size(), 0);
        }
        if (length < 0) {
            std::cerr << "nfsReplyRecord: no reply for " << exchange.name << "\n";
            return 1;
        }
        fileWrite(out / exchange.name, std::string(reply.data(), static_cast<std::size_t>(length)));
    }
    close(sock);

    const int listener = socket(AF_INET, SOCK_DGRAM, 0);
    setsockopt(listener, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    sockaddr_in local = server;
    local.sin_port = htons(static_cast<uint16_t>(std::atoi(broadcastPort)));
    ssize_t length = -1;
    if (bind(listener, reinterpret_cast<sockaddr *>(&local), sizeof local) == 0) {
        for (int attempt = 0; attempt < 3 && length < 0; ++attempt)
            length = recv(listener, reply.data(), reply.size(), 0);
    }
    close(listener);
    if (length > 0)
        fileWrite(out / "broadcast", std::string(reply.data(), static_cast<std::size_t>(length)));
    return 0;
}

} // namespace

// The call on the task's handle, recorded: 0 or the error number of the failure.
int nfsrpc::exchange(const Peer &peer, uint32_t proc, xdrproc_t inproc, const void *in, xdrproc_t outproc,
                     void *out)
{
    if (nfsInit() == -1)
        return errnoGet();
    std::string body;
    if (!rawCall(peer.host, peer.prog, peer.vers, proc, inproc, const_cast<void *>(in), &body))
        return K_RPC_CLNT_ERRNO_BASE | RPC_TIMEDOUT;
    if (recording != nullptr)
        nameops::chunkAppend(recording, body);
    if (filterRun(outproc, out, &body, XDR_DECODE))
        return 0;
    return K_RPC_CLNT_ERRNO_BASE | RPC_CANTDECODERES;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: nfsReplyRecord nfs|sntp DIR\n";
        return 2;
    }
    const std::string mode = argv[1];
    return mode == "nfs" ? nfsRecord(argv[2]) : mode == "sntp" ? sntpRecord(argv[2]) : 2;
}
