#!/usr/bin/env bash
# The 32-bit x86 configuration with AddressSanitizer and UBSan: builds it in build-i686 and
# runs its unit suites; with --live, every suite, the live ones against the real peers too.
# Its libraries come from Debian's i386 packages unpacked into build-i686-sysroot
# (tools/sysroot.sh), never from an i386 install.
# Where the kernel runs 32-bit programs they run natively, with the leak checker; elsewhere
# under qemu-i386, without it (it cannot stop a program's threads under qemu-user) and with a
# smaller quarantine of freed blocks: under qemu-user the emulator's own mappings crowd the
# 32-bit address space, and the default 256 MiB drives AddressSanitizer's allocator out of
# room in the suites that move tens of mebibytes.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build-i686"
sysroot="$top/build-i686-sysroot"
# shellcheck source=tools/steps.sh
. "$top/tools/steps.sh"

"$top/tools/sysroot.sh" i386 "$sysroot"
configure() {
    logged "$build/configure.log" cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
        -DRT_SANITIZE=ON -DRT_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="$top/cmake/toolchains/i686.cmake" \
        -DRT_SYSROOT="$sysroot" -DRT_I686_EMULATOR="$1" "${launcherArgs[@]}"
}
step test-i686 "configure in $build and build the kernel suite (log: $build/build.log)"
configure qemu-i386
logged "$build/build.log" cmake --build "$build" -j2 --target kernelTests
emulator=(qemu-i386)
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=0:quarantine_size_mb=32
if ASAN_OPTIONS=detect_leaks=0 "$build/tests/kernelTests" --gtest_list_tests >/dev/null 2>&1; then
    echo "test-i686: the kernel runs 32-bit programs: natively, with the leak checker"
    configure ""
    emulator=()
    export ASAN_OPTIONS=abort_on_error=0
else
    echo "test-i686: the kernel runs no 32-bit programs: under qemu-i386, without the leak checker"
    "$top/tools/setup.sh" qemu
fi
step test-i686 "build the rest (log: $build/build.log)"
logged "$build/build.log" cmake --build "$build" -j2
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build"
if [ "${1:-}" = --live ]; then
    step test-i686 "every suite through CTest"
    exec ctest --output-on-failure --timeout 1800 -j2 -E '^lint$'
fi
# The suites where the word sizes show: the kernel layer, the store, the cache and the XDR
# routines. The rest of the NFS suite runs with --live.
step test-i686 "the kernel, store, cache and XDR suites"
ctest --output-on-failure --timeout 600 -j2 -R '^(kernel|store)$'
"${emulator[@]}" tests/nfsTests --gtest_brief=1 --gtest_filter='Cache*:Xdr*'
