#!/bin/sh
# Builds the fuzz targets with clang (ASan + UBSan) into build-fuzz/ (or the folder named by
# FUZZ_BUILD: the test run's sanitizer build is such a clang build) and runs each for the
# seconds given (default 60) from its corpus in fuzz/corpus/<target>; with FUZZ_RUNS set,
# for that many executions instead (the long run, bench/fuzz_long.sh). New inputs found on
# the way go to <build>/corpus/<target>; a finding stops the run with the target's crash
# file and a non-zero exit.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-60}
dir=${FUZZ_BUILD:-$root/build-fuzz}
# Absolute: a target may change its working folder.
case $dir in /*) ;; *) dir=$root/$dir ;; esac
CXX=${FUZZ_CXX:-clang++} cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVELMARIS_FUZZ=ON -DVELMARIS_BENCH=OFF >/dev/null
targets="fuzz_master_answer fuzz_ini fuzz_device_map fuzz_files"
cmake --build "$dir" -j"$(nproc)" --target $targets
# One target per core at a time: each still has a core of its own for its seconds.
run_one() {
    t=$1
    mkdir -p "$dir/corpus/$t" "$dir/findings"
    if [ -n "${FUZZ_RUNS:-}" ]; then
        limit="-runs=$FUZZ_RUNS"
    else
        limit="-max_total_time=$seconds"
    fi
    ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
        "$dir/fuzz/$t" "$limit" -max_len=2048 -timeout=10 \
        -artifact_prefix="$dir/findings/$t-" -print_final_stats=1 \
        "$dir/corpus/$t" "$root/fuzz/corpus/$t" 2>"$dir/$t.log"
}
report() {
    t=$1 rc=$2
    if [ -n "${FUZZ_RUNS:-}" ]; then echo "== $t: $FUZZ_RUNS executions"; else echo "== $t: $seconds s"; fi
    [ "$rc" -eq 0 ] || tail -40 "$dir/$t.log"
    grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$dir/$t.log" | tail -2
}
jobs=$(nproc)
status=0
set -- $targets
while [ $# -gt 0 ]; do
    names="" pids=""
    i=0
    while [ $# -gt 0 ] && [ $i -lt "$jobs" ]; do
        run_one "$1" &
        names="$names$1 " pids="$pids$! "
        shift
        i=$((i + 1))
    done
    for t in $names; do
        pid=${pids%% *} pids=${pids#* }
        rc=0
        wait "$pid" || rc=$?
        report "$t" "$rc"
        [ "$rc" -eq 0 ] || status=1
    done
done
exit $status
