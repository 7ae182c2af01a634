#!/usr/bin/env bash
# Runs a command against the Windows build under wine: in a throwaway wine prefix, on a virtual
# X server of its own, with the serial ports wired to pseudo-terminals:
#
#   COM1        vek-demo-slave, station 1 (30002 holds 42; 40001.. keep what is written)
#   COM2        vek-wine-peers' first device (every reply has a wrong CRC)
#   COM3        its second (reads 42, the reply from 50 to 80 ms after the request)
#   COM6        its third: a conversation of other stations every 100 ms, hung up at SIGUSR1 to
#               the peers (their pid in VEK_WINE_PEERS)
#   COM4, COM5  none of the machine's own serial ports: a stand-in of wine's that refuses every
#               serial call (a port that does not exist at all needs VEK_COMn=\\.\COM99)
#
# and vek-wine-peers' serial device servers on the loopback, their addresses in VEK_TEST_SERVER (a
# second demo slave behind socat), VEK_TEST_CLOSING (takes the request, closes the connection) and
# VEK_TEST_DEAF (never takes a connection).
#
# The prefix's wineserver, the X server, the slave and the peers go when it ends, however it ends.
#
#   tests/win32/wine_session.sh <Linux build dir> <command> [argument...]
#
# The command runs with WINEPREFIX and DISPLAY set, in the current directory, for at most
# WINE_SESSION_SECONDS (120); its output is shown once it has ended (run_logged of
# tools/wine-env.sh, which the command may source too).
set -euo pipefail

host=$(cd "${1:?usage: wine_session.sh <Linux build dir> <command> [argument...]}" && pwd)
shift
for program in vek-demo-slave vek-wine-peers; do
    if [ ! -x "$host/$program" ]; then
        echo "wine_session: $host/$program is missing; build the Linux tree first" >&2
        exit 1
    fi
done

. "$(dirname "$0")/../../tools/wine-env.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/vek-wine.XXXXXX")
export WINEPREFIX=$work/prefix
pids=()
cleanup() {
    local status=$?
    stop_prefix
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null || true
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

# Runs a command for at most $1 seconds in the background: bash runs a trap only once the
# foreground command has ended, but interrupts a wait.
bounded() {
    local seconds=$1
    shift
    timeout "$seconds" "$@" &
    pids+=($!)
    wait $!
}

# Waits for the first line of a file that a starting process writes, and prints it.
first_line() {
    for _ in $(seq 100); do
        if [ -s "$1" ]; then
            head -n 1 "$1"
            return 0
        fi
        sleep 0.05
    done
    echo "wine_session: nothing in $1 after 5 s" >&2
    return 1
}

# The X server takes the first free display and says which.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
pids+=($!)
"$host/vek-demo-slave" >"$work/slave" 2>&1 &
pids+=($!)
"$host/vek-wine-peers" >"$work/peers" 2>&1 &
pids+=($!)
export VEK_WINE_PEERS=$!
if ! display=$(first_line "$work/display"); then
    echo "wine_session: Xvfb did not start:" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=:$display
com1=$(first_line "$work/slave")
com2=$(first_line "$work/peers")
com3=$(sed -n 2p "$work/peers")
com6=$(sed -n 3p "$work/peers")
VEK_TEST_SERVER=$(sed -n 4p "$work/peers")
VEK_TEST_CLOSING=$(sed -n 5p "$work/peers")
VEK_TEST_DEAF=$(sed -n 6p "$work/peers")
export VEK_TEST_SERVER VEK_TEST_CLOSING VEK_TEST_DEAF

# The registry is written before the first start. At every start wine's mount manager makes the
# dosdevices/comN links from HKLM\Software\Wine\Ports, and gives the machine's own serial ports
# (/dev/ttyS0...) the first numbers not listed there: an empty value keeps a number free of them.
# Every program runs in a virtual desktop: without a window manager, wine would wait 2 s for one
# whenever a window is destroyed.
mkdir "$WINEPREFIX"
cat >"$WINEPREFIX/system.reg" <<EOF
WINE REGISTRY Version 2
;; All keys relative to \\\\Machine

#arch=win64

[Software\\\\Wine\\\\Ports]
"COM1"="$com1"
"COM2"="$com2"
"COM3"="$com3"
"COM4"=""
"COM5"=""
"COM6"="$com6"
EOF
cat >"$WINEPREFIX/user.reg" <<EOF
WINE REGISTRY Version 2
;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000

#arch=win64

[Software\\\\Wine\\\\Explorer]
"Desktop"="Default"

[Software\\\\Wine\\\\Explorer\\\\Desktops]
"Default"="800x600"
EOF
boot_prefix 90 "$work/wineboot.log"
for n in 1 2 3 4 5; do
    link=$WINEPREFIX/dosdevices/com$n
    case $n in
    1) want=$com1 ;;
    2) want=$com2 ;;
    3) want=$com3 ;;
    *) want= ;;
    esac
    if [ "$(readlink "$link" || true)" != "$want" ]; then
        echo "wine_session: com$n links to '$(readlink "$link" || true)', not '$want'" >&2
        exit 1
    fi
done

status=0
run_logged bounded "${WINE_SESSION_SECONDS:-120}" "$@" || status=$?
[ "$status" -ne 124 ] || echo "wine_session: $* did not end within ${WINE_SESSION_SECONDS:-120} s" >&2
exit "$status"
