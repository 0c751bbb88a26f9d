# shellcheck shell=bash
# What the benchmark scripts share; sourced, not run. Expects $work.

# Median wall times in ms of the shell commands "$1" and "$2", run $3 times each, taking turns so
# that a slower minute of the machine weighs on both alike. Their standard output is dropped
# unless they redirect it themselves.
medians() {
    python3 - "$@" <<'PY'
import statistics, subprocess, sys, time
commands = sys.argv[1:3]
runs = int(sys.argv[3])
times = [[], []]
for turn in range(runs + 1):
    for which, command in enumerate(commands):
        began = time.perf_counter()
        subprocess.run(command, shell=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if turn > 0:  # the first turn warms up
            times[which].append(time.perf_counter() - began)
print(" ".join("%.1f" % (statistics.median(t) * 1000) for t in times))
PY
}

# Reads every file of the tree "$1" so that the runs find the cache warm, and prints how many runs
# each command gets there: RUNS (default 20), or 3 for a tree of 1 GB or more.
warm_tree() {
    local size
    size=$(du -sb "$1" 2>/dev/null | cut -f1)
    find "$1" -type f -exec cat {} + >/dev/null 2>&1 || true
    if [ "$size" -lt 1000000000 ]; then echo "${RUNS:-20}"; else echo 3; fi
}

# A fresh copy of "$work/master" at "$work/tree", with no restore points, on disk and in the cache.
fresh() {
    rm -rf "$work/tree" "$XDG_DATA_HOME/ferret/restore"
    cp -a "$work/master" "$work/tree"
    sync
    find "$work/tree" -name '*.h' -exec cat {} + >/dev/null
}
