// Module-private: NFS version 2 as the shared name operations (nfsNameOps.h) see it. Handles
// are 32 bytes held inline; every LOOKUP reply carries the attributes; REMOVE, RMDIR and
// RENAME answer a bare status.
#ifndef NFS_OPS_NFS2PROTOCOL_H
#define NFS_OPS_NFS2PROTOCOL_H

#include "core/nfsCallSettings.h"
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "ops/nfs2Call.h"
#include "ops/nfsDataSpans.h"
#include "ops/nfsNameOps.h"
#include "ops/nfsOpsCall.h"
#include "ops/nfsProtocol.h"

#include <brisnel/nfs2Ops.h>
#include <brisnel/nfs2Xdr.h>

#include <kernel/kernelStat.h>

#include <cstddef>

struct Nfs2Protocol
    : NfsProtocolTypes<nfs_fh2, fattr, diropres, NFDIR, NFLNK, NFREG, NFSPROC_REMOVE, NFSPROC_RMDIR> {
    static constexpr int version = NFS_V2;
    // The I/O system's number of the version's driver, -1 until it is installed.
    static int32_t &drvNum() { return nfs2DrvNum; }
    using File = Nfs2OpenFile;
    using Device = Nfs2Device;
    // The dispatch words through which the cache moves a file's data; every write is stable,
    // so nothing waits for a COMMIT.
    static NfsFileRead2Fn readWord() { return pFuncNfs2FileRead; }
    static NfsFileWrite2Fn writeWord() { return pFuncNfs2FileWrite; }
    static NfsFileReadRanges2Fn readRangesWord() { return pFuncNfs2FileReadRanges; }
    static NfsFileWriteRanges2Fn writeRangesWord() { return pFuncNfs2FileWriteRanges; }
    static constexpr bool commits = false;

    // READs and WRITEs as the span code asks for them (nfs2FileData.cpp). Version 2 has no
    // end-of-file flag: a read ends with the first empty reply at or past the file's size. A
    // WRITE writes the whole piece or fails, and is stable: there is no level to choose.
    using ReadArgs = readargs;
    using ReadRes = readres;
    using WriteArgs = writeargs;
    using WriteRes = attrstat;
    enum class WriteLevel : uint8_t { stable };
    static constexpr nfsrpc::Coder<readargs> readArgsCoder = xdr_readargs;
    static constexpr nfsrpc::Coder<readres> readResCoder = xdr_readres;
    static constexpr nfsrpc::Coder<writeargs> writeArgsCoder = xdr_writeargs;
    static constexpr nfsrpc::Coder<attrstat> writeResCoder = xdr_attrstat;
    static constexpr uint32_t kReadProc = NFSPROC_READ;
    static constexpr uint32_t kWriteProc = NFSPROC_WRITE;
    static char **readBuffer(readres &res) { return &res.readres_u.reply.data.data_val; }
    static nfsrpc::Peer peer(const char *host) { return nfsops::nfs2Peer(host); }
    // Bytes of one READ and of one WRITE: the mount's sizes, within a version 2 message.
    static unsigned readMost() { return nfsCallReadSize(2); }
    static unsigned writeMost() { return nfsCallWriteSize(2); }
    static readargs readArgs(const nfs_fh2 &fh, uint64_t position, unsigned size)
    {
        readargs args{};
        nfs2ops::handleCopy(fh, &args.file);
        args.offset = static_cast<u_int>(position);
        args.count = size;
        return args;
    }
    static readres readInitial(char *destination, unsigned size)
    {
        readres initial{};
        initial.readres_u.reply.data.data_val = destination;
        initial.readres_u.reply.data.data_len = size;
        return initial;
    }
    // Without a flag, a reply reaching the file's size ends it.
    static bool readOutcome(const readres &res, uint64_t position, fattr *attr, unsigned *pCount, bool *pEof)
    {
        if (!nfsops::statusOk(res.status))
            return false;
        *attr = res.readres_u.reply.attributes;
        *pCount = res.readres_u.reply.data.data_len;
        *pEof = position + *pCount >= attr->size;
        return true;
    }
    // A piece completed one READ at a time, until it is whole or a reply brings nothing.
    static int readPiece(const char *host, nfs_fh2 *fh, uint64_t position, unsigned size, char *destination,
                         fattr *attr);
    static void readAlone(const char *host, nfs_fh2 *fh, nfsops::ReadSpan *pSpan, fattr *attr);
    static writeargs writeArgs(const nfs_fh2 &fh, uint64_t position, unsigned size, const char *data,
                               WriteLevel /*level*/)
    {
        writeargs args{};
        nfs2ops::handleCopy(fh, &args.file);
        args.offset = static_cast<u_int>(position);
        args.totalcount = size;
        args.data = {size, const_cast<char *>(data)}; // only encoded from
        return args;
    }
    static int accepted(const attrstat &res, WriteLevel /*level*/, unsigned sent, fattr * /*attr*/)
    {
        return nfsops::statusOk(res.status) ? static_cast<int>(sent) : -1;
    }
    static bool tookData(const attrstat &res) { return res.status == NFS_OK; }
    static void verdictAdd(const attrstat & /*res*/, NfsWriteVerdict * /*verdict*/) {}
    static void writeAlone(const char *host, nfs_fh2 *fh, nfsops::WriteSpan<attrstat> *pSpan, fattr *attr,
                           WriteLevel level);
    // REMOVE, RMDIR and RENAME: the directory, the name(s), a bare status.
    static nfsres::Status removeCall(const char *host, uint32_t proc, const nfs_fh2 &dir, char *name);
    // SETATTR; *attr takes the attributes after it.
    static nfsres::Status attrSet(const char *host, const nfs_fh2 &fh, const NfsAttrChange &change,
                                  fattr *attr);
    static nfsres::Status renameCall(const char *host, const nfs_fh2 &fromDir, char *fromName,
                                     const nfs_fh2 &toDir, char *toName);
    // The LOOKUP of one name in dir into res; the reply always carries the attributes.
    static nfsres::Status lookUpStep(const char *host, const nfs_fh2 &dir, char *name, diropres *res);
    static const fattr &attrOf(const diropres &res) { return res.diropres_u.diropres.attributes; }
    static const nfs_fh2 &objectOf(const diropres &res) { return res.diropres_u.diropres.file; }
    // READLINK: the text, terminated, into buf of NFS_MAX_PATH bytes.
    static nfsres::Status linkRead(const char *host, const nfs_fh2 &link, char *buf);
    static bool handleCopy(const nfs_fh2 &from, nfs_fh2 *to)
    {
        nfs2ops::handleCopy(from, to);
        return true;
    }

    // The parent of a new object: the caller's directory when the path has no components.
    class Parent {
    public:
        explicit Parent(nfs_fh2 *dirFh) : dirFh_(dirFh) {}
        nfsres::Result<int> run(const char *host, char *dirPath, const nfs_fh2 *mountFh)
        {
            nfs_fh2 scratch{};
            const nfsres::Result<int> found =
                nfsname::lookUpByName<Nfs2Protocol>(host, dirPath, mountFh, &res_, &scratch, 0);
            if (found.ok() && found.value() == 0 && attrOf(res_).type != NFNON)
                nfs2ops::handleCopy(objectOf(res_), dirFh_);
            return found;
        }
        const nfs_fh2 &dir() const { return *dirFh_; }

    private:
        diropres res_{};
        nfs_fh2 *dirFh_;
    };
    using CreateRes = diropres;
    // CREATE or MKDIR; unlike version 3 a directory gets no owner from its parent.
    // exclusive: nothing more than CREATE; the caller has looked the name up first.
    static nfsres::Status createCall(const char *host, const Parent &parent, char *name, int mode,
                                     diropres *res, bool exclusive);
    static const fattr &createdAttr(const diropres &res) { return attrOf(res); }
    static const nfs_fh2 *createdHandle(const diropres &res) { return &objectOf(res); }

    class OwnHandle {
    public:
        nfs_fh2 *get() { return &fh_; }

    private:
        nfs_fh2 fh_{};
    };

    // One look-up's result: the object and the directory that holds it.
    class Found {
    public:
        nfsres::Result<int> run(const char *host, char *path, const nfs_fh2 *mountFh, bool stopAtLink)
        {
            return nfsname::lookUpByName<Nfs2Protocol>(host, path, mountFh, &res_, dir_.get(),
                                                       stopAtLink ? 1 : 0);
        }
        const fattr &attr() const { return attrOf(res_); }
        const nfs_fh2 &object() const { return objectOf(res_); }
        const nfs_fh2 &dir() { return *dir_.get(); }
        bool walked() const { return attr().type != NFNON; }

    private:
        diropres res_{};
        OwnHandle dir_;
    };

    // GETATTR into *attr.
    static nfsres::Status attrGet(const char *host, const nfs_fh2 &fh, fattr *attr);
    // LINK of the file fh as name in dir; SYMLINK name in dir holding target.
    static nfsres::Status linkCall(const char *host, const nfs_fh2 &fh, const nfs_fh2 &dir, char *name);
    static nfsres::Status symlinkCall(const char *host, const nfs_fh2 &dir, char *name, const char *target);
    // The next entry of the open directory (nfsDirRead.h).
    static nfsres::Status dirReadOne(Nfs2OpenFile *pFile, KDIR *pDir);
    // MNT of dirPath into the 32 bytes at fhOut, and UMNTALL, over MOUNT version 1 (mountOps.cpp).
    static nfsres::Status dirMount(const char *host, const char *dirPath, unsigned char *fhOut);
    static nfsres::Status mntUnmountAll(const char *host);
    // STATFS of the file system fh is in.
    static nfsres::Status fsAttrGet(const char *host, const nfs_fh2 &fh, struct kstatfs *pFsStat);
    // READLINK: at most size bytes of the text into buffer, not terminated; the count.
    static nfsres::Result<int> linkTextGet(const char *host, const nfs_fh2 &fh, char *buffer,
                                           std::size_t size);
};
static_assert(NfsProtocol<Nfs2Protocol>);

#endif
