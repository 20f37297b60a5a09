// The module's command summary.
#include <brisnel/nfsDevLib.h>

#include <array>
#include <cstdio>

namespace {

constexpr std::array<const char *, 22> help_msg = {
    "nfsHelp                       Print this list",
    "netHelp                       Print general network help list",
    "nfsMount \"host\",\"filesystem\"[,\"devname\"]  Create device with",
    "                                file system/directory from host",
    "nfsUnmount \"devname\"          Remove an NFS device",
    "nfsAuthUnixShow               Print current UNIX authentication",
    "nfsAuthUnixPrompt             Prompt for UNIX authentication",
    "nfsIdSet id                   Set user ID for UNIX authentication",
    "nfsDevShow                    Print list of NFS devices",
    "nfsExportShow \"host\"          Print a list of NFS file systems which",
    "                                are exported on the specified host",
    "mkdir \"dirname\"               Create directory",
    "rm \"file\"                     Remove file",
    "",
    "EXAMPLE:  -> hostAdd \"fileserver\", \"192.168.1.20\"",
    "          -> nfsMount \"fileserver\",\"/disk0/path/mydir\",\"/mydir/\"",
    "          -> cd \"/mydir/\"",
    "          -> nfsAuthUnixPrompt     /* fill in user ID, etc. *",
    "          -> ls                    /* list /disk0/path/mydir *",
    "          -> copy < foo            /* copy foo to standard out *",
    "          -> ld < foo.o            /* load object module foo.o *",
    "          -> nfsUnmount \"/mydir/\"  /* remove NFS device /mydir/ *",
};

} // namespace

extern "C" void nfsHelp(void)
{
    for (const char *line : help_msg)
        std::printf("%s\n", line);
    std::printf("\n");
}
