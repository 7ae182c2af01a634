#!/bin/sh
# Runs a Windows program under wine in a prefix of its own; the emulator of the Windows build's
# tests.
#
#   tools/wine-run.sh <prefix> --start    # makes the prefix unless it is there (windows.start_wine)
#   tools/wine-run.sh <prefix> <program.exe> [arguments...]
#   tools/wine-run.sh <prefix> --stop     # ends the prefix's wine server and its processes
set -eu

prefix=${1:?usage: wine-run.sh <prefix> <program.exe> [arguments...] | --start | --stop}
shift
. "$(dirname "$0")/wine-env.sh"

case ${1:-} in
--stop)
    WINEPREFIX=$prefix stop_prefix
    exit 0
    ;;
--start)
    [ ! -d "$prefix" ] || exit 0
    # Made aside and moved into place only once complete: a boot cut short (by a timeout on a
    # loaded machine, say) leaves nothing that a later run would take for a ready prefix.
    mkdir -p "$(dirname "$prefix")"
    rm -rf "$prefix".boot-* # left by a boot that was killed
    WINEPREFIX=$(mktemp -d "$prefix.boot-XXXXXX")
    export WINEPREFIX
    boot_prefix 150 "$prefix.boot.log"
    # The prefix's server and services end first: they know it by its temporary name.
    timeout 20 wineserver -w
    mv -T "$WINEPREFIX" "$prefix"
    exit 0
    ;;
esac

if [ ! -d "$prefix" ]; then
    echo "wine-run.sh: no wine prefix $prefix; make it first with: $0 $prefix --start" >&2
    exit 1
fi
export WINEPREFIX="$prefix"
run_logged wine "$@"
