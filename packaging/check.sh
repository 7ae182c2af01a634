#!/usr/bin/env bash
# Checks the package `make package` built: the validators on its menu entry, AppStream data,
# manual pages and the package itself; that Depends covers the Qt libraries really linked; that
# it holds exactly the programs and their data; that vek-cli runs; and that vek-sample starts
# under a virtual X server (started and stopped here) and shows its window with the icon.
#
#   packaging/check.sh build/vek-sample_<version>_<arch>.deb
set -euo pipefail

deb=${1:?usage: packaging/check.sh <package.deb>}
id=org.veksample.VekSample
tmp=$(mktemp -d)
xvfb=
app=
cleanup() {
    [ -z "$app" ] || { kill "$app" && wait "$app"; } 2>/dev/null || true
    [ -z "$xvfb" ] || { kill "$xvfb" && wait "$xvfb"; } 2>/dev/null || true
    rm -rf "$tmp"
}
trap cleanup EXIT
fail() {
    echo "package check: $*" >&2
    exit 1
}

root=$tmp/root
dpkg-deb -x "$deb" "$root"
version=$(dpkg-deb -f "$deb" Version)

# The programs and their data, nothing of the tests, the benchmark or the demo slave.
diff -u <(sort <<EOF_FILES
usr/bin/vek-cli
usr/bin/vek-sample
usr/share/applications/$id.desktop
usr/share/doc/vek-sample/changelog.gz
usr/share/doc/vek-sample/copyright
usr/share/doc/vek-sample/manual.html
usr/share/doc/vek-sample/manual.md
usr/share/icons/hicolor/256x256/apps/$id.png
usr/share/icons/hicolor/48x48/apps/$id.png
usr/share/icons/hicolor/scalable/apps/$id.svg
usr/share/man/man1/vek-cli.1.gz
usr/share/man/man1/vek-sample.1.gz
usr/share/metainfo/$id.metainfo.xml
EOF_FILES
) <(cd "$root" && find . ! -type d | sed 's|^\./||' | sort) || fail "unexpected files in $deb"

out=$(desktop-file-validate "$root/usr/share/applications/$id.desktop") && [ -z "$out" ] ||
    fail "desktop entry: $out"
out=$(appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml") ||
    fail "AppStream data: $out"
lintian --fail-on error,warning "$deb" 2>/dev/null || fail "lintian: $(lintian "$deb" 2>&1)"
for page in vek-sample vek-cli; do
    out=$(MANWIDTH=80 man --warnings=w -E UTF-8 -l "$root/usr/share/man/man1/$page.1.gz" 2>&1 \
        >/dev/null) && [ -z "$out" ] || fail "manual page $page: $out"
done

# The manual page sends the reader to the operator's manual; it must be where it says.
grep -q '/usr/share/doc/vek\\-sample/manual.html' <(zcat "$root/usr/share/man/man1/vek-sample.1.gz") ||
    fail "manual page does not name /usr/share/doc/vek-sample/manual.html"
grep -q '^# ' "$root/usr/share/doc/vek-sample/manual.md" || fail "manual.md is empty"
[ "$(dpkg-deb -f "$deb" Recommends)" = "fonts-liberation2 | fonts-liberation" ] ||
    fail "Recommends: $(dpkg-deb -f "$deb" Recommends)"

# A new version needs its entry in the changelog and in the AppStream releases.
[ "$(zcat "$root/usr/share/doc/vek-sample/changelog.gz" | dpkg-parsechangelog -l - -S Version)" \
    = "$version" ] || fail "changelog has no entry for $version on top"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/$id.metainfo.xml" ||
    fail "metainfo has no release $version"

depends=$(dpkg-deb -f "$deb" Depends)
for program in vek-sample vek-cli; do
    qt_libs=$(objdump -p "$root/usr/bin/$program" |
        awk '$1 == "NEEDED" && $2 ~ /^libQt6/ {print $2}')
    [ -n "$qt_libs" ] || fail "$program links no Qt library?"
    for lib in $qt_libs; do
        owner=$(dpkg -S "*/$lib" | head -n 1 | cut -d: -f1)
        grep -qE "(^|, )$owner( |,|$)" <<<"$depends" || fail "Depends lacks $owner ($lib): $depends"
    done
done

# vek-cli runs without a display, and was built from the package's version.
out=$(env -u DISPLAY -u WAYLAND_DISPLAY "$root/usr/bin/vek-cli" --help) &&
    grep -q '^usage: vek-cli read PORT REF' <<<"$out" || fail "vek-cli --help: $out"
out=$("$root/usr/bin/vek-cli" --version) && [ "$out" = "vek-cli $version" ] ||
    fail "vek-cli --version: $out, the package is $version"

Xvfb -displayfd 5 -nolisten tcp -screen 0 800x600x24 5>"$tmp/display" 2>"$tmp/xvfb.log" &
xvfb=$!
for _ in $(seq 100); do
    [ -s "$tmp/display" ] && break
    sleep 0.1
done
[ -s "$tmp/display" ] || fail "Xvfb did not start: $(cat "$tmp/xvfb.log")"
export DISPLAY=:$(cat "$tmp/display")
unset WAYLAND_DISPLAY
QT_QPA_PLATFORM=xcb "$root/usr/bin/vek-sample" 2>"$tmp/app.log" &
app=$!
window=
for _ in $(seq 100); do
    window=$(xwininfo -root -tree | awk '/"VEK Sample program": \("vek-sample"/ {print $1; exit}')
    [ -z "$window" ] || break
    kill -0 "$app" 2>/dev/null || fail "vek-sample ended: $(cat "$tmp/app.log")"
    sleep 0.1
done
[ -n "$window" ] || fail "vek-sample showed no window"
# Its class is the menu entry's StartupWMClass, so window managers on X11 group the two.
grep -qx "StartupWMClass=vek-sample" "$root/usr/share/applications/$id.desktop" ||
    fail "desktop entry does not name the window's class"
# The window is mapped before Qt sets its icon property; give it a moment.
for _ in $(seq 50); do
    xprop -id "$window" -notype _NET_WM_ICON | grep -q 'Icon (48 x 48)' && break
    sleep 0.1
done
xprop -id "$window" -notype _NET_WM_ICON | grep -q 'Icon (48 x 48)' || fail "window has no icon"
echo "package check: $(basename "$deb") ($(stat -c %s "$deb") bytes) passed"
