// Module-private: NFS version 3 as the shared name operations (nfsNameOps.h) see it. Handles
// are a length and a buffer their holder owns (64 bytes at most); a LOOKUP reply may leave
// the attributes out, and a GETATTR then fetches them.
#ifndef NFS_OPS_NFS3PROTOCOL_H
#define NFS_OPS_NFS3PROTOCOL_H

#include "core/nfsCallSettings.h"
#include "core/nfsConfig.h"
#include "core/nfsDispatch.h"
#include "ops/nfs3PathOps.h"
#include "ops/nfsDataSpans.h"
#include "ops/nfsNameOps.h"
#include "ops/nfsProtocol.h"
#include "ops/nfsOpsCall.h"

#include <brisnel/nfs3Ops.h>
#include <brisnel/nfs3Xdr.h>
#include <brisnel/nfsDrvLib.h>

#include <kernel/kernelStat.h>

#include <cstddef>

#include <array>

struct Nfs3Protocol
    : NfsProtocolTypes<nfs_fh3, fattr3, LOOKUP3res, NF3DIR, NF3LNK, NF3REG, NFSPROC3_REMOVE, NFSPROC3_RMDIR> {
    static constexpr int version = NFS_V3;
    // The I/O system's number of the version's driver, -1 until it is installed.
    static int32_t &drvNum() { return nfs3DrvNum; }
    using File = NfsOpenFile;
    using Device = NfsDevice;
    // The dispatch words through which the cache moves a file's data; writes that go out
    // UNSTABLE wait for a COMMIT (pFuncNfs3FileCommit).
    static NfsFileRead3Fn readWord() { return pFuncNfs3FileRead; }
    static NfsFileWriteRun3Fn writeWord() { return pFuncNfs3FileWriteRun; }
    static NfsFileReadRanges3Fn readRangesWord() { return pFuncNfs3FileReadRanges; }
    static NfsFileWriteRanges3Fn writeRangesWord() { return pFuncNfs3FileWriteRanges; }
    static NfsFileCommit3Fn commitWord() { return pFuncNfs3FileCommit; }
    static constexpr bool commits = true;

    // READs and WRITEs as the span code asks for them (nfs3FileRead.cpp, nfs3FileWrite.cpp):
    // decoded into and encoded from the caller's buffer; every WRITE of one write asks for the
    // stability level read once at its start.
    using ReadArgs = READ3args;
    using ReadRes = READ3res;
    using WriteArgs = WRITE3args;
    using WriteRes = WRITE3res;
    using WriteLevel = stable_how;
    static constexpr nfsrpc::Coder<READ3args> readArgsCoder = xdr_READ3args;
    static constexpr nfsrpc::Coder<READ3res> readResCoder = xdr_READ3res;
    static constexpr nfsrpc::Coder<WRITE3args> writeArgsCoder = xdr_WRITE3args;
    static constexpr nfsrpc::Coder<WRITE3res> writeResCoder = xdr_WRITE3res;
    static constexpr uint32_t kReadProc = NFSPROC3_READ;
    static constexpr uint32_t kWriteProc = NFSPROC3_WRITE;
    static char **readBuffer(READ3res &res) { return &res.READ3res_u.resok.data.data_val; }
    static nfsrpc::Peer peer(const char *host) { return nfsops::nfs3Peer(host); }
    // Bytes of one READ and of one WRITE: the mount's sizes, else nfs3MaxMsgLen.
    static unsigned readMost() { return nfsCallReadSize(3); }
    static unsigned writeMost() { return nfsCallWriteSize(3); }
    static READ3args readArgs(const nfs_fh3 &fh, uint64_t position, unsigned size)
    {
        return READ3args{.file = fh, .offset = position, .count = size};
    }
    static READ3res readInitial(char *destination, unsigned size)
    {
        READ3res initial{};
        initial.READ3res_u.resok.data.data_val = destination;
        initial.READ3res_u.resok.data.data_len = size;
        return initial;
    }
    // A READ reply's count and end-of-file flag, its attributes taken; false with the error
    // number set from a failed status.
    static bool readOutcome(const READ3res &res, uint64_t position, fattr3 *attr, unsigned *pCount,
                            bool *pEof);
    // One piece: READs until `size` bytes arrived, the server reports the end of the file, or a
    // reply brings nothing at or past the file's known size. The bytes received, or -1.
    static int readPiece(const char *host, nfs_fh3 *fh, uint64_t position, unsigned size, char *destination,
                         fattr3 *attr);
    // One piece after another, each completed before the next.
    static void readAlone(const char *host, nfs_fh3 *fh, nfsops::ReadSpan *pSpan, fattr3 *attr);
    static WRITE3args writeArgs(const nfs_fh3 &fh, uint64_t position, unsigned size, const char *data,
                                stable_how level)
    {
        return WRITE3args{.file = fh,
                          .offset = position,
                          .count = size,
                          .stable = level,
                          .data = {size, const_cast<char *>(data)}}; // only encoded from
    }
    // The bytes a WRITE reply took, or -1: with the error number set from a failed status or
    // K_EIO for a count that takes nothing or more than was sent; without one for data
    // committed below the level asked.
    static int accepted(const WRITE3res &res, stable_how level, unsigned sent, fattr3 *attr);
    static bool tookData(const WRITE3res &res)
    {
        return res.status == NFS3_OK && res.WRITE3res_u.resok.count != 0;
    }
    static void verdictAdd(const WRITE3res &res, NfsWriteVerdict *verdict);
    // One piece after another.
    static void writeAlone(const char *host, nfs_fh3 *fh, nfsops::WriteSpan<WRITE3res> *pSpan, fattr3 *attr,
                           stable_how level);

    // A handle with a buffer of its own.
    class OwnHandle {
    public:
        OwnHandle() : fh_{{0, bytes_.data()}} {}
        OwnHandle(const OwnHandle &) = delete;
        OwnHandle &operator=(const OwnHandle &) = delete;
        nfs_fh3 *get() { return &fh_; }

    private:
        std::array<char, NFS3_FHSIZE> bytes_{};
        nfs_fh3 fh_;
    };

    // One look-up's result: the object and the directory that holds it, in buffers of its own.
    class Found {
    public:
        Found() { res_.LOOKUP3res_u.resok.object.data.data_val = objectBytes_.data(); }
        Found(const Found &) = delete;
        Found &operator=(const Found &) = delete;
        nfsres::Result<int> run(const char *host, char *path, const nfs_fh3 *mountFh, bool stopAtLink)
        {
            return nfsname::lookUpByName<Nfs3Protocol>(host, path, mountFh, &res_, dir_.get(),
                                                       stopAtLink ? 1 : 0);
        }
        const fattr3 &attr() const { return attrOf(res_); }
        const nfs_fh3 &object() const { return objectOf(res_); }
        const nfs_fh3 &dir() { return *dir_.get(); }
        // A path without components leaves the result empty.
        bool walked() const { return object().data.data_len != 0; }

    private:
        std::array<char, NFS3_FHSIZE> objectBytes_{};
        LOOKUP3res res_{};
        OwnHandle dir_;
    };

    static bool handleCopy(const nfs_fh3 &from, nfs_fh3 *to) { return nfs3path::handleCopy(from, to); }
    // READLINK: the text, terminated, into buf of NFS_MAX_PATH bytes.
    static nfsres::Status linkRead(const char *host, const nfs_fh3 &link, char *buf);

    // The LOOKUP of one name in dir into res, with a GETATTR for attributes the reply left out.
    static nfsres::Status lookUpStep(const char *host, const nfs_fh3 &dir, char *name, LOOKUP3res *res);
    static const fattr3 &attrOf(const LOOKUP3res &res)
    {
        return res.LOOKUP3res_u.resok.obj_attributes.post_op_attr_u.attributes;
    }
    static const nfs_fh3 &objectOf(const LOOKUP3res &res) { return res.LOOKUP3res_u.resok.object; }

    // The parent of a new object: looked up into the caller's handle buffer (left as it is when
    // the path has no components), with its attributes when the LOOKUP reply carried them.
    class Parent {
    public:
        explicit Parent(nfs_fh3 *dirFh) { res_.LOOKUP3res_u.resok.object = *dirFh; }
        Parent(const Parent &) = delete;
        Parent &operator=(const Parent &) = delete;
        nfsres::Result<int> run(const char *host, char *dirPath, const nfs_fh3 *mountFh)
        {
            return nfsname::lookUpByName<Nfs3Protocol>(host, dirPath, mountFh, &res_, scratch_.get(), 0);
        }
        const LOOKUP3resok &found() const { return res_.LOOKUP3res_u.resok; }

    private:
        LOOKUP3res res_{};
        OwnHandle scratch_;
    };
    using CreateRes = CREATE3res;
    // CREATE (UNCHECKED, or EXCLUSIVE with a verifier and then a SETATTR of the mode) or MKDIR;
    // the new handle lands in the parent's buffer.
    static nfsres::Status createCall(const char *host, const Parent &parent, char *name, int mode,
                                     CREATE3res *res, bool exclusive);
    static const fattr3 &createdAttr(const CREATE3res &res)
    {
        return res.CREATE3res_u.resok.obj_attributes.post_op_attr_u.attributes;
    }
    // Null when the reply carried none.
    static const nfs_fh3 *createdHandle(const CREATE3res &res)
    {
        const post_op_fh3 &obj = res.CREATE3res_u.resok.obj;
        return obj.handle_follows == TRUE ? &obj.post_op_fh3_u.handle : nullptr;
    }

    static nfsres::Status removeCall(const char *host, uint32_t proc, const nfs_fh3 &dir, char *name);
    // SETATTR, unguarded; *attr takes the attributes after it (or the change, when the reply
    // carries none).
    static nfsres::Status attrSet(const char *host, const nfs_fh3 &fh, const NfsAttrChange &change,
                                  fattr3 *attr);
    static nfsres::Status renameCall(const char *host, const nfs_fh3 &fromDir, char *fromName,
                                     const nfs_fh3 &toDir, char *toName);

    // GETATTR into *attr.
    static nfsres::Status attrGet(const char *host, const nfs_fh3 &fh, fattr3 *attr);
    // LINK of the file fh as name in dir; SYMLINK name in dir holding target.
    static nfsres::Status linkCall(const char *host, const nfs_fh3 &fh, const nfs_fh3 &dir, char *name);
    static nfsres::Status symlinkCall(const char *host, const nfs_fh3 &dir, char *name, const char *target);
    // The next entry of the open directory (nfsDirRead.h).
    static nfsres::Status dirReadOne(NfsOpenFile *pFile, KDIR *pDir);
    // MNT of dirPath into fhOut's buffer, and UMNTALL, over MOUNT version 3 (mountOps.cpp).
    static nfsres::Status dirMount(const char *host, const char *dirPath, nfs_fh3 *fhOut);
    static nfsres::Status mntUnmountAll(const char *host);
    // FSSTAT, FSINFO and PATHCONF of the file system fh is in.
    static nfsres::Status fsAttrGet(const char *host, const nfs_fh3 &fh, struct kstatfs *pFsStat);
    static nfsres::Status fsInfoGet(const char *host, const nfs_fh3 &fh, Nfs3FsInfo *pInfo);
    static nfsres::Status pathconfGet(const char *host, const nfs_fh3 &fh, Nfs3PathconfInfo *pInfo);
    // READLINK: at most size bytes of the text into buffer, not terminated; the count.
    static nfsres::Result<int> linkTextGet(const char *host, const nfs_fh3 &fh, char *buffer,
                                           std::size_t size);
};
static_assert(NfsProtocol<Nfs3Protocol>);

#endif
