// The integer table.
#include "numericTable.h"

#include <quenby/valueStore.h>

extern "C" {

int icount;
int *ivalues;

void setNIVal(int index, int value)
{
    if (quenby::indexValid(index, icount))
        ivalues[index] = value;
}

int getNIVal(int index)
{
    return quenby::indexValid(index, icount) ? ivalues[index] : 0;
}

void initializeI(int count)
{
    quenby::numericTableRecreate(icount, ivalues, count);
}
}
