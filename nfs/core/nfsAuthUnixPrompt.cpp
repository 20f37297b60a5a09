// Interactive entry of the credentials on standard input.
//
// Each answer is a line: an empty line keeps the current value, a line starting with '.'
// empties the name or keeps the number, a line too long is refused and asked again, and a
// number that cannot be read (not a whole decimal number, or beyond an int) keeps the old
// value with a line that says so. When input ends before the last answer, nothing is stored.
#include "core/nfsAuthUnix.h"

#include <kernel/fioLib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kLineBufferSize = 100;
constexpr int kMachineNameWidth = 50;
constexpr int kNumberWidth = 8;
constexpr const char *kTooBig = "too big - maximum field width = %d.\n";
constexpr const char *kNotANumber = "not a number - %d kept.\n";
constexpr const char *kOutOfRange = "out of range - %d kept.\n";

// One line from standard input into line; false at end of input.
bool readAnswer(char *line, int *pResult)
{
    std::fflush(stdout);
    *pResult = fioRdString(0, line, kLineBufferSize);
    return *pResult >= 0;
}

void printShown(const char *name)
{
    for (const char *p = name; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        const bool shown = c < 128 && (std::isalnum(c) || std::isspace(c) || std::ispunct(c));
        std::printf("%c", shown ? c : '?');
    }
}

bool promptMachineName(char *name)
{
    char line[kLineBufferSize];
    int result = 0;
    for (;;) {
        std::printf("%s ", "machine name:  ");
        printShown(name);
        std::printf(" ");
        if (!readAnswer(line, &result))
            return false;
        if (result < kMachineNameWidth)
            break;
        std::printf(kTooBig, kMachineNameWidth);
    }
    if (result == 1)
        return true;
    if (line[0] == '.')
        name[0] = '\0';
    else
        std::strcpy(name, line); // shorter than 50 characters, so it fits in 52 bytes
    return true;
}

} // namespace

// The format is the module's own ("%d "), never a user's.
bool nfsAuthUnixFieldPrompt(const char *label, int *pValue, int width, const char *format)
{
    char prompt[kLineBufferSize];
    std::snprintf(prompt, sizeof prompt, "%%s %s", format);
    char line[kLineBufferSize];
    int result = 0;
    for (;;) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
        std::printf(prompt, label, *pValue);
#pragma GCC diagnostic pop
        if (!readAnswer(line, &result))
            return false;
        if (result < width)
            break;
        std::printf(kTooBig, width);
    }
    if (result == 1 || line[0] == '.')
        return true;
    // The module's formats all read one decimal int; the whole answer must be that number
    // (blanks around it are fine), so "abc" or "12x" is not taken as 0 or 12 in silence.
    // The prompt sets no error number: the task's is kept across the conversion.
    const int savedErrno = errno;
    char *end = nullptr;
    errno = 0;
    const long long number = std::strtoll(line, &end, 10);
    const bool overflow = errno == ERANGE;
    errno = savedErrno;
    while (end != line && std::isspace(static_cast<unsigned char>(*end)))
        ++end;
    if (end == line || *end != '\0')
        std::printf(kNotANumber, *pValue);
    else if (overflow || number < INT_MIN || number > INT_MAX)
        std::printf(kOutOfRange, *pValue);
    else
        *pValue = static_cast<int>(number);
    return true;
}

namespace {

bool promptAll(char *name, int *pUid, int *pGid, int *pNGroups, int *groups)
{
    if (!promptMachineName(name) || !nfsAuthUnixFieldPrompt("user ID:       ", pUid, kNumberWidth, "%d ") ||
        !nfsAuthUnixFieldPrompt("group ID:      ", pGid, kNumberWidth, "%d ") ||
        !nfsAuthUnixFieldPrompt("num of groups: ", pNGroups, kNumberWidth, "%d "))
        return false;
    // The record holds 20 groups; no more are asked for.
    *pNGroups = std::clamp(*pNGroups, 0, NFS_AUTH_MAX_GROUPS);
    for (int i = 1; i <= *pNGroups; ++i) {
        std::printf("group #%d:       ", i);
        if (!nfsAuthUnixFieldPrompt("", &groups[i - 1], kNumberWidth, "%d "))
            return false;
    }
    return true;
}

} // namespace

extern "C" void nfsAuthUnixPrompt(void)
{
    NfsAuthUnix auth = nfsAuthUnixCopy();
    if (promptAll(auth.machineName, &auth.uid, &auth.gid, &auth.nGroups, auth.groups))
        nfsAuthUnixSet(auth.machineName, auth.uid, auth.gid, auth.nGroups, auth.groups);
    else
        std::printf("\n");
}
