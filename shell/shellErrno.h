// Error numbers as the shell shows them: in hex, with the names the system gives them.
#ifndef SHELL_SHELLERRNO_H
#define SHELL_SHELLERRNO_H

#include <string>

namespace shell {

// "0x300002 (NFS3ERR_NOENT)"; just the number when the system defines no meaning for it.
std::string errnoText(int errorNumber);

// What to do about a failure of ROUTINE (empty for a command) with ERRORNUMBER, from the NFS
// client's nfsErrorHint when that module is loaded: for the client's own statuses after any
// call or command, for numbers that others share only after the client's own routines. Empty
// when there is none.
std::string errnoHint(const std::string &routine, int errorNumber);

} // namespace shell

#endif
