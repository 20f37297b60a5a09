/* The stability level that every NFS version 3 WRITE asks for (stable_how: 0 UNSTABLE,
 * 1 DATA_SYNC, 2 FILE_SYNC). A write in progress keeps the level it read at its start. */
#ifndef BRISNEL_NFS3LIB_H
#define BRISNEL_NFS3LIB_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The current level. */
int nfs3StableWriteGet(void);
/* 0 after storing how; -1, with nothing stored and the error number unchanged, above 2. */
int nfs3StableWriteSet(int how);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
