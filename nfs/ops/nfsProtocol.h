// Module-private: what both versions' protocol traits (nfs2Protocol.h, nfs3Protocol.h) have in
// the same form, made from the version's types, its type numbers and its REMOVE and RMDIR; and
// what the shared name operations (nfsNameOps.h), the data cache and the drivers need of such
// traits (NfsProtocol).
#ifndef NFS_OPS_NFSPROTOCOL_H
#define NFS_OPS_NFSPROTOCOL_H

#include "core/nfsDispatch.h"
#include "core/nfsResult.h"
#include "ops/nfsAttrChange.h"
#include "ops/nfsDataSpans.h"
#include "rpc/nfsRemoteCall.h"

#include <brisnel/nfsCacheLib.h>

#include <concepts>
#include <type_traits>
#include <cstddef>
#include <cstdint>

template <typename HandleT, typename AttrT, typename LookupResT, auto Dir, auto Link, auto Reg,
          uint32_t Remove, uint32_t Rmdir>
struct NfsProtocolTypes {
    using Handle = HandleT;
    using Attr = AttrT;
    using LookupRes = LookupResT;

    static bool isDirectory(const Attr &attr) { return attr.type == Dir; }
    static bool isLink(const Attr &attr) { return attr.type == Link; }
    // What REMOVE or RMDIR takes: a file, a symbolic link (not its target), a directory.
    static bool isRemovable(const Attr &attr)
    {
        return attr.type == Reg || attr.type == Link || attr.type == Dir;
    }
    static uint32_t removeProc(const Attr &attr) { return attr.type == Dir ? Rmdir : Remove; }
};

// The formatter of this machine breaks requires-expressions apart: these are laid out by hand.
// clang-format off

// The version's handle, attributes and results, and the handle buffers and look-ups of its own.
template <typename P>
concept NfsProtocolTypesGiven =
    requires(typename P::OwnHandle &own, typename P::Found &found, typename P::Parent &parent,
             typename P::Handle *pFh, const typename P::Handle *mountFh, const typename P::Attr &attr,
             const typename P::LookupRes &lookupRes, const typename P::CreateRes &createRes,
             const char *host, char *path) {
        { own.get() } -> std::same_as<typename P::Handle *>;
        { found.run(host, path, mountFh, true) } -> std::same_as<nfsres::Result<int>>;
        { found.walked() } -> std::same_as<bool>;
        requires std::constructible_from<typename P::Parent, decltype(pFh)>;
        { parent.run(host, path, mountFh) } -> std::same_as<nfsres::Result<int>>;
        { P::attrOf(lookupRes) } -> std::same_as<const typename P::Attr &>;
        { P::objectOf(lookupRes) } -> std::same_as<const typename P::Handle &>;
        { P::createdAttr(createRes) } -> std::same_as<const typename P::Attr &>;
        { P::createdHandle(createRes) } -> std::same_as<const typename P::Handle *>;
        { P::isDirectory(attr) } -> std::same_as<bool>;
        { P::isLink(attr) } -> std::same_as<bool>;
        { P::isRemovable(attr) } -> std::same_as<bool>;
        { P::removeProc(attr) } -> std::same_as<uint32_t>;
    };

// The calls, each one remote call.
template <typename P>
concept NfsProtocolCalls =
    requires(const typename P::Handle &fh, typename P::Handle *pFh, typename P::Attr *pAttr,
             typename P::LookupRes *pLookupRes, typename P::CreateRes *pCreateRes,
             const typename P::Parent &parent, const NfsAttrChange &change, const char *host, char *name,
             std::size_t size, uint32_t proc, int mode) {
        { P::handleCopy(fh, pFh) } -> std::same_as<bool>;
        { P::lookUpStep(host, fh, name, pLookupRes) } -> std::same_as<nfsres::Status>;
        { P::linkRead(host, fh, name) } -> std::same_as<nfsres::Status>;
        { P::createCall(host, parent, name, mode, pCreateRes, true) } -> std::same_as<nfsres::Status>;
        { P::removeCall(host, proc, fh, name) } -> std::same_as<nfsres::Status>;
        { P::renameCall(host, fh, name, fh, name) } -> std::same_as<nfsres::Status>;
        { P::attrSet(host, fh, change, pAttr) } -> std::same_as<nfsres::Status>;
        { P::attrGet(host, fh, pAttr) } -> std::same_as<nfsres::Status>;
        { P::linkCall(host, fh, fh, name) } -> std::same_as<nfsres::Status>;
        { P::symlinkCall(host, fh, name, host) } -> std::same_as<nfsres::Status>;
        { P::linkTextGet(host, fh, name, size) } -> std::same_as<nfsres::Result<int>>;
    };

// The version's number and driver number, its open-file and device records, and what the data cache needs of
// them: the dispatch words that move a record's data, and whether its writes may go out
// UNSTABLE, to be committed.
template <typename P>
concept NfsProtocolRecords =
    requires(typename P::File &file) {
        typename P::Device;
        { P::version } -> std::convertible_to<int>;
        { P::drvNum() } -> std::same_as<int32_t &>;
        { P::commits } -> std::convertible_to<bool>;
        { file.pCache } -> std::convertible_to<NfsDataCache *>;
        { file.pDev } -> std::convertible_to<typename P::Device *>;
        requires std::is_pointer_v<decltype(P::readWord())> && std::is_pointer_v<decltype(P::writeWord())> &&
                 std::is_pointer_v<decltype(P::readRangesWord())> &&
                 std::is_pointer_v<decltype(P::writeRangesWord())>;
    };

// How the span code (nfsDataSpans.h) asks for one piece of a READ or WRITE and reads its reply:
// the calls' types, coders and procedures, the peer and the largest piece; readOutcome false
// and accepted -1 with the error number set from a failed status; readPiece completes a piece
// one READ at a time, readAlone and writeAlone move a span one piece at a time; tookData and
// verdictAdd say what a WRITE reply did with its bytes; every WRITE of one write asks for the
// same level of safety (WriteLevel).
template <typename P>
concept NfsProtocolData =
    requires(typename P::Handle *fh, typename P::Attr *attr, typename P::ReadRes &readRes,
             const typename P::WriteRes &writeRes, typename P::WriteLevel level, nfsops::ReadSpan *readSpan,
             nfsops::WriteSpan<typename P::WriteRes> *writeSpan, NfsWriteVerdict *verdict, const char *host,
             char *dest, uint64_t position, unsigned size, unsigned *pCount, bool *pEof) {
        { P::readArgsCoder } -> std::convertible_to<nfsrpc::Coder<typename P::ReadArgs>>;
        { P::readResCoder } -> std::convertible_to<nfsrpc::Coder<typename P::ReadRes>>;
        { P::writeArgsCoder } -> std::convertible_to<nfsrpc::Coder<typename P::WriteArgs>>;
        { P::writeResCoder } -> std::convertible_to<nfsrpc::Coder<typename P::WriteRes>>;
        { P::readBuffer(readRes) } -> std::same_as<char **>;
        { P::kReadProc } -> std::convertible_to<uint32_t>;
        { P::kWriteProc } -> std::convertible_to<uint32_t>;
        { P::peer(host) } -> std::same_as<nfsrpc::Peer>;
        { P::readMost() } -> std::same_as<unsigned>;
        { P::writeMost() } -> std::same_as<unsigned>;
        { P::readArgs(*fh, position, size) } -> std::same_as<typename P::ReadArgs>;
        { P::readInitial(dest, size) } -> std::same_as<typename P::ReadRes>;
        { P::readOutcome(readRes, position, attr, pCount, pEof) } -> std::same_as<bool>;
        { P::readPiece(host, fh, position, size, dest, attr) } -> std::same_as<int>;
        P::readAlone(host, fh, readSpan, attr);
        { P::writeArgs(*fh, position, size, dest, level) } -> std::same_as<typename P::WriteArgs>;
        { P::accepted(writeRes, level, size, attr) } -> std::same_as<int>;
        { P::tookData(writeRes) } -> std::same_as<bool>;
        P::verdictAdd(writeRes, verdict);
        P::writeAlone(host, fh, writeSpan, attr, level);
    };

template <typename P>
concept NfsProtocol = NfsProtocolTypesGiven<P> && NfsProtocolCalls<P> && NfsProtocolRecords<P> && NfsProtocolData<P>;

// clang-format on

#endif
