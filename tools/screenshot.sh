#!/usr/bin/env bash
# Takes docs/window.png: the window under a virtual X server, after one "Read Data" against the
# demo slave. Needs xvfb, xdotool and imagemagick.
#
#   tools/screenshot.sh <builddir> [output.png]
set -euo pipefail

build=${1:?usage: tools/screenshot.sh <builddir> [output.png]}
out=${2:-docs/window.png}
build=$(cd "$build" && pwd)
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

if [ -z "${VEK_IN_XVFB:-}" ]; then
    export VEK_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 800x600x24" "$0" "$build" "$out"
fi

slave_out=$(mktemp)
slave_pid=
app_pid=
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
    [ -n "$slave_pid" ] && kill "$slave_pid" 2>/dev/null || true
    rm -f "$slave_out"
}
trap cleanup EXIT

"$build/vek-demo-slave" >"$slave_out" &
slave_pid=$!
for _ in $(seq 50); do
    [ -s "$slave_out" ] && break
    sleep 0.1
done
VEK_COM1=$(head -n 1 "$slave_out")
export VEK_COM1

QT_QPA_PLATFORM=xcb "$build/vek-sample" &
app_pid=$!
window=$(timeout 20 xdotool search --sync --name "VEK Sample program" | head -n 1)
# Without a window manager nothing gives the window the keyboard; do it as one would.
xdotool windowfocus --sync "$window"
sleep 1
# The middle of "Read Data" (5160 + 1335/2, 2040 + 855/2 twips, at 15 twips a pixel).
xdotool mousemove --window "$window" 388 164 click 1
sleep 1
# Park the pointer off the window so that no hover highlight shows.
xdotool mousemove 790 590
sleep 0.5
import -window "$window" "$out"
echo "wrote $out"
