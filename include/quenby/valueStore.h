/* The value store: tables of integers, doubles and fixed-capacity byte arrays addressed by
 * index, created when the module is loaded. No locking: callers serialise their own use. */
#ifndef QUENBY_VALUESTORE_H
#define QUENBY_VALUESTORE_H

#ifdef __cplusplus
extern "C" {
#endif
#pragma GCC visibility push(default)

/* The tables. A count of zero means no block, and the pointer is then null. */
extern int icount;
extern int *ivalues;
extern int dcount;
extern double *dvalues;
extern int acount;
extern int alength;   /* capacity of every byte-array slot, at least 1 */
extern char *avalues; /* acount slots of alength bytes, back to back */
extern int *alengths; /* current length of each slot, 1 to alength */

/* Runs once when the module is loaded: 2000 integers, 2000 doubles, 1000 arrays of 10000. */
void ketTestInit(void);

/* An invalid index, or a length or maximum below 1, is ignored by the set operations and
 * yields 0 from the get operations. */
void setNIVal(int index, int value);
int getNIVal(int index);
void setNDVal(int index, double value);
double getNDVal(int index);
void setAVal(int index, const char *source, int length);
int getAVal(int index, char *destination, int maximum);

/* Recreate a table. A negative count empties it like 0; so does an allocation that fails. */
void initializeI(int count);
void initializeD(int count);
void initializeA(int count, int capacity);

#pragma GCC visibility pop
#ifdef __cplusplus
}
#endif
#endif
