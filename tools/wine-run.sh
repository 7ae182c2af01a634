#!/bin/sh
# Runs a Windows program under wine in a prefix of its own, made on first use; the emulator of
# the Windows build's tests.
#
#   tools/wine-run.sh <prefix> <program.exe> [arguments...]
#   tools/wine-run.sh <prefix> --stop     # ends the prefix's wine server and its processes
set -eu

prefix=${1:?usage: wine-run.sh <prefix> <program.exe> [arguments...] | --stop}
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all
# Without these wine offers to download Mono and Gecko, and waits for an answer.
export WINEDLLOVERRIDES="mscoree=d;mshtml=d"

if [ "${1:-}" = --stop ]; then
    [ -d "$prefix" ] && wineserver -k 2>/dev/null || true
    exit 0
fi

# wineserver and the processes wineboot starts keep the standard output of the wine command
# that started them, so wine always writes to a file: a caller reading a pipe would wait for
# them. Tests that start in parallel make the prefix once.
mkdir -p "$(dirname "$prefix")"
flock "$prefix.lock" sh -c \
    '[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >"$WINEPREFIX.boot.log" 2>&1'

log=$(mktemp)
status=0
wine "$@" >"$log" 2>&1 || status=$?
cat "$log"
rm -f "$log"
exit "$status"
