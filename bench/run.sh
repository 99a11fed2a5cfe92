#!/usr/bin/env bash
# The benchmark: reads a device's archive through kve17ctl against kve17-sim with line pacing,
# beside a peer reader on a general-purpose Modbus library, the same reading through ser2net over
# raw TCP and RFC 2217, reads and scans a whole line, the collection server with 200 modems, and runs the micro-benchmarks; then the
# viewer on the offscreen platform, and the desktop program's start with a file under Xvfb.
#   bench/run.sh
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

build=build-bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKVE17_GUI=OFF -DBUILD_TESTING=OFF \
    -DKVE17_BENCH=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target kve17ctl kve17-sim kve17_micro_bench \
    kve17_history_bench
cc -O2 -Wall bench/peer_modbus.c $(pkg-config --cflags --libs libmodbus) -o "$build/peer_modbus"

python3 bench/line_bench.py "$build"
echo
python3 bench/server_bench.py "$build"
echo
python3 bench/whole_line_bench.py "$build"
echo
python3 bench/serve_bench.py "$build"
echo
"$build/bench/kve17_micro_bench" --benchmark_min_time=0.2
echo
# The history on SQLite and on a private local PostgreSQL.
source scripts/pg-server.sh
start_private_pg
KVE17_BENCH_PG="$pg_url" "$build/bench/kve17_history_bench" --benchmark_min_time=0.2
# kve17ctl history of the million events: its peak memory in each format.
million=$(mktemp -d)
"$build/bench/kve17_history_bench" --write-history="$million/h.sqlite"
for format in "" --csv --json; do
    /usr/bin/time -f "kve17ctl history ${format:-(text)} of 1,000,000 events: %M KiB peak, %e s" \
        "$build/tools/ctl/kve17ctl" history --history "$million/h.sqlite" $format >/dev/null
done
rm -rf "$million"

echo
gui=build-bench-gui
cmake -S . -B "$gui" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DKVE17_BENCH=ON \
    >/dev/null
cmake --build "$gui" -j "$(nproc)" --target kve17-archive kve17_viewer_bench
QT_QPA_PLATFORM=offscreen "$gui/bench/kve17_viewer_bench" --benchmark_min_time=0.5
archive=$(mktemp --suffix=.dat)
trap 'rm -f "$archive"' EXIT
"$gui/bench/kve17_viewer_bench" --write-archive="$archive"
xvfb-run -a -s "-screen 0 1280x1024x24" bench/viewer_start.sh "$gui" "$archive" 9
