/* The boot parameters: the host the system booted from and the boot file, whose device
 * prefix names the boot device. Filled when the kernel layer loads: the host name is this
 * machine's name, the boot file K_BOOT_FILE_DEFAULT; K_BOOT_HOST and K_BOOT_FILE in the
 * environment override them. */
#ifndef KERNEL_BOOTLIB_H
#define KERNEL_BOOTLIB_H

#ifdef __cplusplus
extern "C" {
#endif

#define K_BOOT_HOST_LEN 64
#define K_BOOT_FILE_LEN 160
#define K_BOOT_FILE_DEFAULT "host:/boot/kernel"

typedef struct BootParams {
    char hostName[K_BOOT_HOST_LEN];
    char bootFile[K_BOOT_FILE_LEN];
} BootParams;

extern BootParams sysBootParams;

#ifdef __cplusplus
}
#endif
#endif
