#!/usr/bin/env bash
# Builds the program and runs it on a simulated line of devices (kve17-sim).
# First a reading of device 1 with kve17ctl into a new archive file. With a display, the desktop
# program then opens that file in its viewer (the simulator's port is in the COM port dialog's
# list, for more readings). Without one (or with --headless): the records stored, listed by
# kve17ctl, and a second, incremental reading.
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

# The same line on a serial device server: ser2net serves the pty over RFC 2217 on the loopback,
# linked into the port directory under a COM name of its own.
dir=$(mktemp -d)
server_port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf '%s\n' "connection: &line" \
    "  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1,$server_port" \
    "  connector: serialdev,$device,9600n82,local" \
    "  options:" "    chardelay: false" >"$dir/ser2net.yaml"
/usr/sbin/ser2net -n -c "$dir/ser2net.yaml" >/dev/null 2>&1 &
server_pid=$!
link_dir=${XDG_RUNTIME_DIR:+$XDG_RUNTIME_DIR/kve17/ports}
link_dir=${link_dir:-/tmp/kve17-$(id -u)/ports}
net_port=
for n in $(seq 32 99); do
    if ln -s "rfc2217://127.0.0.1:$server_port" "$link_dir/COM$n" 2>/dev/null; then
        net_port=COM$n
        break
    fi
done
trap 'kill "$sim_pid" "$server_pid" 2>/dev/null || true; wait "$sim_pid" "$server_pid" 2>/dev/null || true
      if [ -n "$net_port" ]; then rm -f "$link_dir/$net_port"; fi' EXIT
if [ -n "$net_port" ]; then
    echo "The same line through ser2net: $net_port (rfc2217://127.0.0.1:$server_port)."
fi

ctl=build/tools/ctl/kve17ctl
archive=$dir/device1.dat
$ctl create "$archive"
echo "Reading device 1 at 115200 baud (the whole archive: 62 blocks)..."
$ctl read --port "$port" --device 1 --baud 115200 --history "$dir/history.sqlite" "$archive"

if ! $headless; then
    echo "The program shows $archive in its viewer. For another reading into it: Порт >"
    echo "Настройка СОМ порта, choose $port at 115200; device 1, Чтение архива, the same file."
    echo "The viewer then marks the records that reading added."
    build/app/kve17-archive "$archive"
    exit
fi

echo "The newest ten records:"
$ctl show "$archive" | sed -n 1,10p
kill -USR1 "$sim_pid" # the devices add new records
read -r _ <&"${SIM[0]}"
echo "Reading again: only the new records are read and merged."
$ctl read --port "$port" --device 1 --baud 115200 --history "$dir/history.sqlite" "$archive"
$ctl show "$archive" | sed -n 1,5p
echo "The readings kept in the event history:"
$ctl history --history "$dir/history.sqlite" --readings
if [ -n "$net_port" ]; then
    echo "Reading device 2 through the device server ($net_port, RFC 2217, 115200 baud)..."
    $ctl create "$dir/device2.dat"
    $ctl read --port "$net_port" --device 2 --baud 115200 --history "$dir/history.sqlite" \
        "$dir/device2.dat"
fi
echo "The records marked invalid, as JSON:"
$ctl show --invalid --json "$archive" | head -20
echo "The archive file is $archive; kve17-archive $archive shows it in the viewer."
