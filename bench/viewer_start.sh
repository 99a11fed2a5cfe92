#!/usr/bin/env bash
# Times `kve17-archive FILE.dat` from its start until the viewer's window is on the X screen,
# several runs; run under xvfb-run. Prints each time and the median in milliseconds.
#   bench/viewer_start.sh BUILD-DIR FILE.dat [RUNS]
set -euo pipefail
program=$1/app/kve17-archive
file=$2
runs=${3:-7}

times=()
for _ in $(seq "$runs"); do
    start=$(date +%s%N)
    "$program" "$file" >/dev/null 2>&1 &
    pid=$!
    deadline=$((start + 10000000000))
    until xwininfo -root -tree 2>/dev/null | grep -q 'Просмотр архива'; do
        kill -0 "$pid" 2>/dev/null || { wait "$pid" || echo "the program ended: $?" >&2; exit 1; }
        [ "$(date +%s%N)" -lt "$deadline" ] || { echo "no viewer within 10 s" >&2; kill "$pid"; exit 1; }
        sleep 0.002
    done
    end=$(date +%s%N)
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    times+=($(((end - start) / 1000000)))
done
echo "start to shown viewer, ms: ${times[*]}"
printf '%s\n' "${times[@]}" | sort -n | awk '{a[NR]=$1} END {print "median ms:", a[int((NR+1)/2)]}'
