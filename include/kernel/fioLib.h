/* Console input. */
#ifndef KERNEL_FIOLIB_H
#define KERNEL_FIOLIB_H

#ifdef __cplusplus
extern "C" {
#endif

/* Reads one line from descriptor fd into string (maxBytes bytes), without the newline and
 * NUL-terminated. The rest of an over-long line is read and dropped. The count of characters
 * stored plus the terminator (1 for an empty line), or -1 at end of file before any
 * character, or on a read error. */
int fioRdString(int fd, char *string, int maxBytes);

#ifdef __cplusplus
}
#endif
#endif
