#!/bin/sh
# The long fuzz run: every target for the executions given (default 10 million), one after
# another on one core, from the kept corpus and the one grown by the runs before. Each
# target prints its executions; a finding stops the run with its input in
# build-fuzz/findings/. Usage: bench/fuzz_long.sh [EXECUTIONS]
set -eu
FUZZ_RUNS=${1:-10000000} exec "$(dirname "$0")/../scripts/fuzz.sh"
