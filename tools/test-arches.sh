#!/usr/bin/env bash
# The slower runs on other architectures: every 32-bit x86 suite, the live ones included
# (natively where the kernel runs 32-bit programs, else under qemu-i386); every s390x (64-bit
# big-endian) suite under qemu-s390x; both against libraries unpacked from Debian's packages
# of that architecture (tools/sysroot.sh), never installed. And the three modules and the
# kernel layer compiled for 32-bit big-endian PowerPC, the target, where no warning may appear.
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

cmake -S "$top" -B "$top/build-powerpc" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRT_TESTS=OFF -DRT_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/powerpc.cmake" >/dev/null
cmake --build "$top/build-powerpc" -j2 --target brisnelObjects tovelleObjects quenbyObjects kernel
echo "powerpc: the modules and the kernel layer compile without warnings"
