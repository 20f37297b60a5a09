#!/usr/bin/env bash
# Unpacks Debian's s390x builds of the libraries the tests link (libtirpc with its Kerberos
# dependencies, GoogleTest) into a sysroot folder, DIR (default build-s390x-sysroot). A
# multiarch install of them is blocked by version skew against the host's packages; the C and
# C++ libraries come from the cross compiler's own packages in /usr/s390x-linux-gnu.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
root=$(realpath -m "${1:-$top/build-s390x-sysroot}")
packages=(libtirpc3 libtirpc-dev libgssapi-krb5-2 libkrb5-3 libk5crypto3 libkrb5support0
          libcom-err2 libkeyutils1 libssl3 libgtest-dev libgmock-dev)

[ -f "$root/.unpacked" ] && exit 0
if ! dpkg --print-foreign-architectures | grep -qx s390x; then
    dpkg --add-architecture s390x
    apt-get update -qq
fi
debs=$(mktemp -d)
trap 'rm -rf "$debs"' EXIT
chmod 755 "$debs"
(cd "$debs" && apt-get download -qq "${packages[@]/%/:s390x}" 2>/dev/null)
mkdir -p "$root"
for deb in "$debs"/*.deb; do
    dpkg-deb -x "$deb" "$root"
done
# Links that name an absolute path point into the sysroot instead.
find "$root" -type l -lname '/*' | while read -r link; do
    ln -sfn "$root$(readlink "$link")" "$link"
done
touch "$root/.unpacked"
