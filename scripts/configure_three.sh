#!/bin/sh
# One profile into three controllers with velmaris-cli: one on a serial line, one behind a
# serial device server (RTU frames over TCP), one behind a Modbus TCP gateway. Here the
# three are qor7070-sim on a pseudo-terminal and on two TCP ports; aim the ports at real
# ones to configure a plant. Usage: scripts/configure_three.sh [build folder]
set -eu
cd "$(dirname "$0")/.."
top=$(pwd)
build=$(cd "${1:-build}" && pwd)
cli="$build/src/cli/velmaris-cli"
sim="$build/src/sim/qor7070-sim"
work="$top/run/three"
rm -rf "$work"
mkdir -p "$work"
cd "$work"
cp -r "$top/data/start.ini" "$top/data/default.ini" "$top/data/Cfg" .

# The three controllers, each with its own drifting sensors (seed).
"$sim" --pty --link serial-port --seed 1 --log serial.log >serial.out 2>&1 &
pids=$!
"$sim" --tcp 127.0.0.1:0 --framing rtu --seed 2 --log rtu.log >rtu.out 2>&1 &
pids="$pids $!"
"$sim" --tcp 127.0.0.1:0 --framing mbtcp --seed 3 --log mbtcp.log >mbtcp.out 2>&1 &
pids="$pids $!"
trap 'kill $pids 2>/dev/null; wait 2>/dev/null || true' EXIT
listening() { sed -n "s/^TCP //p" "$1" | head -n 1; }
for _ in $(seq 50); do
    [ -e serial-port ] && [ -n "$(listening rtu.out)" ] && [ -n "$(listening mbtcp.out)" ] && break
    sleep 0.1
done
ports="$work/serial-port tcp://$(listening rtu.out) mbtcp://$(listening mbtcp.out)"

# The plant's profile: the first controller's settings with new thresholds, a hysteresis,
# a relay delay and mode and a tag, as an engineer would set them once in the window and save.
"$cli" read-profile controller.ini --port "$work/serial-port"
iconv -f CP1251 -t UTF-8 controller.ini |
    sed -e '/^\[Датчик 1\]/,/^\r*$/s/^Порог 1, °C=.*/Порог 1, °C=28\r/' \
        -e '/^\[Датчик 1\]/,/^\r*$/s/^Порог 2, °C=.*/Порог 2, °C=35\r/' \
        -e '/^\[Датчик 2\]/,/^\r*$/s/^Гистерезис, °C=.*/Гистерезис, °C=3\r/' \
        -e '/^\[tags\]/,/^\r*$/s/^Датчик 1=.*/Датчик 1=Склад 3, север\r/' \
        -e '/^\[Реле 2\]/,/^\r*$/s/^Задержка вкл., с=.*/Задержка вкл., с=15\r/' \
        -e '/^\[Реле 4\]/,/^\r*$/s/^Режим=.*/Режим=1\r/' |
    iconv -f UTF-8 -t CP1251 >plant.ini
echo "plant profile: plant.ini (changed from the controller's own:)"
diff controller.ini plant.ini | iconv -f CP1251 -t UTF-8 | grep '^>' || true

n=0
for port in $ports; do
    n=$((n + 1))
    echo "== controller $n at $port"
    "$cli" write-profile plant.ini --port "$port" 2>write-$n.err
    sed 's/^/   /' write-$n.err
    # Read back: the controller now holds the plant's settings.
    "$cli" read-profile check-$n.ini --port "$port"
    if cmp -s plant.ini check-$n.ini; then
        echo "   read back: equal to plant.ini"
    else
        echo "   read back DIFFERS from plant.ini:"
        diff plant.ini check-$n.ini | iconv -f CP1251 -t UTF-8
        exit 1
    fi
    # A second run finds nothing to change.
    "$cli" write-profile plant.ini --port "$port" --dry-run >again-$n.txt 2>/dev/null
    echo "   second run would send $(grep -c . again-$n.txt || true) frames"
done
echo "three controllers configured from plant.ini"
