#!/bin/sh
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -eu
PACKAGES="cmake g++ make pkg-config qt6-base-dev qt6-serialport-dev libgl-dev \
libqcustomplot-dev qt6-translations-l10n libqt6sql6-sqlite \
socat xvfb xauth xdotool imagemagick libmodbus-dev mbpoll clang libclang-rt-14-dev \
dpkg-dev libglib2.0-bin lintian libmosquitto-dev mosquitto mosquitto-clients openssl"
missing=""
for p in $PACKAGES; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "Installing:$missing"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $missing
