#!/usr/bin/env bash
# Installs what building, testing and running the system need, when it is missing.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libtirpc-dev libgtest-dev libgmock-dev
          libbenchmark-dev rpcbind nfs-ganesha nfs-ganesha-vfs chrony iproute2)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done

if [ "${#missing[@]}" -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Installing the peers must not leave their system services running on this machine's ports.
for service in rpcbind nfs-ganesha chrony; do
    if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet "$service" 2>/dev/null; then
        systemctl stop "$service" || true
    fi
done
exit 0
