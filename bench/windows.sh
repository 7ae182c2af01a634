#!/usr/bin/env bash
# What vek-sample.exe costs under wine (`make bench-windows`): its size, the time from its start
# to its window, and N writes of 41001 each read back through the real window (vek-driver times
# each from the click to the end of its command), with the CPU time that the program and the
# wine server spent meanwhile. A benchmark, not a test: it prints figures and judges none.
#
#   bench/windows.sh <Windows build dir> <Linux build dir> [N, 200 by default]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
usage="usage: bench/windows.sh <Windows build dir> <Linux build dir> [N]"
windows=$(cd "${1:?$usage}" && pwd)
host=$(cd "${2:?$usage}" && pwd)
n=${3:-200}

if [ -z "${VEK_IN_WINE:-}" ]; then
    echo "vek-sample.exe: $(stat -c %s "$windows/vek-sample.exe") bytes"
    cd "$windows"
    VEK_IN_WINE=1 WINE_SESSION_SECONDS=$((120 + n)) \
        exec "$root/tests/win32/wine_session.sh" "$host" "$root/bench/windows.sh" "$windows" "$host" "$n"
fi

# In the prefix of wine_session.sh from here on.
. "$root/tools/wine-env.sh"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
driver() {
    run_logged wine vek-driver.exe "$@" >"$log" || { cat "$log"; exit 1; }
    grep -v '^[0-9]*: ' "$log" || true
}
# The process of one of these names that belongs to this prefix (other prefixes may run at the
# same time); without it the CPU figures would mean nothing.
pid_of() {
    local comm name pid want
    for comm in /proc/[0-9]*/comm; do
        pid=${comm#/proc/}
        pid=${pid%/comm}
        read -r name 2>/dev/null <"$comm" || continue
        for want in "$@"; do
            if [ "$name" = "$want" ] &&
                { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
                echo "$pid"
                return
            fi
        done
    done
    echo "bench/windows.sh: no process $* of $WINEPREFIX" >&2
    return 1
}
ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

for _ in 1 2 3 4 5; do
    driver "start vek-sample.exe" "close 2000"
done | tee "$log.starts"
grep 'window shown' "$log.starts" | sort -n -k3 | awk '{ ms[++n] = $3 } END {
    printf "  start-up to window shown, median (min / max of %d): %.1f ms (%.1f / %.1f)\n",
           n, ms[int((n + 1) / 2)], ms[1], ms[n] }'
rm -f "$log.starts"
driver "start vek-sample.exe"
exe=$(pid_of vek-sample.exe)
server=$(pid_of wineserver64 wineserver)
exe0=$(ticks "$exe") server0=$(ticks "$server") t0=$(date +%s.%N)
driver attach "bench $n"
exe1=$(ticks "$exe") server1=$(ticks "$server") t1=$(date +%s.%N)
awk -v e="$((exe1 - exe0))" -v s="$((server1 - server0))" -v hz="$(getconf CLK_TCK)" \
    -v n="$((2 * n))" -v t0="$t0" -v t1="$t1" 'BEGIN {
    wall = t1 - t0
    printf "  CPU per command, user + system: program %.2f ms (%.1f %% of the wall time), wine server %.2f ms\n",
           1000 * e / hz / n, 100 * e / hz / wall, 1000 * s / hz / n }'
driver attach "close 2000"
