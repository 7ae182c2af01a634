# The wine set-up of the Windows build's tests, benchmark and screenshot (tools/wine-run.sh,
# tests/win32/wine_session.sh and the scripts run inside it). Sourced, by sh and bash alike; the
# caller sets WINEPREFIX.

# 64-bit only, no debug output, and no offer to download Mono and Gecko (wine would wait for an
# answer).
export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree=d;mshtml=d"

# run_logged COMMAND...: runs a wine command with its output going to a file, then shows that
# output and returns the command's status. wineserver and the processes wine starts for the
# prefix keep the standard output of the wine command that started them, so a caller reading a
# pipe would wait for them.
run_logged() {
    _wine_log=$(mktemp)
    _wine_status=0
    "$@" >"$_wine_log" 2>&1 || _wine_status=$?
    cat "$_wine_log"
    rm -f "$_wine_log"
    return "$_wine_status"
}

# boot_prefix SECONDS LOG: makes the prefix $WINEPREFIX (it may hold registry files written
# beforehand) within SECONDS, wineboot's output in LOG; on failure shows LOG and returns 1.
# Waited for in the background, so that the caller's traps run meanwhile.
boot_prefix() {
    timeout "$1" wineboot -i >"$2" 2>&1 &
    if wait $!; then
        return 0
    fi
    echo "wineboot failed or took over $1 s in $WINEPREFIX:" >&2
    cat "$2" >&2
    return 1
}

# stop_prefix: ends the wine server of $WINEPREFIX and every program of it, and waits for them.
stop_prefix() {
    [ -d "$WINEPREFIX" ] || return 0
    timeout 10 wineserver -k 2>/dev/null || true
    timeout 10 wineserver -w 2>/dev/null || true
}
