// Building blocks shared by the XDR filter routines: 32-bit enums through xdr_enum, and the
// iterative walk of optional-pointer lists (entry3, mount entries, exports, groups, entry).
#ifndef NFS_XDR_XDRSUPPORT_H
#define NFS_XDR_XDRSUPPORT_H

#include <rpc/rpc.h>

#include <cstdint>
#include <cstdlib>

namespace xdrsupport {

// Largest length passed to the primitives for names, paths and data without a protocol limit.
inline constexpr u_int unbounded = UINT32_MAX;

// The length limit of a variable-length item: its limit when decoding, so that a forged length
// fails before the primitive allocates for it; none when encoding or freeing the caller's own.
inline u_int decodeLimit(const XDR *xdrs, u_int limit)
{
    return xdrs->x_op == XDR_DECODE ? limit : unbounded;
}

// The enum is copied through an enum_t so that no pointer to it is reinterpreted.
template <typename Enum> bool_t enumValue(XDR *xdrs, Enum *value)
{
    auto wire = static_cast<enum_t>(*value);
    if (!xdr_enum(xdrs, &wire))
        return FALSE;
    if (xdrs->x_op == XDR_DECODE) {
        *value = static_cast<Enum>(wire);
    }
    return TRUE;
}

// Releases every node from *link on, each after its members.
template <typename Node, Node *Node::*next>
void freeChain(XDR *xdrs, Node **link, bool_t (*members)(XDR *, Node *))
{
    Node *node = *link;
    *link = nullptr;
    while (node != nullptr) {
        Node *following = node->*next;
        node->*next = nullptr;
        members(xdrs, node);
        std::free(node);
        node = following;
    }
}

// An optional-pointer list on the wire: per node a TRUE word and the node's members, then one
// FALSE word. Walked in a loop instead of through xdr_pointer's recursion, so the stack depth
// does not grow with the list; the stream's end bounds the loop. Decoded nodes are zero-filled
// and linked before their members are decoded, so a list cut short is freed as a whole.
template <typename Node, Node *Node::*next>
bool_t nodeChain(XDR *xdrs, Node **link, bool_t (*members)(XDR *, Node *))
{
    if (xdrs->x_op == XDR_FREE) {
        freeChain<Node, next>(xdrs, link, members);
        return TRUE;
    }
    for (;;) {
        bool_t more = *link != nullptr ? TRUE : FALSE;
        if (!xdr_bool(xdrs, &more))
            return FALSE;
        if (!more) {
            *link = nullptr;
            return TRUE;
        }
        if (*link == nullptr) {
            *link = static_cast<Node *>(std::calloc(1, sizeof(Node)));
            if (*link == nullptr)
                return FALSE;
        }
        if (!members(xdrs, *link))
            return FALSE;
        link = &((*link)->*next);
    }
}

// A pointer the caller set to its own buffer before decoding is cleared when the decode fails,
// so that the free pass releasing the partial reply frees only what the XDR layer allocated.
// Pointers that were null (the XDR layer allocates) and the other operations are left alone.
class CallerBuffer {
public:
    CallerBuffer(XDR *xdrs, char **pointer)
        : pointer_(xdrs->x_op == XDR_DECODE && *pointer != nullptr ? pointer : nullptr)
    {
    }

    bool_t result(bool ok)
    {
        if (!ok && pointer_ != nullptr)
            *pointer_ = nullptr;
        return ok ? TRUE : FALSE;
    }

private:
    char **pointer_;
};

} // namespace xdrsupport

#endif
