#!/usr/bin/env bash
# Screenshots of the history in the window under Xvfb against qor7070-sim: the window is
# run once and killed, two days of readings are added before that run (bench_history_chart
# --backfill), then it runs again: a sensor loses power and the link is lost for 40 s
# (alarms: the count on the events button, the status line), the events view, and the live
# chart zoomed out over the two days, across both runs and the gaps between them.
# Usage: [XVFB_DISPLAY=N] history_screens.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
src=$(cd "$(dirname "$0")/.." && pwd)
wd=$(mktemp -d)
simpid= xpid= vpid=
stop_window() {
  if [ -n "$vpid" ]; then kill "$vpid" 2>/dev/null; wait "$vpid" 2>/dev/null || true; vpid=; fi
}
cleanup() {
  stop_window
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
"$build/src/sim/qor7070-sim" --pty --pace --baud 19200 --sensors 16 --quiet <"$wd/sim.in" >"$wd/sim.out" 2>&1 &
simpid=$!
exec 7>"$wd/sim.in"
for _ in $(seq 100); do grep -q '^PTY ' "$wd/sim.out" && break; sleep 0.1; done
# A link that keeps its name across runs, as a USB adapter's does: the store knows the
# controller by its port.
ln -s "$(sed -n 's/^PTY //p' "$wd/sim.out")" "$wd/ttyQOR"
sed -i -e "s|^port=.*|port=$wd/ttyQOR\r|" -e 's|^speed=.*|speed=1\r|' -e 's|^parity=.*|parity=0\r|' \
       -e 's|^stopbits=.*|stopbits=0\r|' -e 's|^sleep=.*|sleep=0\r|' "$wd/start.ini"
printf '[chart]\r\nvisible=1\r\n' >>"$wd/start.ini"

if [ -n "${XVFB_DISPLAY:-}" ]; then
  Xvfb ":$XVFB_DISPLAY" -screen 0 1600x1000x24 -nolisten tcp 2>/dev/null &
  echo "$XVFB_DISPLAY" >"$wd/display"
else
  Xvfb -displayfd 8 -screen 0 1600x1000x24 -nolisten tcp 8>"$wd/display" 2>/dev/null &
fi
xpid=$!
for _ in $(seq 100); do [ -s "$wd/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$wd/display")"
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

start_window() {
  (cd "$wd" && exec "$build/src/app/velmaris" >>"$wd/app.out" 2>&1) &
  vpid=$!
  wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$vpid" --name 'Вход с паролем|Log in with a password' | head -1)
  xdotool windowfocus --sync "$wid"
  xdotool type --delay 30 7593
  xdotool key Return
  sleep 2
  main=$(xdotool search --onlyvisible --pid "$vpid" --name 'Velmaris' | head -1)
  xdotool windowmove "$main" 0 0 windowsize "$main" 1600 1000
}

# The first run: the store gets the controller and a minute of readings.
start_window
sleep 60
stop_window
QT_QPA_PLATFORM=offscreen "$build/bench/bench_history_chart" --backfill "$wd" 2
sleep 5

start_window
sleep 20
# Sensor 2 loses power: an alarm.
echo "set status 2 10" >&7
sleep 15
echo "set status 2 auto" >&7
sleep 10
# The controller falls silent for 40 s: link lost, the long-loss alarm, link back.
echo "offline" >&7
sleep 40
echo "online" >&7
sleep 15
import -window root "$out/window_alarm.png"
# The events view: its tool button (the sheet with the red count).
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + ${EVENTS_X:-461})) $((Y + ${EVENTS_Y:-18})) click 1
sleep 2
# The newest visible window of the program that is not the main one.
events=$(xdotool search --onlyvisible --pid "$vpid" --name '.' | grep -vx "$main" | sort -n | tail -1 || true)
import -window root "$out/events_view.png"
if [ -n "$events" ]; then
  # "Подтвердить все": the rows lose their red, the count its disc, the status bar its line.
  eval "$(xdotool getwindowgeometry --shell "$events")"
  xdotool mousemove $((X + ${ACK_ALL_X:-167})) $((Y + ${ACK_ALL_Y:-577})) click 1
  sleep 2
  import -window root "$out/events_acknowledged.png"
  xdotool windowfocus --sync "$events" || true
  xdotool key Escape
  sleep 1
fi
# The live chart zoomed out with the wheel: the readings kept before come back.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + ${CHART_X:-700})) $((Y + ${CHART_Y:-800}))
for _ in $(seq ${ZOOM_OUT:-26}); do xdotool click 5; sleep 0.3; done
sleep 3
xdotool mousemove $((X + ${CURSOR_X:-600})) $((Y + ${CURSOR_Y:-800}))
sleep 1
import -window root "$out/chart_scrolled_back.png"
echo "screenshots in $out"
