#!/usr/bin/env bash
# Unpacks Debian's builds of the libraries the tests link, for another architecture, into a
# sysroot folder: libtirpc with its Kerberos dependencies, and GoogleTest.
#
#   tools/sysroot.sh ARCH [DIR]     ARCH: i386 or s390x; DIR: build-<ARCH>-sysroot (i386: build-i686-sysroot)
#
# The packages are downloaded (apt-get download) and unpacked (dpkg-deb -x), never installed:
# no foreign architecture is added to the machine's dpkg, so version skew between the
# architectures in the archive can neither block an install nor remove anything. apt runs
# with a state of its own beside the sysroot (DIR.apt: its own package lists for ARCH alone,
# its own cache and an empty status), so the machine's `apt-get update` never fetches ARCH's
# lists either. The C and C++ libraries come from the compilers' own packages (g++-12-multilib's
# lib32 packages, the cross compilers' /usr/<triplet>). Works without root too.
# A sysroot that holds every package of the list is kept; delete DIR to make it anew.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ $# -ge 1 ] || { echo "usage: $0 i386|s390x [DIR]" >&2; exit 2; }
arch=$1
case "$arch" in
i386) default="$top/build-i686-sysroot" ;;
s390x) default="$top/build-s390x-sysroot" ;;
*) echo "sysroot: no package list for $arch" >&2; exit 2 ;;
esac
root=$(realpath -m "${2:-$default}")
packages=(libtirpc3 libtirpc-dev libgssapi-krb5-2 libkrb5-3 libk5crypto3 libkrb5support0
          libcom-err2 libkeyutils1 libssl3 libgtest-dev libgmock-dev)
# The 32-bit kernel headers (asm/): the compiler's multilib packages bring the C library's own.
[ "$arch" != i386 ] || packages+=(linux-libc-dev)

stamp="$root/.unpacked"
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "${packages[*]}" ] && exit 0

state="$root.apt"
log="$state/sysroot.log"
mkdir -p "$state/lists/partial" "$state/cache/archives/partial" "$state/debs"
: >"$state/status"
apt=(apt-get -q -o Dir::State="$state" -o Dir::State::Lists="$state/lists"
     -o Dir::State::status="$state/status" -o Dir::Cache="$state/cache"
     -o APT::Architecture="$arch" -o APT::Architectures::="$arch"
     -o APT::Sandbox::User="$(id -un)" -o Debug::NoLocking=true)

echo "sysroot: $arch: downloading ${packages[*]} into $root (log: $log)"
# A list that fails to download is a warning: the others may hold every package.
if ! "${apt[@]}" update >"$log" 2>&1; then
    echo "sysroot: warning: some of $arch's package lists could not be downloaded:"
    grep -E '^(E|W):' "$log" | head -n 5 | sed 's/^/sysroot:   /'
fi
rm -f "$state/debs"/*.deb
if ! (cd "$state/debs" && "${apt[@]}" download "${packages[@]}") >>"$log" 2>&1; then
    echo "sysroot: FAILED to download $arch's packages; apt said:" >&2
    tail -n 15 "$log" | sed 's/^/    /' >&2
    exit 1
fi

# Only a folder that this script made (or an empty one) is made anew.
if [ -d "$root" ] && [ ! -f "$stamp" ] && [ -n "$(ls -A "$root")" ]; then
    echo "sysroot: $root holds files this script did not unpack; not replacing it" >&2
    exit 1
fi
rm -rf "$root"
mkdir -p "$root"
for deb in "$state/debs"/*.deb; do
    dpkg-deb -x "$deb" "$root"
done
# Links that name an absolute path point into the sysroot instead.
find "$root" -type l -lname '/*' | while read -r link; do
    ln -sfn "$root$(readlink "$link")" "$link"
done
echo "${packages[*]}" >"$stamp"
