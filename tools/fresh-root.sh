#!/usr/bin/env bash
# Runs a command in a fresh Debian 12 root, as a new user's machine would be: a minimal
# bookworm (debootstrap --variant=minbase) with the package archive as it is today
# (bookworm, bookworm-updates, bookworm-security), and a copy of this checkout in /src.
#
#   tools/fresh-root.sh [--reuse] [COMMAND [ARGS...]]     (as root; default COMMAND: bash)
#
#   tools/fresh-root.sh tools/main-job.sh          a new root, then the main job in it
#   tools/fresh-root.sh --reuse tools/test.sh      the test command in the same root after it
#
# The minimal root is made once and kept in build-fresh-root/minbase (delete it to make it
# anew); each run without --reuse copies it to build-fresh-root/root, and every run copies the
# checkout (without its build folders and .git) to root/src, over what a run left there. COMMAND runs in /src with a clean environment, in
# private mount and process namespaces with proc, sys and dev mounted (the test scripts make
# their own network namespaces inside); every process it starts ends with it. The root stays
# for a look until the next run. The packages installed before COMMAND are compared with
# those after it: one removed fails the run. RT_DEBIAN_MIRROR names another archive;
# RT_FRESH_ROOT_DIR another folder for the root, for two roots side by side.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
base="$top/build-fresh-root"
pristine="$base/minbase"
root=$(realpath -m "${RT_FRESH_ROOT_DIR:-$base/root}")
mirror=${RT_DEBIAN_MIRROR:-http://deb.debian.org/debian}
security=${RT_DEBIAN_SECURITY:-http://deb.debian.org/debian-security}

reuse=0
if [ "${1:-}" = --reuse ]; then
    reuse=1
    shift
fi
[ $# -gt 0 ] || set -- bash
[ "$(id -u)" -eq 0 ] || { echo "fresh-root: run this as root" >&2; exit 1; }

# Nothing may still be mounted below a folder about to be removed.
checkUnmounted() {
    if grep -q " $1/" /proc/self/mounts; then
        echo "fresh-root: something is still mounted below $1; not removing it" >&2
        exit 1
    fi
}

if [ ! -f "$pristine/.complete" ]; then
    command -v debootstrap >/dev/null || {
        echo "fresh-root: debootstrap is missing (apt-get install --no-remove debootstrap)" >&2
        exit 1
    }
    echo "fresh-root: making a minimal bookworm root in $pristine (a few minutes; log in $base/debootstrap.log)"
    checkUnmounted "$pristine"
    rm -rf "$pristine"
    mkdir -p "$base"
    if ! debootstrap --variant=minbase bookworm "$pristine" "$mirror" >"$base/debootstrap.log" 2>&1; then
        tail -n 20 "$base/debootstrap.log" >&2
        echo "fresh-root: debootstrap failed" >&2
        exit 1
    fi
    cat >"$pristine/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security bookworm-security main
EOF
    # What every installed system has and a bare debootstrap does not: the mount table's old
    # name (nfs-ganesha reads it) and the host names of loopback.
    ln -sfn ../proc/self/mounts "$pristine/etc/mtab"
    printf '127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n' >"$pristine/etc/hosts"
    touch "$pristine/.complete"
fi

if [ "$reuse" -eq 0 ] || [ ! -d "$root/src" ]; then
    echo "fresh-root: a new root in $root, the checkout in $root/src"
    checkUnmounted "$root"
    rm -rf "$root"
    cp -a "$pristine" "$root"
    mkdir "$root/src"
else
    echo "fresh-root: the root of the last run, $root, the checkout copied again over $root/src"
fi
tar -C "$top" --exclude='./build-*' --exclude=./.git --exclude=./.cache --exclude=./bench-results \
    -cf - . | tar -C "$root/src" -xf -
cp -L /etc/resolv.conf "$root/etc/resolv.conf"

packages() {
    chroot "$root" dpkg-query -W -f '${Package}:${Architecture}\n' | sort
}
packages >"$root.packages-before"

echo "fresh-root: running $* in $root/src"
status=0
# shellcheck disable=SC2016 # expanded by the inner shell
unshare --mount --propagation private --pid --fork --kill-child -- /bin/bash -c '
    set -e
    root=$1
    shift
    # The root a mount of its own, so that the namespaces made inside can change its propagation.
    mount --bind "$root" "$root"
    mount -t proc proc "$root/proc"
    mount --rbind /sys "$root/sys"
    mount --rbind /dev "$root/dev"
    exec chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" LANG=C.UTF-8 \
        PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        /bin/bash -c "cd /src && exec \"\$@\"" command "$@"
' fresh-root "$root" "$@" || status=$?

packages >"$root.packages-after"
removed=$(comm -23 "$root.packages-before" "$root.packages-after")
added=$(comm -13 "$root.packages-before" "$root.packages-after" | wc -l)
echo "fresh-root: $* exited with $status; $added packages added"
if [ -n "$removed" ]; then
    echo "fresh-root: packages REMOVED: $removed" >&2
    exit 1
fi
exit "$status"
