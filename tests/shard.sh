#!/bin/sh
# Runs part K of N of a Qt test: every N-th of its rows (function and data tag), starting
# at the K-th, so CTest can run the parts of a suite that waits on paced lines side by side.
# Every row falls in exactly one part; a part with no rows passes.
set -eu
exe=$1 k=$2 n=$3
shift 3
rows=$("$exe" -datatags) || { echo "$exe -datatags failed" >&2; exit 1; }
set --
i=0
nl='
'
IFS=$nl
for line in $rows; do
    # "Class function [tag ...]": the tag is the rest of the line and may hold spaces.
    rest=${line#* }
    fn=${rest%% *}
    case $fn in initTestCase|cleanupTestCase|init|cleanup) continue ;; esac
    if [ "$((i % n))" -eq "$((k - 1))" ]; then
        if [ "$rest" = "$fn" ]; then set -- "$@" "$fn"; else set -- "$@" "$fn:${rest#* }"; fi
    fi
    i=$((i + 1))
done
unset IFS
[ $# -eq 0 ] && { echo "part $k of $n: no rows"; exit 0; }
exec "$exe" "$@"
