#!/usr/bin/env bash
# Screenshots of every page of the window against qor7070-sim (36 sensors) under Xvfb at a
# given screen size and scale. Usage:
#   fit_screens.sh BUILD_DIR OUT_DIR [WxH=1366x768] [SCALE=1] [LANG=0] [DISPLAY_NUMBER=81]
set -euo pipefail
build=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
size=${3:-1366x768}
scale=${4:-1}
lang=${5:-0}
dnum=${6:-81}
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
"$build/src/sim/qor7070-sim" --pty --sensors 36 --quiet <"$wd/sim.in" >"$wd/sim.out" 2>&1 &
simpid=$!
exec 7>"$wd/sim.in"
for _ in $(seq 100); do grep -q '^PTY ' "$wd/sim.out" && break; sleep 0.1; done
pty=$(sed -n 's/^PTY //p' "$wd/sim.out")
sed -i -e "s|^port=.*|port=$pty\r|" -e 's|^parity=.*|parity=0\r|' -e "s|^lang=.*|lang=$lang\r|" \
  "$wd/start.ini"
printf '[chart]\r\nvisible=1\r\n' >>"$wd/start.ini"
echo "set temp 3 45" >&7 || true

Xvfb ":$dnum" -screen 0 "${size}x24" -nolisten tcp 2>/dev/null &
xpid=$!
sleep 1
export DISPLAY=":$dnum"
(cd "$wd" && QT_SCALE_FACTOR=$scale exec "$build/src/app/velmaris" >"$wd/app.out" 2>&1) &
vpid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$vpid" --name 'Вход с паролем' | head -1)
xdotool windowfocus --sync "$wid"
xdotool type --delay 30 7593
xdotool key Return
sleep 8
main=$(xdotool search --onlyvisible --pid "$vpid" --name 'Velmaris' | head -1)
# No window manager: the keys go to the window that has the focus.
xdotool windowfocus --sync "$main"
eval "$(xdotool getwindowgeometry --shell "$main")"
tag="${size}_x${scale}_lang${lang}"
# The tabs' places at scale 1 (Russian captions), scaled.
tabs=(273 419 559 752 922)
[ "$lang" = 1 ] && tabs=(260 390 520 680 830)
page=0
for x in "${tabs[@]}"; do
  page=$((page + 1))
  xdotool mousemove $(awk -v x="$x" -v s="$scale" -v X="$X" 'BEGIN{print int(X + x*s)}') \
    $(awk -v s="$scale" -v Y="$Y" 'BEGIN{print int(Y + 91*s)}') click 1
  sleep 3
  import -window root "$out/${tag}_page$page.png"
done
xdotool key F1
sleep 2
help=$(xdotool search --onlyvisible --pid "$vpid" --name 'Velmaris' | grep -v "^$main$" | head -1)
[ -n "$help" ] && xdotool windowmove "$help" 200 60
import -window root "$out/${tag}_help.png"
[ -n "$help" ] && xdotool windowfocus --sync "$help" && xdotool key Escape
sleep 0.5
xdotool windowfocus --sync "$main"
xdotool key ctrl+F1
sleep 2
import -window root "$out/${tag}_about.png"
about=$(xdotool search --onlyvisible --pid "$vpid" --name '.' | grep -v "^$main$" | tail -1)
[ -n "$about" ] && xdotool windowfocus --sync "$about" && xdotool key Escape
sleep 0.5
# The link views, with damaged answers now and then so that the log has failures in it.
echo "fault badcrc every=9" >&7 || true
xdotool windowfocus --sync "$main"
xdotool key ctrl+l
sleep 6
import -window root "$out/${tag}_framelog.png"
xdotool windowfocus --sync "$main"
xdotool key ctrl+i
sleep 3
import -window root "$out/${tag}_statistics.png"
