"""A whole line through kve17ctl against a paced kve17-sim: fresh readings of 31 devices at 115200
baud into one folder, against the sum of their floors and against 31 times a single-device
reading on the same simulator (what the line itself adds, whatever the machine's load); and a
scan of 31 silent addresses at 9600 baud, against its 6 s target."""
import os
import subprocess
import sys
import tempfile

from line_bench import Simulator, floor_s, run_measured

DEVICES = 31
SCAN_TARGET_S = 6.0


def whole_line(build, tmp):
    ctl = f"{build}/tools/ctl/kve17ctl"
    sim = Simulator(build, os.path.join(tmp, "ports-line"), ["--devices", "1-31", "--seed", "7"])
    try:
        single = os.path.join(tmp, "single.dat")
        subprocess.run([ctl, "create", "--force", single], check=True, stdout=subprocess.DEVNULL)
        one, _ = run_measured([ctl, "read", "--port", sim.path, "--device", "1", "--baud", "115200",
                               "--stop", "2", single])
        folder = os.path.join(tmp, "line")
        wall, cpu = run_measured([ctl, "read", "--port", sim.path, "--device", "1-31", "--dir",
                                  folder, "--baud", "115200", "--stop", "2"])
    finally:
        sim.stop()
    return wall, cpu, DEVICES * floor_s(62, 115200), DEVICES * one


def silent_scan(build, tmp):
    ctl = f"{build}/tools/ctl/kve17ctl"
    sim = Simulator(build, os.path.join(tmp, "ports-scan"),
                    ["--devices", "1", "--fault", "1:silence:times=all"])
    try:
        return run_measured([ctl, "scan", "--port", sim.path, "--baud", "9600"])
    finally:
        sim.stop()


def main():
    build = sys.argv[1]
    with tempfile.TemporaryDirectory() as tmp:
        wall, cpu, floor, singles = whole_line(build, tmp)
        scan_wall, scan_cpu = silent_scan(build, tmp)
    print(f"{'line':<34}{'wall s':>8}{'target s':>10}{'over':>8}{'cpu':>7}")
    print(f"{'31 devices, fresh, 115200 baud':<34}{wall:>8.3f}{floor:>10.3f}"
          f"{100 * (wall / floor - 1):>7.1f}%{100 * cpu / wall:>6.2f}%")
    print(f"{'  against 31 single readings':<34}{wall:>8.3f}{singles:>10.3f}"
          f"{100 * (wall / singles - 1):>7.1f}%")
    print(f"{'scan, 31 silent addresses, 9600':<34}{scan_wall:>8.3f}{SCAN_TARGET_S:>10.3f}"
          f"{100 * (scan_wall / SCAN_TARGET_S - 1):>7.1f}%{100 * scan_cpu / scan_wall:>6.2f}%")


if __name__ == "__main__":
    main()
