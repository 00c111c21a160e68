#!/usr/bin/env bash
# Screenshots of the live chart (against qor7070-sim) and of the trend viewer (a generated
# week-long file) under Xvfb, each with the cursor shown.
# Usage: [XVFB_DISPLAY=N] chart_screens.sh BUILD_DIR OUT_DIR [SECONDS=90]
set -euo pipefail
build=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
seconds=${3:-90}
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
mkdir -p "$wd/Trends"
QT_QPA_PLATFORM=offscreen "$build/bench/bench_trendview" --write "$wd/Trends/30_11_26____00_00_00.txt" 604800 36
mkfifo "$wd/sim.in"
"$build/src/sim/qor7070-sim" --pty --pace --baud 19200 --sensors 16 --quiet <"$wd/sim.in" >"$wd/sim.out" 2>&1 &
simpid=$!
exec 7>"$wd/sim.in"
for _ in $(seq 100); do grep -q '^PTY ' "$wd/sim.out" && break; sleep 0.1; done
pty=$(sed -n 's/^PTY //p' "$wd/sim.out")
# 19200 baud (index 1), no parity, one stop bit; the chart shown from the start.
sed -i -e "s|^port=.*|port=$pty\r|" -e 's|^speed=.*|speed=1\r|' -e 's|^parity=.*|parity=0\r|' \
       -e 's|^stopbits=.*|stopbits=0\r|' -e 's|^sleep=.*|sleep=0\r|' "$wd/start.ini"
printf '[chart]\r\nvisible=1\r\n' >>"$wd/start.ini"

# XVFB_DISPLAY=N takes that display number instead of the first free one.
if [ -n "${XVFB_DISPLAY:-}" ]; then
  Xvfb ":$XVFB_DISPLAY" -screen 0 1600x1000x24 -nolisten tcp 2>/dev/null &
  echo "$XVFB_DISPLAY" >"$wd/display"
else
  Xvfb -displayfd 8 -screen 0 1600x1000x24 -nolisten tcp 8>"$wd/display" 2>/dev/null &
fi
xpid=$!
for _ in $(seq 100); do [ -s "$wd/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$wd/display")"
(cd "$wd" && exec "$build/src/app/velmaris" >"$wd/app.out" 2>&1) &
vpid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$vpid" --name 'Вход с паролем|Log in with a password' | head -1)
xdotool windowfocus --sync "$wid"
xdotool type --delay 30 7593
xdotool key Return
sleep 2
main=$(xdotool search --onlyvisible --pid "$vpid" --name 'Velmaris' | head -1)
xdotool windowmove "$main" 0 0 windowsize "$main" 1600 1000
# Sensor 2 loses power for a while: a gap in its line.
sleep $((seconds / 3)); echo "set status 2 10" >&7
sleep $((seconds / 6)); echo "set status 2 auto" >&7
sleep $((seconds / 2))
# A sensor picked in the grid is drawn thicker.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + ${ROW_X:-400})) $((Y + ${ROW_Y:-210})) click 1
sleep 1.5
# The cursor over the live chart: the time, and every sensor's value in the legend.
xdotool mousemove $((X + ${CURSOR_X:-1250})) $((Y + ${CURSOR_Y:-850}))
sleep 1
import -window root "$out/live_chart.png"
# Zoomed in with the wheel over the chart.
xdotool mousemove $((X + ${CHART_X:-1000})) $((Y + ${CHART_Y:-800}))
for _ in 1 2 3 4 5 6; do xdotool click 4; sleep 0.1; done
sleep 1.5
import -window root "$out/live_chart_zoomed.png"
# The trend viewer: its tool button, then the file typed into the dialog.
xdotool mousemove $((X + ${VIEWER_X:-350})) $((Y + ${VIEWER_Y:-15})) click 1
sleep 2
xdotool type --delay 10 "$wd/Trends/30_11_26____00_00_00.txt"
# Tab closes the file name completer's popup if it opened; Return is then the dialog's Open
# (Esc would close the viewer).
xdotool key Tab
xdotool key Return
sleep 6
viewer=$(xdotool search --onlyvisible --pid "$vpid" --name 'Просмотр тренда' | head -1)
if [ -n "$viewer" ]; then
  import -window root "$out/trend_viewer.png"
  eval "$(xdotool getwindowgeometry --shell "$viewer")"
  # Only channels 5, 7 and 9 (no power, faulty, undetermined in places), zoomed to a day;
  # the legend is on the right, a click on an entry shows or hides its channel.
  xdotool mousemove $((X + 1030)) $((Y + 626)) click 1
  sleep 1
  for y in 111 143 175; do xdotool mousemove $((X + 925)) $((Y + y)) click 1; sleep 0.5; done
  xdotool mousemove $((X + 500)) $((Y + 350))
  for _ in 1 2 3 4 5 6 7 8; do xdotool click 4; sleep 0.3; done
  sleep 2
  # The cursor over the plot: the time, and each shown channel's value in the legend.
  xdotool mousemove $((X + 420)) $((Y + 300))
  sleep 1
  import -window root "$out/trend_viewer_zoomed.png"
fi
echo "screenshots in $out"
