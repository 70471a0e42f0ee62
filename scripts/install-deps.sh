#!/bin/sh
# Installs the Debian packages that are missing for a build ("build"), a Debian
# package ("deb") or the tests ("test"). Runs apt-get only when something is
# missing, so a second run needs no network.
set -e
build="cmake ninja-build g++ pkg-config qt6-base-dev libpulse-dev libsystemd-dev"
# dpkg-shlibdeps finds a package's dependencies.
deb="$build dpkg-dev"
test="$deb desktop-file-utils appstream man-db libgtest-dev libbenchmark-dev pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus libhamlib-utils sox espeak-ng minimodem xvfb xauth openbox trayer xdotool x11-utils imagemagick"
case "${1:-build}" in
  build) wanted=$build ;;
  deb) wanted=$deb ;;
  test) wanted=$test ;;
  *) echo "usage: $0 build|deb|test" >&2; exit 2 ;;
esac
missing=""
for p in $wanted; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
[ -z "$missing" ] && exit 0
echo "installing:$missing"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get install -y --no-install-recommends $missing || {
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends $missing
}
