#!/usr/bin/env bash
# The window against the simulated slave, no hardware needed (`make demo`).
#
#   tools/demo.sh <builddir>
#
# Starts vek-demo-slave --lively on a fresh pseudo-terminal (input register 30002 counts up
# every second), points COM1 at it and opens the window; closing the window stops the slave.
set -euo pipefail

build=${1:?usage: tools/demo.sh <builddir>}
for program in vek-demo-slave vek-sample; do
    if [ ! -x "$build/$program" ]; then
        echo "demo: $build/$program is missing; build first (make build)" >&2
        exit 1
    fi
done
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: no display (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot" >&2
    echo "demo: open. Run it in a desktop session, or over ssh -X; see docs/window.png for a look." >&2
    exit 2
fi

first_line=$(mktemp)
slave_pid=
stop_slave() {
    if [ -n "$slave_pid" ]; then
        kill "$slave_pid" 2>/dev/null || true
        wait "$slave_pid" 2>/dev/null || true
    fi
    rm -f "$first_line"
}
trap stop_slave EXIT
trap 'exit 130' INT TERM

"$build/vek-demo-slave" --lively >"$first_line" &
slave_pid=$!

# Its first line is the device to open, for example /dev/pts/3.
for _ in $(seq 50); do
    if grep -q . "$first_line" 2>/dev/null || ! kill -0 "$slave_pid" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
device=$(head -n 1 "$first_line")
if [ -z "$device" ]; then
    echo "demo: the demo slave did not start" >&2
    exit 1
fi

export VEK_COM1=$device
echo "demo: slave (station 1) on $device as COM1; 30002 counts up, 30003 is -2,"
echo "demo: 40001.. hold 100, 4660, 0 ... and keep what you write. Close the window to stop."
"$build/vek-sample"
