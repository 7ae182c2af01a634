#!/usr/bin/env bash
# vek-cli.exe under wine, run by wine_session.sh: COM1 is the demo slave, COM2 replies with a wrong
# CRC, COM12 does not exist. Each line: the exit status, the first line on stdout, the arguments.
set -euo pipefail
exe=${1:?usage: cli_cases.sh <vek-cli.exe>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0
expect() {
    local status=$1 out=$2 got=0
    shift 2
    wine "$exe" "$@" >"$work/stdout" 2>"$work/stderr" || got=$?
    local line
    line=$(head -n 1 "$work/stdout" | tr -d '\r')
    if [ "$got" != "$status" ] || [ "$line" != "$out" ]; then
        echo "FAIL vek-cli $*: status $got, '$line' ($(tr -d '\r' <"$work/stderr"))" >&2
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
if ! grep -qF '\\.\COM12: no such device' "$work/stderr"; then
    echo "FAIL: $(cat "$work/stderr")" >&2
    failed=1
fi
exit "$failed"
