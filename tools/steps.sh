# Shared by the tools' scripts (sourced): one line per step, the steps' output in a log that
# is shown when the step fails, and ccache for the compilers where it is installed.

# step WHO TEXT: the line a user sees when a step starts.
step() {
    local who=$1
    shift
    echo "$who: $* ($(date +%H:%M:%S))"
}

# logged LOG COMMAND [ARGS...]: runs COMMAND with its output in LOG; when it fails, shows the
# log's last lines and where the whole log is, and returns its status.
logged() {
    local log=$1 status=0
    shift
    mkdir -p "$(dirname "$log")"
    "$@" >"$log" 2>&1 || status=$?
    if [ "$status" -ne 0 ]; then
        echo "---- the last lines of $log:" >&2
        tail -n 40 "$log" >&2
        echo "---- failed with status $status: $*" >&2
    fi
    return "$status"
}

# CMake arguments that put ccache in front of the compilers, when it is installed and the
# caller has not chosen a launcher (RT_NO_CCACHE=1: never).
launcherArgs=()
if [ -z "${RT_NO_CCACHE:-}" ] && command -v ccache >/dev/null 2>&1; then
    launcherArgs=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
