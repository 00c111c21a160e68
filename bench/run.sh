#!/usr/bin/env bash
# Builds the benchmarks and runs them all (about nine minutes); prints Markdown tables.
# bench_link includes the loopback Modbus TCP reads against libmodbus's TCP client.
# Usage: bench/run.sh [BUILD_DIR]   (default: build/ beside bench/)
# Needs: libmodbus-dev, xvfb, xdotool (apt-get install -y --no-install-recommends ...).
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$src/build}
cmake -S "$src" -B "$build" -DVELMARIS_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target velmaris qor7070-sim bench_link bench_cycle bench_writeback \
  bench_trendview bench_slowlink bench_history bench_plant bench_mqtt >/dev/null

echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(date -u +%Y-%m-%dT%H:%MZ)"
echo
"$build/bench/bench_link"
"$build/bench/bench_cycle" --cpu 60 30
"$build/bench/bench_writeback"
echo "## Window process CPU time (velmaris under Xvfb)"
echo
echo "| state | wall s | CPU s | CPU / wall | cycles seen by the simulator |"
echo "|---|---|---|---|---|"
"$src/bench/window_cpu.sh" "$build" 60 30
echo
echo "## Window with the live chart shown (CHART=1), 60 s online"
echo
CHART=1 "$src/bench/window_cpu.sh" "$build" 60 0
echo
echo "## Trend viewer on a week of rows"
echo
QT_QPA_PLATFORM=offscreen "$build/bench/bench_trendview" 2>/dev/null
echo
"$build/bench/bench_history" # its own headings
echo
echo "## Through a slow device server (answers 300-800 ms late), 60 s a line"
echo
QT_QPA_PLATFORM=offscreen "$build/bench/bench_slowlink" 60 400
echo
"$build/bench/bench_plant" # its own headings
echo
"$build/bench/bench_mqtt" # its own headings
