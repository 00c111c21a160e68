#!/bin/sh
# Starts a simulated plant of four controllers and writes its plant.ini into DIR:
# two on one line (a pty, addresses 1 and 2), one behind a serial device server (RTU frames
# over TCP, address 3) and one behind a Modbus TCP gateway (address 4), all with named
# values. DIR also gets start.ini, default.ini and Cfg/ when it has none. The simulators
# serve until this script is stopped (Ctrl-C, SIGTERM); commands go to them through
# DIR/line.cmd, DIR/server.cmd and DIR/gateway.cmd (echo '@2 offline' > DIR/line.cmd),
# traffic logs are DIR/*.log.
#   scripts/sim_plant.sh DIR [BUILD_DIR] [--pace]
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
[ $# -ge 1 ] || { echo "usage: $0 DIR [BUILD_DIR] [--pace]" >&2; exit 2; }
dir=$1
build=${2:-build}
pace=${3:-}
sim="$top/$build/src/sim/qor7070-sim"
[ -x "$sim" ] || { echo "$sim: not built" >&2; exit 1; }
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
[ -e "$dir/start.ini" ] || cp data/start.ini data/default.ini "$dir/"
[ -d "$dir/Cfg" ] || cp -r data/Cfg "$dir/"

pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -f "$dir/line.cmd" "$dir/server.cmd" "$dir/gateway.cmd"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

# NAME ARGS...: one simulator with a command fifo; its first line (PTY/TCP ...) in NAME.out.
start() {
    name=$1
    shift
    rm -f "$dir/$name.cmd"
    mkfifo "$dir/$name.cmd"
    # Held open read-write, so the simulator sees no end of input between commands.
    "$sim" --quiet --named-values $pace --log "$dir/$name.log" "$@" <>"$dir/$name.cmd" >"$dir/$name.out" 2>&1 &
    pids="$pids $!"
    for _ in $(seq 50); do [ -s "$dir/$name.out" ] && break; sleep 0.1; done
    head -n 1 "$dir/$name.out" | grep -q '^\(PTY\|TCP\) ' || { echo "$name did not start:" >&2; cat "$dir/$name.out" >&2; exit 1; }
}
start line --pty --link "$dir/line-port" --address 1 --address 2 --sensors 12,36 --seed 1,2
start server --tcp 127.0.0.1:0 --framing rtu --address 3 --sensors 8 --seed 3
start gateway --tcp 127.0.0.1:0 --framing mbtcp --address 4 --sensors 36 --seed 4 --fw 1.1
server=$(sed -n '1s/^TCP //p' "$dir/server.out")
gateway=$(sed -n '1s/^TCP //p' "$dir/gateway.out")

# plant.ini is Windows-1251 with CR LF, like the program's other files.
printf '%s\r\n' \
    "[Камера 1]" "port=$dir/line-port" "adr=1" "" \
    "[Камера 2]" "port=$dir/line-port" "adr=2" "" \
    "[Склад]" "port=tcp://$server" "adr=3" "" \
    "[Цех]" "port=mbtcp://$gateway" "adr=4" |
    iconv -f UTF-8 -t WINDOWS-1251 >"$dir/plant.ini.tmp"
mv "$dir/plant.ini.tmp" "$dir/plant.ini"
echo "plant.ini written to $dir: line $dir/line-port (1, 2), tcp://$server (3), mbtcp://$gateway (4)"
echo "Serving; stop with Ctrl-C."
wait
