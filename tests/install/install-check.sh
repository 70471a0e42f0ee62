#!/bin/sh
# Installs the build (argument: its folder) into a scratch DESTDIR with the
# default prefix and checks the file list, the desktop entry, the AppStream
# data, the man page and the sound servers' snippets there (each read by a
# private server of its kind); then builds the Debian package with CPack and
# checks its control data and contents with dpkg-deb.
set -eu
build=$1
id=$KOTAR_DESKTOP_ID
scripts=$(dirname "$0")/../../scripts
work=$(mktemp -d)
trap '"$scripts/pulse-fixture.sh" stop "$work/pulse"; "$scripts/pipewire-fixture.sh" stop "$work/pipewire"; rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# The files an installation under the prefix $1 holds, relative to /.
expected() {
  sed "s|^|$1/|" <<LIST
bin/kotarplus
bin/kotarplusd
lib/systemd/user/kotarplusd.service
share/applications/$id.desktop
share/doc/kotarplus/changelog.gz
share/doc/kotarplus/copyright
share/icons/hicolor/128x128/apps/$id.png
share/icons/hicolor/16x16/apps/$id.png
share/icons/hicolor/256x256/apps/$id.png
share/icons/hicolor/32x32/apps/$id.png
share/icons/hicolor/48x48/apps/$id.png
share/icons/hicolor/64x64/apps/$id.png
share/icons/hicolor/scalable/apps/$id.svg
share/man/man1/kotarplus.1.gz
share/metainfo/$id.metainfo.xml
LIST
  echo etc/pulse/default.pa.d/kotarplus-tx.pa
  # PipeWire reads the distribution's drop-ins, and the administrator's for any other prefix.
  [ "$1" = usr ] && echo usr/share/pipewire/pipewire-pulse.conf.d/kotarplus-tx.conf \
    || echo etc/pipewire/pipewire-pulse.conf.d/kotarplus-tx.conf
}

DESTDIR="$work/dest" cmake --install "$build" --prefix /usr/local >"$work/install.log" || { cat "$work/install.log" >&2; fail "cmake --install"; }
root="$work/dest/usr/local"
(cd "$work/dest" && find . -type f | sed 's|^\./||' | LC_ALL=C sort) >"$work/installed"
expected usr/local | LC_ALL=C sort >"$work/expected"
diff -u "$work/expected" "$work/installed" || fail "installed files differ from the list"
[ -x "$root/bin/kotarplus" ] && [ -x "$root/bin/kotarplusd" ] || fail "the programs are not executable"

# systemd wants the program's absolute path, the one of this installation (below: the package's).
grep -qx "ExecStart=/usr/local/bin/kotarplusd --config-folder" "$root/lib/systemd/user/kotarplusd.service" || fail "ExecStart"

desktop-file-validate "$root/share/applications/$id.desktop" || fail "desktop-file-validate"
grep -qx "Exec=kotarplus --config-folder" "$root/share/applications/$id.desktop" || fail "Exec line"
grep -q "^Categories=.*HamRadio;" "$root/share/applications/$id.desktop" || fail "HamRadio category"
appstreamcli validate --no-net "$root/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"

for size in 16 32 48 64 128 256; do
  got=$(identify -format '%wx%h' "$root/share/icons/hicolor/${size}x$size/apps/$id.png")
  [ "$got" = "${size}x$size" ] || fail "icon ${size}x$size is $got"
done

MANWIDTH=80 man -l "$root/share/man/man1/kotarplus.1.gz" >"$work/man.txt" 2>"$work/man.err" || fail "man -l"
[ ! -s "$work/man.err" ] || { cat "$work/man.err" >&2; fail "man -l warned"; }
for word in --help --version --config-folder --status io.github.kotarplus.kotarplus.Vox "-F file" KOTARPlus.INI KOTARPlus.Log SIGHUP "EXIT STATUS" \
  PTT COMPORT BAUDRATE TRACE DEVICE GAIN DELAY TIMEOUT ATTACK DEVICENAME PTTLINES OMNIRIG RIG1 RIG2; do
  grep -q -- "$word" "$work/man.txt" || fail "the man page does not mention $word"
done

# Debian's changelog names this version.
[ "$(zcat "$root/share/doc/kotarplus/changelog.gz" | dpkg-parsechangelog -l- -S Version)" = 1.0.22 ] || fail "changelog version"

# Each snippet, read by a private server of its kind, makes the sink at 48 kHz.
"$scripts/pulse-fixture.sh" start "$work/pulse" "$work/dest/etc/pulse/default.pa.d/kotarplus-tx.pa" \
  || fail "PulseAudio does not start with the snippet"
PULSE_SERVER=unix:$work/pulse/runtime/native pactl list short sinks | grep -q "kotarplus_tx.*48000Hz" \
  || fail "no kotarplus_tx at 48 kHz on PulseAudio"
"$scripts/pipewire-fixture.sh" start "$work/pipewire" "$work/dest/etc/pipewire/pipewire-pulse.conf.d/kotarplus-tx.conf" \
  || fail "PipeWire does not start with the snippet"
PULSE_SERVER=unix:$work/pipewire/runtime/native pactl list sinks | grep -A3 "Name: kotarplus_tx$" | tr '\n' ' ' \
  | grep -q "Description: KOTARPlus TX.*48000Hz" || fail "no KOTARPlus TX at 48 kHz on PipeWire"

# The package: the same files under /usr, dependencies from the libraries.
cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/package" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/package/kotarplus_*.deb)
dpkg-deb --info "$deb" >"$work/info"
grep -q "^ Package: kotarplus$" "$work/info" || fail "package name"
grep -q "^ Version: 1.0.22$" "$work/info" || fail "package version"
grep -q "^ Section: hamradio$" "$work/info" || fail "package section"
grep -q "^ Depends: .*libqt6widgets6" "$work/info" || fail "no dependency on Qt Widgets: $(grep Depends "$work/info")"
dpkg-deb --contents "$deb" | awk '{print $6}' | grep -v '/$' | sed 's|^\./||' | LC_ALL=C sort >"$work/packaged"
expected usr | LC_ALL=C sort >"$work/expected"
diff -u "$work/expected" "$work/packaged" || fail "packaged files differ from the list"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/pulse/default.pa.d/kotarplus-tx.pa || fail "conffiles"
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/user/kotarplusd.service \
  | grep -qx "ExecStart=/usr/bin/kotarplusd --config-folder" || fail "the package's ExecStart"
echo "installed and packaged: $(wc -l <"$work/expected") files, $(basename "$deb")"
