#!/usr/bin/env bash
# The 32-bit x86 configuration with AddressSanitizer and UBSan: builds it in build-i686 and
# runs its unit suites; with --live, every suite, the live ones against the real peers too.
# This machine's kernel runs no 32-bit programs, so they run under qemu-i386, and without the
# leak checker, which cannot stop a program's threads under qemu-user, and with a smaller
# quarantine of freed blocks: under qemu-user the emulator's own mappings crowd the 32-bit
# address space, and the default 256 MiB drives AddressSanitizer's allocator out of room in
# the suites that move tens of mebibytes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-i686"

cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON \
      -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/i686.cmake" >/dev/null
cmake --build "$build" -j2

export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:quarantine_size_mb=32
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
if [ "${1:-}" = --live ]; then
    exec ctest --output-on-failure --timeout 1800 -j2 -E '^lint$'
fi
# The suites where the word sizes show: the kernel layer, the store, the cache and the XDR
# routines. The rest of the NFS suite runs with --live.
ctest --output-on-failure --timeout 600 -j2 -R '^(kernel|store)$'
qemu-i386 tests/nfsTests --gtest_brief=1 --gtest_filter='Cache*:Xdr*'
