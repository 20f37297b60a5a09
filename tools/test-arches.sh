#!/usr/bin/env bash
# The slower runs on other architectures: every 32-bit x86 suite, the live ones included
# (natively where the kernel runs 32-bit programs, else under qemu-i386); every s390x (64-bit
# big-endian) suite under qemu-s390x; both against libraries unpacked from Debian's packages
# of that architecture (tools/sysroot.sh), never installed. And every suite for 32-bit
# big-endian PowerPC, the target, under qemu-ppc, after a compile of its modules where no
# warning may appear.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=tools/steps.sh
. "$top/tools/steps.sh"

step test-arches "set-up: the packages of the main, test and arches sets (tools/setup.sh arches)"
"$top/tools/setup.sh" arches

step test-arches "32-bit x86: every suite (tools/test-i686.sh --live)"
"$top/tools/test-i686.sh" --live

step test-arches "s390x: the sysroot, the build (log: $top/build-s390x/build.log) and every suite under qemu-s390x"
sysroot="$top/build-s390x-sysroot"
"$top/tools/sysroot.sh" s390x "$sysroot"
logged "$top/build-s390x/configure.log" cmake -S "$top" -B "$top/build-s390x" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DRT_SANITIZE=OFF -DRT_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/s390x.cmake" \
    -DRT_SYSROOT="$sysroot" "${launcherArgs[@]}"
logged "$top/build-s390x/build.log" cmake --build "$top/build-s390x" -j2
(cd "$top/build-s390x" && ctest --output-on-failure --timeout 1800 -j2 -E '^lint$')

# PowerPC, the target (32-bit, big-endian, unsigned char): first the modules and the kernel
# layer in a Release build, where no warning may appear; then every suite, the live ones
# included, built with AddressSanitizer and UBSan against the libraries of
# tools/powerpc-libs.sh and run under qemu-ppc. Without the leak checker, which cannot stop a
# program's threads under qemu-user, and with a smaller quarantine of freed blocks, as for
# 32-bit x86 under qemu: with the default 256 MiB the allocator runs out of room in the suites
# that move tens of mebibytes, and hangs. And without its tracking of threads' dynamic TLS
# blocks, which serves the leak checker alone: under qemu-ppc it faults at times when a
# thread ends (a crash in the sanitizer's DTLS_Destroy, no frame of ours). The shell is not
# built (no libffi or libedit here).
step test-arches "PowerPC: the modules and the kernel layer compiled without warnings (log: $top/build-powerpc/build.log)"
logged "$top/build-powerpc/configure.log" cmake -S "$top" -B "$top/build-powerpc" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DRT_TESTS=OFF -DRT_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/powerpc.cmake" "${launcherArgs[@]}"
logged "$top/build-powerpc/build.log" cmake --build "$top/build-powerpc" -j2 \
    --target brisnelObjects tovelleObjects quenbyObjects kernel
step test-arches "PowerPC: the libraries (tools/powerpc-libs.sh), the build (log: $top/build-powerpc-qemu/build.log) and every suite under qemu-ppc"
"$top/tools/powerpc-libs.sh" "$top/build-powerpc-libs"
logged "$top/build-powerpc-qemu/configure.log" cmake -S "$top" -B "$top/build-powerpc-qemu" -G Ninja \
    -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON -DRT_WERROR=ON -DRT_BENCH=OFF \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/powerpc.cmake" -DRT_POWERPC_LIBS="$top/build-powerpc-libs" \
    "${launcherArgs[@]}"
logged "$top/build-powerpc-qemu/build.log" cmake --build "$top/build-powerpc-qemu" -j2
(cd "$top/build-powerpc-qemu" &&
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:quarantine_size_mb=32:intercept_tls_get_addr=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure --timeout 1800 -j2 -E '^lint$')
