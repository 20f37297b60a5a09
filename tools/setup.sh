#!/usr/bin/env bash
# Installs the Debian packages that one purpose needs, when they are missing:
#
#   setup.sh main     compilers, CMake, libtirpc, libffi, libedit, rpcbind, nfs-ganesha and
#                     chrony: building, running and the main job (tools/main-job.sh)
#   setup.sh test     the main set, then what the test command adds: GoogleTest, Google
#                     Benchmark, clang with its sanitizer and fuzzing runtimes, clang-tidy,
#                     cppcheck, the 32-bit runtime of g++ (tools/test.sh)
#   setup.sh arches   the test sets, then the cross compilers and qemu-user
#                     (tools/test-arches.sh)
#   setup.sh qemu     qemu-user alone (the 32-bit leg where the kernel runs no 32-bit programs)
#   setup.sh bench    the main set, then libnfs's tools and matplotlib (tools/bench.sh)
#
# Each set is its own apt transaction, with --no-remove: a set that cannot be installed as it
# stands fails with apt's own message and the names of the packages at fault, and never
# removes anything. The package lists are refreshed only when something is missing, and a
# list that fails to download is a warning: what the other lists hold may still do. Services
# that a package would start are kept from starting (the tests start their own peers in
# private namespaces). No foreign architecture is ever added: the other architectures' target
# libraries come from tools/sysroot.sh.
#
# chrony conflicts with systemd-timesyncd; where it cannot be installed without removing that,
# its Debian package is unpacked into the checkout's build-chrony folder instead (with its
# libraries installed as packages), where tests/peers/with-chrony.sh finds it.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

mainPackages=(cmake ninja-build g++ pkg-config libtirpc-dev libffi-dev libedit-dev
              rpcbind nfs-ganesha nfs-ganesha-vfs iproute2 util-linux netbase)
testPackages=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-dev clang-tidy cppcheck
              llvm g++-12-multilib)
qemuPackages=(qemu-user)
archesPackages=(g++-s390x-linux-gnu g++-powerpc-linux-gnu)
benchPackages=(libnfs-utils python3-matplotlib)
chronyDir="$top/build-chrony"

logDir="$top/build-setup"
listsFresh=0
policyMade=0

usage() {
    echo "usage: $0 [main|test|arches|qemu|bench]..." >&2
    exit 2
}

isInstalled() {
    [ "$(dpkg-query -W -f='${db:Status-Abbrev}' "$1" 2>/dev/null)" = "ii " ]
}

# The package lists, once per run and only when something is to be installed.
refreshLists() {
    [ "$listsFresh" -eq 0 ] || return 0
    listsFresh=1
    echo "setup: refreshing the package lists"
    if ! apt-get update >"$logDir/update.log" 2>&1 ||
        grep -Eq '^(E|W): Failed' "$logDir/update.log"; then
        echo "setup: warning: some package lists could not be refreshed (going on with what there is):"
        grep -E '^(E|W):' "$logDir/update.log" | head -n 8 | sed 's/^/setup:   /'
    fi
}

# While packages are installed, a policy-rc.d that refuses every service start, unless the
# machine has one of its own (which is left as it is).
holdServices() {
    [ "$policyMade" -eq 0 ] || return 0
    [ ! -e /usr/sbin/policy-rc.d ] || return 0
    printf '#!/bin/sh\n# Made by setup.sh for the duration of its install: no service starts.\nexit 101\n' \
        >/usr/sbin/policy-rc.d
    chmod 755 /usr/sbin/policy-rc.d
    policyMade=1
}

releaseServices() {
    [ "$policyMade" -eq 1 ] || return 0
    rm -f /usr/sbin/policy-rc.d
    policyMade=0
}
trap releaseServices EXIT
# An interrupted install still takes its policy-rc.d away.
trap 'exit 130' INT
trap 'exit 143' TERM HUP

# The packages of a set that apt cannot install, each tried alone.
faultyPackages() {
    local package
    for package in "$@"; do
        apt-get install -s --no-remove "$package" >/dev/null 2>&1 || printf '%s ' "$package"
    done
}

# installSet NAME PACKAGE...: one transaction for what of PACKAGE... is missing; without the
# packages they recommend when noRecommends is set.
installSet() {
    local name=$1 package missing=() log
    shift
    for package in "$@"; do
        isInstalled "$package" || missing+=("$package")
    done
    [ "${#missing[@]}" -gt 0 ] || return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: the $name set lacks ${missing[*]}; run this as root to install them" >&2
        exit 1
    fi
    refreshLists
    holdServices
    log="$logDir/$name.log"
    echo "setup: $name: installing ${missing[*]} (log: $log)"
    local options=()
    [ -z "${noRecommends:-}" ] || options+=(--no-install-recommends)
    if ! DEBIAN_FRONTEND=noninteractive apt-get install -y --no-remove "${options[@]}" "${missing[@]}" >"$log" 2>&1; then
        echo "setup: FAILED to install the $name set; apt said:" >&2
        tail -n 25 "$log" | sed 's/^/    /' >&2
        local faulty
        faulty=$(faultyPackages "${missing[@]}")
        echo "setup: packages that cannot be installed here: ${faulty:-none alone (only together: see the log)}" >&2
        exit 1
    fi
}

# chronyd, from the package where it installs without removing anything, else unpacked.
setupChrony() {
    isInstalled chrony && return 0
    [ -x "$chronyDir/usr/sbin/chronyd" ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "setup: chrony is missing; run this as root to install it" >&2
        exit 1
    fi
    refreshLists
    if apt-get install -s --no-remove chrony >/dev/null 2>&1; then
        installSet chrony chrony
        return 0
    fi
    echo "setup: chrony cannot be installed without removing a package (it conflicts with the"
    echo "setup: machine's time service): unpacking its package into $chronyDir"
    local debs deb depends
    debs=$(mktemp -d)
    # shellcheck disable=SC2064 # the folder is fixed now
    trap "rm -rf '$debs'; releaseServices" EXIT
    if ! (cd "$debs" && apt-get download -o APT::Sandbox::User=root chrony) >"$logDir/chrony.log" 2>&1; then
        echo "setup: FAILED to download chrony; apt said:" >&2
        tail -n 15 "$logDir/chrony.log" | sed 's/^/    /' >&2
        exit 1
    fi
    deb=$(echo "$debs"/chrony_*.deb)
    # Its shared libraries as packages; the rest of its dependencies serve the package's own
    # scripts and service, which the unpacked copy does not have.
    depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/[|(].*//; s/ //g' | grep '^lib' || true)
    # shellcheck disable=SC2086 # one word per package
    installSet chrony-libraries $depends
    rm -rf "$chronyDir"
    mkdir -p "$chronyDir"
    dpkg-deb -x "$deb" "$chronyDir"
    "$chronyDir/usr/sbin/chronyd" --version >/dev/null
    rm -rf "$debs"
    trap releaseServices EXIT
}

# Without recommended packages: the 32-bit C library's recommend gcc-multilib, which conflicts
# with the cross compilers of the arches set.
testSet() {
    noRecommends=1 installSet test "${testPackages[@]}"
}

sets=("$@")
[ "${#sets[@]}" -gt 0 ] || sets=(main)
mkdir -p "$logDir"
for set in "${sets[@]}"; do
    case "$set" in
    main)
        installSet main "${mainPackages[@]}"
        setupChrony
        ;;
    test)
        installSet main "${mainPackages[@]}"
        setupChrony
        testSet
        ;;
    arches)
        installSet main "${mainPackages[@]}"
        setupChrony
        testSet
        installSet qemu "${qemuPackages[@]}"
        installSet arches "${archesPackages[@]}"
        ;;
    qemu) installSet qemu "${qemuPackages[@]}" ;;
    bench)
        installSet main "${mainPackages[@]}"
        setupChrony
        installSet bench "${benchPackages[@]}"
        ;;
    *) usage ;;
    esac
done
exit 0
