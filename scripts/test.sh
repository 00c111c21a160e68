#!/bin/sh
# Builds and runs every test: once as built, once under AddressSanitizer and UBSan; then
# builds the Debian package and checks it unpacked; configures three simulated controllers
# (serial, RTU over TCP, Modbus TCP) from one profile; then runs every fuzz target for a minute.
# With --quick: the build and its tests only (the everyday check).
set -eu
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
scripts/build.sh build
# -j8: most suites wait on paced lines, not on the CPU (their parts run side by side).
(cd build && ctest --output-on-failure -j8)
[ "${1:-}" = "--quick" ] && exit 0
scripts/build.sh build-asan -DVELMARIS_SANITIZE=ON -DVELMARIS_BENCH=OFF
(cd build-asan && ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j8)
scripts/package_check.sh build
scripts/configure_three.sh build
scripts/fuzz.sh 60
