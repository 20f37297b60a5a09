/* The path library. Separators are '/'; every routine is bounded by the sizes it is given
 * and returns -1, writing nothing past a buffer, when a result would not fit. */
#ifndef KERNEL_PATHLIB_H
#define KERNEL_PATHLIB_H

#include <kernel/kernelTypes.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Splits path at its separators: the component texts go to nameBuf (bufSize bytes), one
 * pointer per component to names (maxNames entries, the last one for the null end). An empty
 * path or one of separators only yields no component. The count of components, or -1. */
int pathParse(const char *path, char **names, int maxNames, char *nameBuf, size_t bufSize);
/* Appends to dest (destSize bytes, NUL-terminated) the components from names up to, not
 * including, namesEnd (the null end when namesEnd is null), each preceded by a separator.
 * 0 or -1. */
int pathBuild(char **names, char **namesEnd, char *dest, size_t destSize);
/* Writes into result name taken relative to dir: name alone when it is absolute or dir is
 * empty, else dir, a separator and name. 0 or -1. */
int pathCat(const char *dir, const char *name, char *result, size_t resultSize);
/* In place: removes "." components, cancels each ".." against the component before it (a
 * ".." at the top is dropped) and collapses repeated separators. */
void pathCondense(char *path);
/* Splits path at its last separator into the directory part and the last component. A path
 * without separators gives an empty directory part; "/a" gives "/". 0 or -1. */
int pathSplit(const char *path, char *dirPart, size_t dirSize, char *name, size_t nameSize);

#ifdef __cplusplus
}
#endif
#endif
