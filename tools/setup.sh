#!/usr/bin/env bash
# Installs what building, testing and running the system need, when it is missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libtirpc-dev libffi-dev libedit-dev libgtest-dev libgmock-dev
          libbenchmark-dev rpcbind nfs-ganesha nfs-ganesha-vfs chrony iproute2 util-linux
          clang clang-tidy cppcheck)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done

if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
    # The tests start the peers themselves, on loopback: a service that the install just
    # started would hold their ports.
    for daemon in rpcbind ganesha.nfsd chronyd; do
        pkill -x "$daemon" 2>/dev/null || true
    done
fi
exit 0
