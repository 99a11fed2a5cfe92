"""Reads a whole archive (62 blocks) and an incremental reading of one block through kve17ctl
against a paced kve17-sim, at 9600 and 115200 baud with two stop bits, beside the same reading by
the peer reader, and prints wall time against the line's floor, CPU share and peak memory."""
import os
import subprocess
import sys
import tempfile
import time

DELAY_TX_MS = 25
FRAME_BYTES = 6 + 133
BITS_PER_CHAR = 11  # start, 8 data, 2 stop


def run_measured(argv):
    """Runs a command; returns (wall s, cpu s). Fails loudly on a non-zero exit."""
    start = time.monotonic()
    with open(os.devnull, "wb") as null:
        pid = os.posix_spawn(argv[0], argv, os.environ,
                             file_actions=[(os.POSIX_SPAWN_DUP2, null.fileno(), 1),
                                           (os.POSIX_SPAWN_DUP2, null.fileno(), 2)])
        _, status, usage = os.wait4(pid, 0)
    wall = time.monotonic() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"failed: {' '.join(argv)}")
    return wall, usage.ru_utime + usage.ru_stime


def peak_memory_kib(argv):
    """Peak resident memory of a run, taken by GNU time: a child of this interpreter would be
    charged the interpreter's own peak."""
    with tempfile.NamedTemporaryFile("r") as report:
        subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + argv, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return int(report.read().split()[-1])


class Simulator:
    def __init__(self, build, port_dir, args=("--devices", "1", "--seed", "7")):
        self.proc = subprocess.Popen(
            [f"{build}/tools/sim/kve17-sim", *args, "--port-dir", port_dir],
            stdout=subprocess.PIPE, text=True)
        first = self.proc.stdout.readline().split()
        if len(first) != 2:
            sys.exit("kve17-sim did not start")
        self.name, self.path = first

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def floor_s(blocks, baud):
    return blocks * (DELAY_TX_MS / 1000 + FRAME_BYTES * BITS_PER_CHAR / baud)


def main():
    build = sys.argv[1]
    ctl = f"{build}/tools/ctl/kve17ctl"
    peer = f"{build}/peer_modbus"
    rows = []
    with tempfile.TemporaryDirectory() as tmp:
        for baud in (9600, 115200):
            sim = Simulator(build, os.path.join(tmp, f"ports-{baud}"))
            try:
                archive = os.path.join(tmp, f"bench-{baud}.dat")
                subprocess.run([ctl, "create", "--force", archive], check=True,
                               stdout=subprocess.DEVNULL)
                read = [ctl, "read", "--no-history", "--port", sim.path, "--device", "1", "--baud", str(baud),
                        "--stop", "2", archive]
                fresh = run_measured(read)
                incremental = run_measured(read)  # the device has nothing new: one block
                peer_run = run_measured([peer, sim.path, str(baud), "N", "2", "1", "62"])
            finally:
                sim.stop()
            rows.append((baud, "fresh, 62 blocks", fresh, floor_s(62, baud), peer_run))
            rows.append((baud, "incremental, 1 block", incremental, floor_s(1, baud), None))

        # Peak memory of a whole reading, in a run of its own under GNU time.
        memory_file = os.path.join(tmp, "memory.dat")
        subprocess.run([ctl, "create", "--force", memory_file], check=True, stdout=subprocess.DEVNULL)
        sim = Simulator(build, os.path.join(tmp, "ports-memory"))
        try:
            peak_kib = peak_memory_kib([ctl, "read", "--no-history", "--port", sim.path, "--device", "1", "--baud",
                                        "115200", "--stop", "2", memory_file])
        finally:
            sim.stop()

    print(f"{'baud':>6}  {'reading':<22}{'wall s':>8}{'floor s':>9}{'over':>8}"
          f"{'cpu':>7}{'peer s':>8}{'ours/peer':>10}")
    for baud, what, (wall, cpu), floor, peer_run in rows:
        peer_cols = ""
        if peer_run:
            peer_cols = f"{peer_run[0]:>8.3f}{wall / peer_run[0]:>10.3f}"
        print(f"{baud:>6}  {what:<22}{wall:>8.3f}{floor:>9.3f}{100 * (wall / floor - 1):>7.1f}%"
              f"{100 * cpu / wall:>6.2f}%{peer_cols}")
    print(f"peak memory of kve17ctl read (fresh, 62 blocks): {peak_kib / 1024:.1f} MiB")


if __name__ == "__main__":
    main()
