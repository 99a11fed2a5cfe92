#!/usr/bin/env bash
# Builds the program and runs it on a simulated line of devices (kve17-sim).
# With a display: the desktop program, with the simulator's port in the COM port dialog's list.
# Without one (or with --headless): the same reading with kve17ctl, then the records it stored.
set -euo pipefail
cd "$(dirname "$0")"
bash scripts/install-deps.sh

headless=false
[ "${1:-}" = --headless ] && headless=true
[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && headless=true

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target kve17-archive kve17-sim kve17ctl

# Every device on the line adds a record a second, so a second reading finds news.
coproc SIM { exec build/tools/sim/kve17-sim --grow 1 --young 2:200; }
sim_pid=$SIM_PID
trap 'kill "$sim_pid" 2>/dev/null || true; wait "$sim_pid" 2>/dev/null || true' EXIT
read -r port device <&"${SIM[0]}"
echo "Simulated line of devices 1-31 on $port ($device)."

if ! $headless; then
    echo "In the program: Порт > Настройка СОМ порта, choose $port; Файл > Создать файл архива;"
    echo "then pick a device number and press Чтение архива."
    build/app/kve17-archive
    exit
fi

ctl=build/tools/ctl/kve17ctl
dir=$(mktemp -d)
archive=$dir/device1.dat
$ctl create "$archive"
echo "Reading device 1 at 115200 baud (the whole archive: 62 blocks)..."
$ctl read --port "$port" --device 1 --baud 115200 "$archive"
echo "The newest ten records:"
$ctl show "$archive" | sed -n 1,10p
kill -USR1 "$sim_pid" # the devices add new records
read -r _ <&"${SIM[0]}"
echo "Reading again: only the new records are read and merged."
$ctl read --port "$port" --device 1 --baud 115200 "$archive"
$ctl show "$archive" | sed -n 1,5p
echo "The archive file is $archive"
