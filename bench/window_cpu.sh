#!/usr/bin/env bash
# CPU time and peak memory of the real velmaris window polling qor7070-sim --pace at 9600
# baud (36 sensors, sensor-data page) under Xvfb, the password typed with xdotool.
# Usage: window_cpu.sh BUILD_DIR [ONLINE_S=60] [OFFLINE_S=30]
# CHART=1 shows the live chart under the sensor grids (it is hidden otherwise).
# APP=path runs another velmaris binary (e.g. a copy from before a change) against the same setup.
# CALLGRIND=FILE runs the window under valgrind's callgrind, counting instructions over the
# online period only (the load of the machine does not change them, unlike the CPU time);
# the count per poll cycle is printed and FILE kept for callgrind_annotate. Slow: the
# password dialog may take a minute to come up.
set -euo pipefail
build=$(realpath "$1")
online=${2:-60}
offline=${3:-30}
src=$(cd "$(dirname "$0")/.." && pwd)
sim="$build/src/sim/qor7070-sim"
app=$(realpath "${APP:-$build/src/app/velmaris}")
for tool in Xvfb xdotool; do
  command -v "$tool" >/dev/null || { echo "window_cpu.sh: $tool is missing (apt-get install xvfb xdotool)" >&2; exit 1; }
done

wd=$(mktemp -d)
simpid= xpid= vpid=
cleanup() {
  # Only the processes started here, by their pids.
  if [ -n "$vpid" ]; then kill "$vpid" 2>/dev/null; wait "$vpid" 2>/dev/null || true; fi
  if [ -n "$xpid" ]; then kill "$xpid" 2>/dev/null; wait "$xpid" 2>/dev/null || true; fi
  if [ -n "$simpid" ]; then
    echo quit >&7 2>/dev/null || true
    exec 7>&-
    sleep 0.3
    kill "$simpid" 2>/dev/null || true
    wait "$simpid" 2>/dev/null || true
  fi
  rm -rf "$wd"
  return 0
}
trap 'rc=$?; cleanup; exit $rc' EXIT

cp -r "$src/data/Cfg" "$src/data/start.ini" "$src/data/default.ini" "$wd/"
mkfifo "$wd/sim.in"
"$sim" --pty --pace --baud 9600 --sensors 36 --quiet --log "$wd/sim.log" <"$wd/sim.in" >"$wd/sim.out" 2>&1 &
simpid=$!
exec 7>"$wd/sim.in" # the simulator's command line, kept open
for _ in $(seq 100); do grep -q '^PTY ' "$wd/sim.out" && break; sleep 0.1; done
pty=$(sed -n 's/^PTY //p' "$wd/sim.out")
[ -n "$pty" ] || { echo "simulator did not start" >&2; exit 1; }
# [connect]: the pty, 9600 (index 0), no parity and one stop bit (a pty carries neither),
# no pause after a transaction.
sed -i -e "s|^port=.*|port=$pty\r|" -e 's|^speed=.*|speed=0\r|' -e 's|^parity=.*|parity=0\r|' \
       -e 's|^stopbits=.*|stopbits=0\r|' -e 's|^sleep=.*|sleep=0\r|' "$wd/start.ini"
printf '[chart]\r\nvisible=%s\r\n' "${CHART:-0}" >>"$wd/start.ini"

Xvfb -displayfd 8 -screen 0 1280x1024x24 -nolisten tcp 8>"$wd/display" 2>/dev/null &
xpid=$!
for _ in $(seq 100); do [ -s "$wd/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$wd/display")"

wrap=()
if [ -n "${CALLGRIND:-}" ]; then
  command -v valgrind >/dev/null || { echo "window_cpu.sh: valgrind is missing" >&2; exit 1; }
  wrap=(valgrind --tool=callgrind --instr-atstart=no "--callgrind-out-file=$(realpath -m "$CALLGRIND")")
fi
(cd "$wd" && exec "${wrap[@]}" "$app" >"$wd/app.out" 2>&1) &
vpid=$!
# The password dialog (Form3) comes first; the poll thread starts after it.
wid=$(timeout $([ -n "${CALLGRIND:-}" ] && echo 180 || echo 30) xdotool search --sync --onlyvisible --pid "$vpid" --name 'Вход с паролем|Log in with a password' | head -1)
[ -n "$wid" ] || { echo "no password dialog" >&2; exit 1; }
xdotool windowfocus --sync "$wid"
xdotool type --delay 30 7593
xdotool key Return

status_reads() { grep -c ' RX 64 03 01 40 00 24' "$wd/sim.log" || true; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$vpid/stat"; }
sys_ticks() { awk '{print $15}' "/proc/$vpid/stat"; }
for _ in $(seq $([ -n "${CALLGRIND:-}" ] && echo 1800 || echo 200)); do [ "$(status_reads)" -gt 2 ] && break; sleep 0.1; done
[ "$(status_reads)" -gt 2 ] || { echo "the program is not polling the sensor data" >&2; exit 1; }
sleep 3
hz=$(getconf CLK_TCK)

[ -z "${CALLGRIND:-}" ] || callgrind_control -i on "$vpid" >/dev/null
t0=$(date +%s.%N); c0=$(cpu_ticks); s0=$(sys_ticks); r0=$(status_reads)
sleep "$online"
t1=$(date +%s.%N); c1=$(cpu_ticks); s1=$(sys_ticks); r1=$(status_reads)
if [ -n "${CALLGRIND:-}" ]; then
  callgrind_control -d "$vpid" >/dev/null
  callgrind_control -i off "$vpid" >/dev/null
  dump=$(ls -t "$(realpath -m "$CALLGRIND")".* 2>/dev/null | head -1)
  total=$(sed -n 's/^summary: //p;s/^totals: //p' "$dump" | head -1)
  echo "callgrind: $total instructions over $((r1 - r0)) cycles, $((total / (r1 - r0))) a cycle ($dump)"
fi
echo "| window online, 9600 baud, 36 sensors | $(awk -v a="$t0" -v b="$t1" -v c="$c0" -v d="$c1" -v hz="$hz" -v n="$((r1 - r0))" \
  'BEGIN { w = b - a; cpu = (d - c) / hz; printf "%.1f | %.2f | **%.3f %%** | %d (%.1f ms each)", w, cpu, 100 * cpu / w, n, 1000 * w / n }') |"
echo "(of which in the kernel: $(awk -v s0="$s0" -v s1="$s1" -v hz="$hz" 'BEGIN { printf "%.2f s", (s1 - s0) / hz }'))"

if [ "$offline" -gt 0 ]; then
  echo offline >&7
  sleep 5 # three attempts of 500 ms fail, the link goes down
  t0=$(date +%s.%N); c0=$(cpu_ticks)
  sleep "$offline"
  t1=$(date +%s.%N); c1=$(cpu_ticks)
  echo "| window, controller offline | $(awk -v a="$t0" -v b="$t1" -v c="$c0" -v d="$c1" -v hz="$hz" \
    'BEGIN { w = b - a; cpu = (d - c) / hz; printf "%.1f | %.2f | **%.3f %%** | -", w, cpu, 100 * cpu / w }') |"
fi
echo
echo "Peak memory of the window process: $(awk '/^VmHWM/ {print $2, $3}' "/proc/$vpid/status") (VmHWM), resident now $(awk '/^VmRSS/ {print $2, $3}' "/proc/$vpid/status")."
