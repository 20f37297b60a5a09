#!/usr/bin/env bash
# The slower runs on other architectures: every 32-bit x86 suite, the live ones included
# (natively where the kernel runs 32-bit programs, else under qemu-i386); every s390x (64-bit big-endian) suite under qemu-s390x, against libraries
# unpacked from Debian's s390x packages; and every suite for 32-bit big-endian PowerPC, the
# target, under qemu-ppc, after a compile of its modules where no warning may appear.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/tools/setup.sh"
cross=(g++-powerpc-linux-gnu g++-s390x-linux-gnu)
for package in "${cross[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || {
        apt-get update -qq
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${cross[@]}" >/dev/null
        break
    }
done

"$top/tools/test-i686.sh" --live

sysroot="$top/build-s390x-sysroot"
"$top/tools/s390x-sysroot.sh" "$sysroot"
cmake -S "$top" -B "$top/build-s390x" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=OFF -DRT_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/s390x.cmake" -DRT_SYSROOT="$sysroot" >/dev/null
cmake --build "$top/build-s390x" -j2
(cd "$top/build-s390x" && ctest --output-on-failure --timeout 1800 -j2 -E '^lint$')

# PowerPC, the target (32-bit, big-endian, unsigned char): first the modules and the kernel
# layer in a Release build, where no warning may appear; then every suite, the live ones
# included, built with AddressSanitizer and UBSan against the libraries of
# tools/powerpc-libs.sh and run under qemu-ppc. Without the leak checker, which cannot stop a
# program's threads under qemu-user, and with a smaller quarantine of freed blocks, as for
# 32-bit x86 under qemu: with the default 256 MiB the allocator runs out of room in the suites
# that move tens of mebibytes, and hangs. The shell is not built (no libffi or libedit here).
cmake -S "$top" -B "$top/build-powerpc" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRT_TESTS=OFF -DRT_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/powerpc.cmake" >/dev/null
cmake --build "$top/build-powerpc" -j2 --target brisnelObjects tovelleObjects quenbyObjects kernel
echo "powerpc: the modules and the kernel layer compile without warnings"
"$top/tools/powerpc-libs.sh" "$top/build-powerpc-libs"
cmake -S "$top" -B "$top/build-powerpc-qemu" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON -DRT_WERROR=ON \
      -DRT_BENCH=OFF -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/powerpc.cmake" \
      -DRT_POWERPC_LIBS="$top/build-powerpc-libs" >/dev/null
cmake --build "$top/build-powerpc-qemu" -j2
(cd "$top/build-powerpc-qemu" &&
    ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:quarantine_size_mb=32 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    ctest --output-on-failure --timeout 1800 -j2 -E '^lint$')
