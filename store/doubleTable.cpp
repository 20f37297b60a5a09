// The double table.
#include "numericTable.h"

#include <quenby/valueStore.h>

extern "C" {

int dcount;
double *dvalues;

void setNDVal(int index, double value)
{
    if (quenby::indexValid(index, dcount))
        dvalues[index] = value;
}

double getNDVal(int index)
{
    return quenby::indexValid(index, dcount) ? dvalues[index] : 0.0;
}

void initializeD(int count)
{
    quenby::numericTableRecreate(dcount, dvalues, count);
}
}
