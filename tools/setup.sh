#!/usr/bin/env bash
# Installs what building, testing and running the system need, when it is missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libtirpc-dev libffi-dev libedit-dev libgtest-dev libgmock-dev
          libbenchmark-dev rpcbind nfs-ganesha nfs-ganesha-vfs chrony iproute2 util-linux
          clang-tidy cppcheck clang libclang-rt-dev
          # the 32-bit x86 configuration, run under qemu-user where the kernel runs no 32-bit
          # programs (g++-multilib itself would remove the cross compilers of tools/test-arches.sh)
          g++-12-multilib linux-libc-dev:i386 libtirpc-dev:i386 libgtest-dev:i386 libgmock-dev:i386
          qemu-user)

dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386

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
