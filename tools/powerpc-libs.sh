#!/usr/bin/env bash
# Cross-builds for 32-bit big-endian PowerPC (powerpc-linux-gnu) the libraries the tests link,
# into a prefix DIR (default build-powerpc-libs): GoogleTest and GoogleMock from the sources of
# Debian's googletest package (/usr/src/googletest), and libtirpc from the upstream release
# that Debian packages, checked against its checksum and built without GSSAPI. Debian builds
# neither for PowerPC. Where libtirpc's release cannot be downloaded, it is taken from
# $RT_LIBTIRPC_TARBALL (the same file, checked alike) or, failing that, replaced by a stand-in
# that binds libtirpc's names to the C library's own ONC RPC routines (tools/powerpc/
# rpcFromLibc.c), and the script says so. A second run with the same inputs does nothing.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
prefix=$(realpath -m "${1:-$top/build-powerpc-libs}")
host=powerpc-linux-gnu
tirpc_version=1.3.3
tirpc_tarball=libtirpc_${tirpc_version}+ds.orig.tar.gz
tirpc_sha256=facd98473c3a16fe6564c6458ef96ebb84d144345d1171f034fa019424bba027
tirpc_url=http://deb.debian.org/debian/pool/main/libt/libtirpc/$tirpc_tarball

# The stamp names every input: a change to one of them builds again.
inputs=$(cat "$0" "$top"/tools/powerpc/*.c "${RT_LIBTIRPC_TARBALL:-/dev/null}" | sha256sum | cut -d' ' -f1)
stamp="$prefix/.built"
if [ -f "$stamp" ] && [ "$(head -1 "$stamp")" = "$inputs" ]; then
    exit 0
fi
# Only a folder this script made is cleared.
if [ -n "$(ls -A "$prefix" 2>/dev/null)" ] && [ ! -f "$prefix/.powerpc-libs" ]; then
    echo "powerpc-libs: $prefix is not empty and was not made here" >&2
    exit 1
fi
rm -rf "$prefix"
mkdir -p "$prefix/src" "$prefix/lib/pkgconfig"
touch "$prefix/.powerpc-libs"
log="$prefix/build.log"
run() { "$@" >>"$log" 2>&1 || { echo "powerpc-libs: failed: $*; the log:" >&2; tail -40 "$log" >&2; exit 1; }; }

echo "powerpc-libs: GoogleTest from /usr/src/googletest"
run cmake -S /usr/src/googletest -B "$prefix/src/googletest" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_SYSTEM_NAME=Linux -DCMAKE_SYSTEM_PROCESSOR=powerpc \
    -DCMAKE_C_COMPILER=$host-gcc -DCMAKE_CXX_COMPILER=$host-g++ -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_INSTALL_LIBDIR=lib -DCMAKE_POSITION_INDEPENDENT_CODE=ON
run cmake --build "$prefix/src/googletest" -j2
run cmake --install "$prefix/src/googletest"

# AddressSanitizer's runtime for this target calls an 8-byte __sync routine that nothing provides.
run $host-gcc -O2 -c "$top/tools/powerpc/asanAtomic8.c" -o "$prefix/src/asanAtomic8.o"
run $host-ar rcs "$prefix/lib/libasanatomic8.a" "$prefix/src/asanAtomic8.o"

tarball="$prefix/src/$tirpc_tarball"
if [ -n "${RT_LIBTIRPC_TARBALL:-}" ]; then
    cp "$RT_LIBTIRPC_TARBALL" "$tarball"
else
    curl -fsS -m 120 -o "$tarball" "$tirpc_url" 2>>"$log" || rm -f "$tarball"
fi
if [ -f "$tarball" ]; then
    echo "$tirpc_sha256  $tarball" | sha256sum -c --quiet - ||
        { echo "powerpc-libs: $tarball does not match its checksum" >&2; exit 1; }
    echo "powerpc-libs: libtirpc $tirpc_version from its release, without GSSAPI"
    run tar -xzf "$tarball" -C "$prefix/src"
    source=$(find "$prefix/src" -maxdepth 1 -type d -name 'libtirpc*' | head -1)
    if [ ! -x "$source/configure" ]; then
        run env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-remove autoconf automake libtool
        run sh -c "cd '$source' && autoreconf -fi"
    fi
    run sh -c "cd '$source' && ./configure --host=$host --prefix='$prefix' --libdir='$prefix/lib' \
        --disable-gssapi --disable-static"
    run make -C "$source" -j2
    run make -C "$source" install
    tirpc="libtirpc $tirpc_version"
else
    echo "powerpc-libs: libtirpc's release could not be downloaded ($tirpc_url);" \
         "using the stand-in onto the C library's RPC routines (tools/powerpc/rpcFromLibc.c)"
    run $host-gcc -std=gnu11 -O2 -Wall -Wextra -Werror -fPIC -shared -I/usr/include/tirpc \
        "$top/tools/powerpc/rpcFromLibc.c" -o "$prefix/lib/librpcfromlibc.so"
    cat >"$prefix/lib/pkgconfig/libtirpc.pc" <<PC
Name: libtirpc
Description: libtirpc's headers over the C library's ONC RPC routines (stand-in)
Version: $tirpc_version
Cflags: -I/usr/include/tirpc
Libs: -L$prefix/lib -lrpcfromlibc
PC
    tirpc="the stand-in for libtirpc"
fi
printf '%s\n%s\n' "$inputs" "$tirpc" >"$stamp"
echo "powerpc-libs: ready in $prefix ($tirpc)"
