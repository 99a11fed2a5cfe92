#!/usr/bin/env bash
# Collects a simulated line while the collector is killed and the history's database is locked,
# filled and stopped, then checks the history against every event the devices made; exits
# non-zero on any event stored twice or lost outside a marked gap.
#
#   scripts/chaos.sh                 # the short form CI runs: 60 s per history
#   scripts/chaos.sh --seconds 600   # the long form, by hand (both histories: 20 minutes)
#   scripts/chaos.sh --backend sqlite --seed 42 --verbose
#
# Uses the programs of ./build (--build DIR for another). A seed printed by a failing run
# repeats its choices.
set -euo pipefail
cd "$(dirname "$0")/.."

args=("$@")
backend=both
for ((i = 0; i < ${#args[@]}; i++)); do
    [ "${args[$i]}" = --backend ] && backend=${args[$((i + 1))]:-both}
done

if [ "$backend" != sqlite ]; then
    source scripts/pg-server.sh
    start_private_pg
    export KVE17_CHAOS_PG_URL="$pg_url" KVE17_CHAOS_PG_CTL="$pg_bin/pg_ctl"
    export KVE17_CHAOS_PG_DATA="$pg_dir/data" KVE17_CHAOS_AS_PG="${as_pg[*]:-}"
    # A restart takes the settings of the first start.
    export KVE17_CHAOS_PG_OPTIONS="-c listen_addresses='' -k $pg_dir -c fsync=off"
fi
python3 scripts/chaos.py "${args[@]}"
