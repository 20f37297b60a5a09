#!/usr/bin/env bash
# The slower runs on other architectures: every 32-bit x86 suite, the live ones included,
# under qemu-i386; and the three modules and the kernel layer compiled for 32-bit big-endian
# PowerPC, the target, where no warning may appear.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

"$top/tools/setup.sh"
dpkg-query -W -f='${Status}' g++-powerpc-linux-gnu 2>/dev/null | grep -q "install ok installed" || {
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq g++-powerpc-linux-gnu >/dev/null
}

"$top/tools/test-i686.sh" --live

cmake -S "$top" -B "$top/build-powerpc" -G Ninja -DCMAKE_BUILD_TYPE=Release -DRT_TESTS=OFF \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/powerpc.cmake" >/dev/null
cmake --build "$top/build-powerpc" -j2 --target brisnelObjects tovelleObjects quenbyObjects kernel
echo "powerpc: the modules and the kernel layer compile without warnings"
