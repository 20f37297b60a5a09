// Test support for the data tests against nfs-ganesha: a device record and an open-file
// record built by hand from a CREATE reply, the version 3 data slots installed for the
// scope, and the exported file as the host itself sees it.
#ifndef TESTS_LIVE_NFS3DATALIVE_H
#define TESTS_LIVE_NFS3DATALIVE_H

#include "live/liveServer.h"

#include "core/nfsDispatch.h"
#include "ops/nfs3Data.h"

#include <brisnel/nfsAuthLib.h>
#include <brisnel/nfsCacheLib.h>
#include <brisnel/nfsDrvLib.h>
#include <kernel/bootLib.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace datalive {

// A device of the live server with its cache, and files opened on it by CREATE.
class LiveDevice {
public:
    LiveDevice()
    {
        device_ = std::make_unique<NfsDevice>();
        std::strncpy(device_->host, live::host().c_str(), sizeof device_->host - 1);
    }
    LiveDevice(const LiveDevice &) = delete;
    LiveDevice &operator=(const LiveDevice &) = delete;
    ~LiveDevice()
    {
        if (device_->cache.semId != nullptr)
            nfsCacheFree(&device_->cache);
    }

    bool allocateCache(int lines, int bytes, int options)
    {
        return nfsCacheAlloc(&device_->cache, lines, bytes, options) == 0;
    }

    // Creates (or truncates) NAME in the export's root and opens it: null on failure.
    NfsOpenFile *create(live::RootHandle *root, const std::string &name)
    {
        auto file = std::make_unique<OwnedFile>();
        file->record.pDev = device_.get();
        file->record.pCache = &device_->cache;
        file->record.fh.data.data_val = file->handle.data();
        if (!createFile(root, name, &file->record))
            return nullptr;
        files_.push_back(std::move(file));
        return &files_.back()->record;
    }

    NfsDevice *device() { return device_.get(); }

private:
    struct OwnedFile {
        NfsOpenFile record{};
        std::array<char, NFS3_FHSIZE> handle{};
    };

    static bool createFile(live::RootHandle *root, const std::string &name, NfsOpenFile *file)
    {
        CREATE3args args{};
        args.where.dir = root->fh();
        args.where.name = const_cast<char *>(name.c_str());
        args.how.mode = UNCHECKED;
        args.how.createhow3_u.obj_attributes.mode.set_it = 1;
        args.how.createhow3_u.obj_attributes.mode.set_mode3_u.mode = 0666;
        args.how.createhow3_u.obj_attributes.size.set_it = 1; // truncate
        CREATE3res res{};
        res.CREATE3res_u.resok.obj.post_op_fh3_u.handle.data.data_val = file->fh.data.data_val;
        if (nfsClientCall(live::host().c_str(), NFS_PROGRAM, NFS_V3, NFSPROC3_CREATE,
                          nfsXdrProc(xdr_CREATE3args), &args, nfsXdrProc(xdr_CREATE3res), &res) != 0)
            return false;
        CREATE3resok &ok = res.CREATE3res_u.resok;
        const bool usable =
            res.status == NFS3_OK && ok.obj.handle_follows && ok.obj_attributes.attributes_follow;
        if (usable) {
            file->fh.data.data_len = ok.obj.post_op_fh3_u.handle.data.data_len;
            file->attr = ok.obj_attributes.post_op_attr_u.attributes;
        }
        ok.obj.post_op_fh3_u.handle.data.data_val = nullptr;
        clnt_freeres(nfsRpcClientCurrent()->pClient, nfsXdrProc(xdr_CREATE3res),
                     reinterpret_cast<char *>(&res));
        return usable;
    }

    std::unique_ptr<NfsDevice> device_;
    std::vector<std::unique_ptr<OwnedFile>> files_;
};

// Puts the version 3 data operations in their slots, credentials the server accepts in
// place, and restores both afterwards.
class DataLive : public testing::Test {
protected:
    void SetUp() override
    {
        nfsAuthUnixSet(sysBootParams.hostName, 2001, 100, 0, nullptr);
        savedRead_ = pFuncNfs3FileRead;
        savedWrite_ = pFuncNfs3FileWriteRun;
        pFuncNfs3FileRead = nfs3FileRead;
        pFuncNfs3FileWriteRun = nfs3FileWriteRun;
        savedReadRanges_ = pFuncNfs3FileReadRanges;
        savedWriteRanges_ = pFuncNfs3FileWriteRanges;
        pFuncNfs3FileReadRanges = nfs3FileReadRanges;
        pFuncNfs3FileWriteRanges = nfs3FileWriteRanges;
        savedCommit_ = pFuncNfs3FileCommit;
        pFuncNfs3FileCommit = nfs3FileCommit; // pinned lines are committed before their reuse
        ASSERT_TRUE(live::mountRoot(&root_));
    }
    void TearDown() override
    {
        pFuncNfs3FileRead = savedRead_;
        pFuncNfs3FileWriteRun = savedWrite_;
        pFuncNfs3FileReadRanges = savedReadRanges_;
        pFuncNfs3FileWriteRanges = savedWriteRanges_;
        pFuncNfs3FileCommit = savedCommit_;
        nfsClientClose();
    }

    std::string hostPath(const std::string &name) const { return live::exportDir() + "/" + name; }

    // The file as the host's own reads see it.
    std::vector<char> onServer(const std::string &name) const
    {
        std::ifstream in(hostPath(name), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void putOnServer(const std::string &name, const std::vector<char> &bytes) const
    {
        std::ofstream out(hostPath(name), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    static std::vector<char> randomBytes(std::size_t n, std::mt19937 &random)
    {
        std::vector<char> bytes(n);
        for (char &b : bytes)
            b = static_cast<char>(random() & 0xff);
        return bytes;
    }

    live::RootHandle root_;
    LiveDevice device_;

private:
    NfsFileRead3Fn savedRead_ = nullptr;
    NfsFileWriteRun3Fn savedWrite_ = nullptr;
    NfsFileReadRanges3Fn savedReadRanges_ = nullptr;
    NfsFileWriteRanges3Fn savedWriteRanges_ = nullptr;
    NfsFileCommit3Fn savedCommit_ = nullptr;
};

} // namespace datalive

#endif
