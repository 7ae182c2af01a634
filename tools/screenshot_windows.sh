#!/usr/bin/env bash
# Takes docs/window-windows.png: vek-sample.exe under wine, in wine's own desktop on a virtual X
# server, after one "Read Data" against the demo slave. Needs wine, xvfb and imagemagick.
#
#   tools/screenshot_windows.sh <Windows build dir> <Linux build dir> [output.png]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
windows=$(cd "${1:?usage: tools/screenshot_windows.sh <Windows build dir> <Linux build dir> [output.png]}" && pwd)
host=$(cd "${2:?usage: tools/screenshot_windows.sh <Windows build dir> <Linux build dir> [output.png]}" && pwd)
out=${3:-$root/docs/window-windows.png}
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")

# The driver leaves the window open; wine_session.sh ends it after the shot.
cd "$windows"
"$root/tests/win32/wine_session.sh" "$host" bash -c '
    . "$2/tools/wine-env.sh"
    out=$(run_logged wine vek-driver.exe "start vek-sample.exe" "click TX1" "wait-idle 2000" \
          "sleep 500" where) || { echo "$out"; exit 1; }
    read -r x y w h < <(tail -n 1 <<<"$out")
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$1"
' shot "$out" "$root"
echo "wrote $out"
