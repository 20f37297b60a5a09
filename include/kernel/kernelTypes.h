/* Basic types and results shared by the kernel layer and the modules. */
#ifndef KERNEL_KERNELTYPES_H
#define KERNEL_KERNELTYPES_H

#include <stddef.h>
#include <stdint.h>

#define K_OK 0
#define K_ERROR (-1)
/* A driver entry's result: the path in the caller's buffer was rewritten, resolve it again. */
#define K_FOLLOW_LINK (-2)

#define K_WAIT_FOREVER (-1)
#define K_NO_WAIT 0

#endif
