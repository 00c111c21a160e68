#!/bin/sh
# Builds and runs every test: once as built (gcc), once under AddressSanitizer and UBSan (a
# clang build that also holds the fuzz targets); then builds the Debian package and checks
# it unpacked; configures three simulated controllers (serial, RTU over TCP, Modbus TCP) from
# one profile; then runs every fuzz target for a minute.
# With --quick: the build and its tests only (the everyday check).
set -eu
cd "$(dirname "$0")/.."
start=$(date +%s)
stage() { echo "== $1 done at $(($(date +%s) - start)) s"; }
scripts/setup.sh
stage "setup"
export QT_QPA_PLATFORM=offscreen
# Line tables are enough for a backtrace; full debug information only slows the build
# (the package is stripped either way).
lines_only="-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
scripts/build.sh build "$lines_only"
stage "build"
# Most suites wait on paced lines, not on the CPU: their parts run side by side.
if [ "${1:-}" = "--quick" ]; then
    (cd build && ctest --output-on-failure -j12)
    stage "tests"
    exit 0
fi
# These tests run beside the sanitizer build, which runs at a lower priority: they wake on
# the line's bytes and must not wait for a compiler. -j8: they end well within the build's
# time, and a lighter load keeps them from being starved. clang builds with sanitizers in a
# third of gcc's time, and with the fuzzer's instrumentation added the same build serves
# the fuzz targets.
(cd build && ctest --output-on-failure -j8 > ctest.log 2>&1; echo $? > ctest.rc) &
tests=$!
trap 'kill $tests 2>/dev/null || true' EXIT
CXX=${FUZZ_CXX:-clang++} nice -n 10 scripts/build.sh build-asan "$lines_only" \
    -DVELMARIS_SANITIZE=ON -DVELMARIS_FUZZ=ON -DVELMARIS_BENCH=OFF
stage "sanitizer build"
wait $tests || true
cat build/ctest.log
[ "$(cat build/ctest.rc)" = 0 ] || exit 1
stage "tests"
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j12)
stage "sanitizer tests"
scripts/package_check.sh build
scripts/configure_three.sh build
stage "package and three controllers"
FUZZ_BUILD=build-asan scripts/fuzz.sh 60
stage "fuzzing"
