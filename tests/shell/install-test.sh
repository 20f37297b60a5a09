#!/usr/bin/env bash
# Installs the build into a temporary prefix and runs the shell from there: it finds the
# modules by bare name in the installed library folder, and pkg-config finds the libraries.
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/rtsh-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
cd "$prefix"
out=$(env -u RTSH_MODULE_PATH -u LD_LIBRARY_PATH "$prefix/bin/rtsh" -q -c \
    'ld < quenby; ld < libtovelle.so; ld < brisnel; setNIVal 1, 77; getNIVal 1; sntpcPort')
echo "$out"
grep -q "ld: loaded $prefix/lib/libquenby.so" <<<"$out"
grep -q "ld: loaded $prefix/lib/libbrisnel.so" <<<"$out"
grep -q "value = 77 = 0x4d" <<<"$out"
grep -q "value = 123 = 0x7b" <<<"$out"
for library in kernel brisnel tovelle quenby; do
    PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --exists "lib$library"
done
flags=$(PKG_CONFIG_PATH="$prefix/lib/pkgconfig" pkg-config --cflags --libs libbrisnel)
grep -q -- "-I$prefix/lib/pkgconfig/../../include" <<<"$flags"
test -f "$prefix/include/brisnel/nfsMountLib.h"
test -f "$prefix/share/man/man1/rtsh.1"
grep -q "usage: rtsh" <<<"$("$prefix/bin/rtsh" --help)"
echo "install: shell, libraries, headers and pkg-config files work from $prefix"
