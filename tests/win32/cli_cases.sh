#!/usr/bin/env bash
# vek-cli.exe under wine, run by wine_session.sh: COM1 is the demo slave, COM2 replies with a wrong
# CRC, COM6 carries other stations' conversation, COM12 does not exist; VEK_TEST_SERVER,
# VEK_TEST_CLOSING and VEK_TEST_DEAF are device servers on the loopback. Each line: the exit
# status, the first line on stdout, the arguments.
set -euo pipefail
exe=${1:?usage: cli_cases.sh <vek-cli.exe>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
launcher=wine
expect() {
    local status=$1 out=$2 got=0
    shift 2
    "$launcher" "$exe" "$@" >"$work/stdout" 2>"$work/stderr" || got=$?
    local line
    line=$(head -n 1 "$work/stdout" | tr -d '\r')
    if [ "$got" != "$status" ] || [ "$line" != "$out" ]; then
        echo "FAIL vek-cli $*: status $got, '$line' ($(tr -d '\r' <"$work/stderr"))" >&2
        failed=1
    fi
}
# The last command's stderr says it.
said() {
    if ! grep -qF "$1" "$work/stderr"; then
        echo "FAIL: '$1' not in: $(cat "$work/stderr")" >&2
        failed=1
    fi
}
expect 0 " 42" read COM1 30002
# The read ends at the whole reply, not at its longest wait (10 s; 5 s leave room for a slow wine).
expect 0 " 42" read COM1 30002 --wait 10 -v
if ! tr -d '\r' <"$work/stdout" | awk '/^Whole reply after/ && $4 < 5000 { ok = 1 } END { exit !ok }'; then
    echo "FAIL: a read that did not end at its reply: $(tr -d '\r' <"$work/stdout")" >&2
    failed=1
fi
# Two registers as one 32-bit value: 100 and 4660 (0064 1234).
expect 0 "40001  0064 1234  6558260" read COM1 40001 --type int32
expect 0 "station 1, 19200 none: Value 100 (unsigned 100, hex 0064)" scan COM1 --stations 1-2
garbled="something answers at 9600 even, but not correctly"
expect 2 "$garbled (station 3: The last two bytes are not the CRC of the rest)" \
    scan COM2 --stations 3 --speeds 9600 --parities even
# A watch: its CSV header, and a row a poll.
expect 0 "time,outcome,reply_ms,30002" watch COM1 30002 --polls 3 --interval 0.05 --format csv
if [ "$(grep -c ',ok,' "$work/stdout")" != 3 ]; then
    echo "FAIL: a watch of three polls: $(tr -d '\r' <"$work/stdout")" >&2
    failed=1
fi
# A bare COMn is the Windows device \\.\COMn, which Windows needs from COM10 up.
expect 4 "PortErr" read COM12 30002
said '\\.\COM12: no such device'

# Through a serial device server: a write read back, a scan of the stations only.
expect 0 "Sent 01 06 03 E8 00 07 48 78" write "$VEK_TEST_SERVER" 41001 7 --parity odd
expect 0 " 7" read "$VEK_TEST_SERVER" 41001
expect 0 "station 1: Value 100 (unsigned 100, hex 0064)" scan "$VEK_TEST_SERVER" --stations 1-2
said "tried 1 of 2"
expect 4 "PortErr" read tcp://127.0.0.1:1 30002
said "tcp://127.0.0.1:1: connection refused"
expect 4 "PortErr" read "$VEK_TEST_CLOSING" 30002
said "connection closed by the device server"
expect 4 "PortErr" read "$VEK_TEST_DEAF" 30002
said "no answer to the connection within 3 s"
# listen overhears COM6's conversation: Ctrl+C (SIGINT to wine's process) ends it with exit 0,
# the line hung up as an adapter pulled out (SIGUSR1 to the peers) with exit 4; both with each
# station's counts on stderr.
listen() {
    local status=$1 stop=$2 got=0
    wine "$exe" listen COM6 >"$work/stdout" 2>"$work/stderr" &
    local pid=$!
    sleep 3
    if [ "$stop" = INT ]; then kill -INT "$pid"; else kill -USR1 "$VEK_WINE_PEERS"; fi
    wait "$pid" || got=$?
    tr -d '\r' <"$work/stdout" >"$work/heard"
    for line in "station 1  read 30002  ->  42  " "station 1  read 30011  ->  exception 02 Illegal data address" \
                "station 9  read 40001  ->  no answer"; do
        grep -qF "$line" "$work/heard" || { echo "FAIL listen, $stop: no '$line'" >&2; failed=1; }
    done
    if [ "$got" != "$status" ] || ! tr -d '\r' <"$work/stderr" | grep -qE '^ +9 +[0-9]+ +0 +[0-9]+ +0 +0 '; then
        echo "FAIL listen, $stop: status $got, $(tr -d '\r' <"$work/stderr")" >&2
        failed=1
    fi
}
listen 0 INT
listen 4 USR1
said "device disconnected"
# A name is looked up in the program itself (wine's sockets are its server's): in a network
# namespace of its own, where the lookup cannot leave the machine and fails at once.
if unshare -n true 2>/dev/null; then
    alone() { unshare -n sh -c 'ip link set lo up && exec wine "$@"' sh "$@"; }
    launcher=alone
    expect 4 "PortErr" read tcp://vek-none.invalid:502 30002
    said "tcp://vek-none.invalid:502: name not found"
else
    echo "cli_cases: no network namespace of its own (root only): names not tried"
fi
exit "$failed"
