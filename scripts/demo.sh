#!/bin/sh
# Starts the program against the controller simulator in run/demo. Without a display the
# window runs under Xvfb for DEMO_SECONDS (default 30) and a screenshot is saved.
# `demo.sh mqtt`: a mosquitto of its own on a free loopback port, `velmaris-cli serve --mqtt`
# publishing the simulator's readings to it, and mosquitto_sub printing what arrives under
# velmaris/# for DEMO_SECONDS.
set -eu
mode=${1:-window}
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
trap 'echo quit >&3 2>/dev/null || true; kill $simpid 2>/dev/null || true; wait $simpid 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$work/qor7070-port" ] && break; sleep 0.1; done
[ -e "$work/qor7070-port" ] || { echo "the simulator did not start:"; cat "$work/sim.out"; exit 1; }
# Point [connect] port at the simulator (the file is Windows-1251 with CR LF; ASCII here).
sed -i "s|^port=.*\r\$|port=$work/qor7070-port\r|" "$work/start.ini"
echo "Simulator on $(sed -n 's/^PTY //p' "$work/sim.out"), traffic log $work/traffic.log"
echo "Password: 7593 (full access; Cancel gives monitoring only)"

cd "$work"
if [ "$mode" = mqtt ]; then
    seconds=${DEMO_SECONDS:-30}
    port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    cat >"$work/mosquitto.conf" <<CONF
listener $port 127.0.0.1
allow_anonymous true
persistence false
log_dest stdout
CONF
    /usr/sbin/mosquitto -c "$work/mosquitto.conf" >"$work/mosquitto.log" 2>&1 &
    brokerpid=$!
    subpid=
    trap 'kill $subpid $brokerpid 2>/dev/null || true; echo quit >&3 2>/dev/null || true; kill $simpid 2>/dev/null || true; wait 2>/dev/null || true' EXIT
    trap 'exit 1' INT TERM HUP PIPE # the EXIT trap ends the broker too
    for _ in $(seq 50); do
        python3 -c "import socket; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null && break
        sleep 0.1
    done
    echo "mosquitto on 127.0.0.1:$port (config $work/mosquitto.conf); what arrives under velmaris/#:"
    mosquitto_sub -h 127.0.0.1 -p "$port" -v -t 'velmaris/#' &
    subpid=$!
    "$top/build/src/cli/velmaris-cli" serve --mqtt "mqtt://127.0.0.1:$port" --for "${seconds}s" \
        2>"$work/serve.log" || { echo "serve failed:"; cat "$work/serve.log"; exit 1; }
    sleep 1 # the last messages and "offline" reach the subscriber
    echo "serve's log ($work/serve.log):"
    cat "$work/serve.log"
    exit 0
fi
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
