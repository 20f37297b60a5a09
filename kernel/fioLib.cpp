// Console input, one line at a time.
#include <kernel/fioLib.h>
#include <kernel/ioLib.h>

extern "C" {

int fioRdString(int fd, char *string, int maxBytes)
{
    if (string == nullptr || maxBytes < 1)
        return -1;
    int stored = 0;
    bool readAny = false;
    char c = '\0';
    for (;;) {
        const int got = kRead(fd, &c, 1);
        if (got != 1) {
            if (!readAny)
                return -1;
            break;
        }
        readAny = true;
        if (c == '\n')
            break;
        if (stored < maxBytes - 1)
            string[stored++] = c;
    }
    string[stored] = '\0';
    return stored + 1;
}
}
