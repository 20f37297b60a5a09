#!/usr/bin/env bash
# The 32-bit x86 configuration with AddressSanitizer and UBSan: builds it in build-i686 and
# runs its unit suites; with --live, every suite, the live ones against the real peers too.
# Where the kernel runs 32-bit programs they run natively, with the leak checker; elsewhere
# under qemu-i386, without it (it cannot stop a program's threads under qemu-user) and with a
# smaller quarantine of freed blocks: under qemu-user the emulator's own mappings crowd the
# 32-bit address space, and the default 256 MiB drives AddressSanitizer's allocator out of
# room in the suites that move tens of mebibytes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-i686"

configure() {
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRT_SANITIZE=ON -DRT_WERROR=ON \
          -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/i686.cmake" -DRT_I686_EMULATOR="$1" >/dev/null
}
configure qemu-i386
cmake --build "$build" -j2 --target kernelTests
emulator=(qemu-i386)
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:quarantine_size_mb=32
if ASAN_OPTIONS=detect_leaks=0 "$build/tests/kernelTests" --gtest_list_tests >/dev/null 2>&1; then
    echo "test-i686: the kernel runs 32-bit programs: natively, with the leak checker"
    configure ""
    emulator=()
    export ASAN_OPTIONS=abort_on_error=0
fi
cmake --build "$build" -j2
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
if [ "${1:-}" = --live ]; then
    exec ctest --output-on-failure --timeout 1800 -j2 -E '^lint$'
fi
# The suites where the word sizes show: the kernel layer, the store, the cache and the XDR
# routines. The rest of the NFS suite runs with --live.
ctest --output-on-failure --timeout 600 -j2 -R '^(kernel|store)$'
"${emulator[@]}" tests/nfsTests --gtest_brief=1 --gtest_filter='Cache*:Xdr*'
