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
scripts/build.sh build
stage "build"
# -j8: most suites wait on paced lines, not on the CPU (their parts run side by side).
(cd build && ctest --output-on-failure -j8)
stage "tests"
[ "${1:-}" = "--quick" ] && exit 0
# clang builds with sanitizers in a third of gcc's time; with the fuzzer's instrumentation
# added, the same build serves the fuzz targets.
CXX=${FUZZ_CXX:-clang++} scripts/build.sh build-asan -DVELMARIS_SANITIZE=ON -DVELMARIS_FUZZ=ON \
    -DVELMARIS_BENCH=OFF
stage "sanitizer build"
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j8)
stage "sanitizer tests"
scripts/package_check.sh build
scripts/configure_three.sh build
stage "package and three controllers"
FUZZ_BUILD=build-asan scripts/fuzz.sh 60
stage "fuzzing"
