#!/usr/bin/env bash
# Screenshots of every page and view of the window against qor7070-sim (36 sensors, one over
# threshold 2, one over threshold 1) under Xvfb.
# Usage: page_screens.sh BUILD_DIR OUT_DIR [WIDTHxHEIGHT=1366x768] [SCALE=1] [LANG=0|1]
set -euo pipefail
build=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
size=${3:-1366x768}
scale=${4:-1}
lang=${5:-0}
src=$(cd "$(dirname "$0")/.." && pwd)
wd=$(mktemp -d)
simpid= xpid= vpid=
cleanup() {
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
}
trap 'rc=$?; cleanup; exit $rc' EXIT

cp -r "$src/data/Cfg" "$src/data/start.ini" "$src/data/default.ini" "$wd/"
mkfifo "$wd/sim.in"
"$build/src/sim/qor7070-sim" --pty --baud 19200 --sensors 36 --quiet <"$wd/sim.in" >"$wd/sim.out" 2>&1 &
simpid=$!
exec 7>"$wd/sim.in"
for _ in $(seq 100); do grep -q '^PTY ' "$wd/sim.out" && break; sleep 0.1; done
pty=$(sed -n 's/^PTY //p' "$wd/sim.out")
sed -i -e "s|^port=.*|port=$pty\r|" -e 's|^speed=.*|speed=1\r|' -e 's|^parity=.*|parity=0\r|' \
       -e 's|^stopbits=.*|stopbits=0\r|' -e 's|^sleep=.*|sleep=0\r|' -e "s|^lang=.*|lang=$lang\r|" \
       "$wd/start.ini"
printf '[chart]\r\nvisible=1\r\n' >>"$wd/start.ini"
# Sensor 4 far over its thresholds, sensor 6 between them.
echo "set temp 4 95" >&7
echo "set temp 6 31" >&7

Xvfb -displayfd 8 -screen 0 "${size}x24" -nolisten tcp 8>"$wd/display" 2>/dev/null &
xpid=$!
for _ in $(seq 100); do [ -s "$wd/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$wd/display")"
(cd "$wd" && QT_SCALE_FACTOR=$scale exec "$build/src/app/velmaris" >"$wd/app.out" 2>&1) &
vpid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$vpid" --class velmaris | head -1)
sleep 1
xdotool type --delay 30 7593
xdotool key Return
sleep 4
main=$(xdotool search --onlyvisible --pid "$vpid" --name 'Velmaris' | head -1)
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
import -window root "$out/page1.png"
for n in 2 3 4 5; do
  xdotool key ctrl+$n
  sleep 3
  import -window root "$out/page$n.png"
done
echo "screenshots in $out"; cat "$wd/app.out"
