#!/usr/bin/env bash
# Runs a test program in a network namespace of its own, with only its loopback interface up,
# where the user may make one (root): the scripted servers bind fixed loopback addresses and
# ports, and two runs on one machine (or a run beside a live suite) would otherwise meet there.
# Elsewhere the program runs as it is.
#
#   with-private-net.sh PROGRAM [ARG...]
set -euo pipefail
if [[ -z "${RT_PRIVATE_NET:-}" && $(id -u) -eq 0 ]] && command -v ip >/dev/null &&
    unshare --net true 2>/dev/null; then
    exec unshare --net -- env RT_PRIVATE_NET=1 /bin/sh -c 'ip link set lo up && exec "$@"' sh "$@"
fi
exec "$@"
