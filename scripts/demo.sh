#!/bin/sh
# Starts the program against the controller simulator in run/demo. Without a display the
# window runs under Xvfb for DEMO_SECONDS (default 30) and a screenshot is saved.
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
scripts/setup.sh
scripts/build.sh build
work="$top/run/demo"
rm -rf "$work"
mkdir -p "$work"
cp -r data/start.ini data/default.ini data/Cfg "$work/"

sim="$top/build/src/sim/qor7070-sim"
fifo="$work/sim-commands"
mkfifo "$fifo"
# The simulator reads its commands from the fifo; keep it open for the whole run.
"$sim" --pty --link "$work/qor7070-port" --cfg "$work/Cfg/qor7070__fw_1_2.ini" \
    --log "$work/traffic.log" <"$fifo" >"$work/sim.out" 2>&1 &
simpid=$!
exec 3>"$fifo"
trap 'echo quit >&3 2>/dev/null; kill $simpid 2>/dev/null; wait $simpid 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$work/qor7070-port" ] && break; sleep 0.1; done
[ -e "$work/qor7070-port" ] || { echo "the simulator did not start:"; cat "$work/sim.out"; exit 1; }
# Point [connect] port at the simulator (the file is Windows-1251 with CR LF; ASCII here).
sed -i "s|^port=.*\r\$|port=$work/qor7070-port\r|" "$work/start.ini"
echo "Simulator on $(sed -n 's/^PTY //p' "$work/sim.out"), traffic log $work/traffic.log"
echo "Password: 7593 (full access; Cancel gives monitoring only)"

cd "$work"
if [ -n "${DISPLAY:-}" ]; then
    "$top/build/src/app/velmaris"
else
    shot="$work/screenshot.png"
    seconds=${DEMO_SECONDS:-30}
    # Nobody is there to type the password: xdotool types it into the dialog.
    xvfb-run -a -s "-screen 0 1600x1000x24" sh -c "
        '$top/build/src/app/velmaris' & app=\$!
        for i in \$(seq 50); do
            w=\$(xdotool search --name 'Вход с паролем|Log in with a password' 2>/dev/null | head -n 1)
            [ -n \"\$w\" ] && break; sleep 0.2
        done
        xdotool windowfocus --sync \"\$w\" type --delay 30 7593 && xdotool key Return
        sleep $seconds
        import -window root '$shot'
        kill \$app; wait \$app 2>/dev/null || true"
    echo "Screenshot: $shot"
fi
