// Module-private: what both protocol versions' path walks share — a path cut into its
// components, and the path rewritten where a walk met a symbolic link.
#ifndef NFS_OPS_NFSPATHREWRITE_H
#define NFS_OPS_NFSPATHREWRITE_H

#include "core/nfsResult.h"
#include "xdr/nfsXdrLinkText.h"

#include <brisnel/nfsConfigLib.h>

#include <array>
#include <cstddef>

namespace nfspath {

// 147 components and the null end: more than a path of NFS_MAX_PATH bytes can hold.
constexpr int kMaxNames = 148;

using PathText = std::array<char, NFS_MAX_PATH>;

// The components of one path: pointers into the copied texts.
struct PathNames {
    std::array<char *, kMaxNames> names{};
    PathText texts{};
    int count = 0;
};

// Cuts path into its components; a failure with 26 when they do not fit.
nfsres::Status parse(const char *path, PathNames *parsed);

// The path through the link at component `at` whose text is linkText: the components before
// it, the link text taken relative to them (or alone when absolute), then the components after
// it. Rooted at the mount, so that ".." never climbs above it. -2 with path rewritten, or a
// failure with 26 when the result does not fit NFS_MAX_PATH bytes.
nfsres::Result<int> throughLink(PathNames &parsed, int at, const char *linkText, char *path);

// A created name that turned out to be a link: its text taken from the directory dirPart that
// holds it. -2 with path rewritten, or a failure with 26.
nfsres::Result<int> createdLink(const char *dirPart, const char *linkText, char *path);

// A READLINK reply's counted text into buf of NFS_MAX_PATH bytes, terminated; a failure with
// 26 when it does not fit with its terminator. An empty text names nothing (K_ENOENT: taken
// as a path, it would name the mount's root), and one with a NUL byte cannot be told from its
// cut form (K_EIO).
nfsres::Status linkTextCopy(const NfsLinkText &text, char *buf);

// A READLINK reply's text as a caller reads it: at most size bytes into buf, not terminated;
// the count. The text is the server's as it stands, NUL bytes and all, bounded by its count.
int linkTextPart(const NfsLinkText &text, char *buf, std::size_t size);

// Copies a text that fits NFS_MAX_PATH bytes over path.
void replace(char *path, const char *text);

} // namespace nfspath

#endif
