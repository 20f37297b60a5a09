// Error numbers as the shell shows them: in hex, with the names the system gives them.
#ifndef SHELL_SHELLERRNO_H
#define SHELL_SHELLERRNO_H

#include <string>

namespace shell {

// "0x300002 (NFS3ERR_NOENT)"; just the number when the system defines no meaning for it.
std::string errnoText(int errorNumber);

} // namespace shell

#endif
