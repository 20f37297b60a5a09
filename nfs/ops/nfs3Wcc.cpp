// Weak cache consistency data of a reply folded into a file's attributes.
#include "ops/nfs3Data.h"

void nfs3DecodeWcc(const wcc_data *wcc, fattr3 *attr)
{
    if (wcc->after.attributes_follow) {
        *attr = wcc->after.post_op_attr_u.attributes;
        return;
    }
    if (wcc->before.attributes_follow) {
        // Only what the server knew before the operation: better than nothing.
        const wcc_attr &before = wcc->before.pre_op_attr_u.attributes;
        attr->size = before.size;
        attr->mtime = before.mtime;
        attr->ctime = before.ctime;
    }
}
