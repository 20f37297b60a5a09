// The boot parameters, filled when the kernel layer is loaded.
#include <kernel/bootLib.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace {

void copyBounded(char *field, std::size_t size, const char *text)
{
    std::strncpy(field, text, size - 1);
    field[size - 1] = '\0';
}

__attribute__((constructor)) void bootParamsInit()
{
    if (const char *host = std::getenv("K_BOOT_HOST"); host != nullptr)
        copyBounded(sysBootParams.hostName, sizeof sysBootParams.hostName, host);
    else if (gethostname(sysBootParams.hostName, sizeof sysBootParams.hostName) != 0)
        copyBounded(sysBootParams.hostName, sizeof sysBootParams.hostName, "localhost");
    sysBootParams.hostName[sizeof sysBootParams.hostName - 1] = '\0';

    const char *file = std::getenv("K_BOOT_FILE");
    copyBounded(sysBootParams.bootFile, sizeof sysBootParams.bootFile,
                file != nullptr ? file : K_BOOT_FILE_DEFAULT);
}

} // namespace

extern "C" {
BootParams sysBootParams{};
}
