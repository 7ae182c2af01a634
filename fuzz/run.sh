#!/bin/sh
# Runs one fuzz target for a bounded time, starting from the committed seeds. New inputs go to a
# corpus in the build directory (libFuzzer writes into the first directory it is given), so the
# committed seeds stay as they are; a failing input is kept beside it.
# usage: run.sh FUZZER SEEDS FOUND SECONDS
set -eu
fuzzer=$1 seeds=$2 found=$3 seconds=$4
mkdir -p "$found" "$found.crashes"
exec "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$found.crashes/" "$found" "$seeds"
