#!/bin/sh
# Builds the Debian package from the build folder given (default build/), unpacks it into a
# scratch root and checks it as a user gets it: every program answers --help and --version,
# the packaged command-line tool identifies the packaged simulator, and the window started
# from its launcher in a fresh home seeds the user's data folder and, once its port names
# the simulator, polls it. Needs a display or xvfb-run (the window asks for a password).
set -eu
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1600x1000x24" "$0" "$@"
fi
# The password is typed into a real window (the tests export offscreen).
unset QT_QPA_PLATFORM
cd "$(dirname "$0")/.."
top=$(pwd)
build=$(cd "${1:-build}" && pwd)
out="$build/package-check"
rm -rf "$out"
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out/cpack" >/dev/null)
deb=$(ls "$out"/cpack/velmaris_*.deb)
echo "package: $(basename "$deb")"
depends=$(dpkg-deb -f "$deb" Depends)
echo "$depends"
# Qt's Russian texts are data, not a library: shlibdeps does not find them.
case "$depends" in
*qt6-translations-l10n*) ;;
*) echo "the package does not depend on qt6-translations-l10n"; exit 1 ;;
esac
# Nor the SQLite driver, a plugin Qt SQL loads by name.
case "$depends" in
*libqt6sql6-sqlite*) ;;
*) echo "the package does not depend on libqt6sql6-sqlite"; exit 1 ;;
esac
# Debian's package checker: no error may remain; warnings and notes are shown.
command -v lintian >/dev/null || { echo "lintian is missing (scripts/setup.sh installs it)"; exit 1; }
lintian --tag-display-limit 0 "$deb" >"$out/lintian.txt" 2>&1 || true
cat "$out/lintian.txt"
if grep -q '^E:' "$out/lintian.txt"; then
    echo "lintian found errors in the package"
    exit 1
fi
root="$out/root"
dpkg -x "$deb" "$root"
bin="$root/usr/bin"
for p in velmaris velmaris-cli qor7070-sim; do
    "$bin/$p" --help >/dev/null
    "$bin/$p" --version
done

# The packaged simulator takes its register map from the package, not from this tree.
cd "$out"
fifo="$out/sim-commands"
mkfifo "$fifo"
"$bin/qor7070-sim" --pty --link "$out/qor7070-port" --log "$out/traffic.log" \
    <"$fifo" >"$out/sim.out" 2>&1 &
simpid=$!
exec 3>"$fifo"
app=""
cleanup() {
    [ -n "$app" ] && kill "$app" 2>/dev/null
    echo quit >&3 2>/dev/null || true
    kill $simpid 2>/dev/null || true
    wait $simpid 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do [ -e "$out/qor7070-port" ] && break; sleep 0.1; done
[ -e "$out/qor7070-port" ] || { cat "$out/sim.out"; exit 1; }
grep -q "map $root/usr/share/velmaris/Cfg/" "$out/sim.out" ||
    { echo "the packaged simulator did not take the packaged map:"; cat "$out/sim.out"; exit 1; }

# Run outside any working folder, it seeds and uses the user's folder: a scratch home here.
mkdir -p "$out/cli-home"
env -u XDG_DATA_HOME HOME="$out/cli-home" "$bin/velmaris-cli" identify --port "$out/qor7070-port" --json | tee "$out/identify.json"
grep -q '"device": *3126' "$out/identify.json"

# The launcher, as the menu runs it, in a home nobody has used.
home="$out/home"
mkdir -p "$home"
data="$home/.local/share/Velmaris"
launch() {
    env -u XDG_DATA_HOME HOME="$home" PATH="$bin:$PATH" \
        gio launch "$root/usr/share/applications/velmaris.desktop"
}
wait_for() { # seconds, then a shell test
    n=$(($1 * 10)); shift
    while [ $n -gt 0 ]; do eval "$@" && return 0; n=$((n - 1)); sleep 0.1; done
    return 1
}
window_pid() { pgrep -n -f "velmaris --workdir $data" || true; }
run_window() { # what to wait for while the window runs
    launch
    wait_for 20 '[ -n "$(window_pid)" ]' || { echo "the launcher started nothing"; exit 1; }
    app=$(window_pid)
    if wait_for 10 'w=$(xdotool search --name "Вход с паролем|Log in with a password" 2>/dev/null | head -n 1); [ -n "$w" ]'; then
        xdotool windowfocus --sync "$w" type --delay 30 7593 && xdotool key Return
    fi
    ok=0
    wait_for 20 "$1" || ok=1
    import -window root "$out/window.png" 2>/dev/null || true
    kill "$app"; wait_for 5 '! kill -0 $app 2>/dev/null' || kill -9 "$app"
    app=""
    return $ok
}
run_window '[ -f "$data/start.ini" ] && [ -f "$data/default.ini" ] && [ -f "$data/Cfg/qor7070__fw_1_2.ini" ]' ||
    { echo "the first start did not seed $data"; ls -la "$data" 2>&1; exit 1; }
echo "first start seeded $data: $(ls "$data" | tr '\n' ' ')"
# What the user does in the connection dialog: the port names the simulator.
sed -i "s|^port=.*\r\$|port=$out/qor7070-port\r|" "$data/start.ini"
before=$(grep -c " RX " "$out/traffic.log" || true)
run_window '[ "$(grep -c " TX 64 03" "$out/traffic.log")" -gt $((before + 3)) ]' ||
    { echo "the window from the launcher did not poll the simulator"; tail "$out/traffic.log"; exit 1; }
echo "window from the launcher polled the simulator: $(grep -c " TX 64 03" "$out/traffic.log") answers"
echo "package check passed"
