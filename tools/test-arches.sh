#!/usr/bin/env bash
# The slower runs on other architectures: every 32-bit x86 suite, the live ones included
# (natively where the kernel runs 32-bit programs, else under qemu-i386); every s390x (64-bit big-endian) suite under qemu-s390x, against libraries
# unpacked from Debian's s390x packages; and the three modules and the kernel layer compiled
# for 32-bit big-endian PowerPC, the target, where no warning may appear.
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

cmake -S "$top" -B "$top/build-powerpc" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRT_TESTS=OFF -DRT_WERROR=ON \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/powerpc.cmake" >/dev/null
cmake --build "$top/build-powerpc" -j2 --target brisnelObjects tovelleObjects quenbyObjects kernel
echo "powerpc: the modules and the kernel layer compile without warnings"
