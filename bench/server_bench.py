"""Reads a whole archive (62 blocks) of one device at 115200 baud with two stop bits through
ser2net on the loopback, over raw TCP and over RFC 2217, beside the same reading of the local
line, against a paced kve17-sim; prints wall time against the line's floor and the CPU share."""
import os
import statistics
import subprocess
import sys
import tempfile
import time

from line_bench import Simulator, floor_s, run_measured

BAUD = 115200
RUNS = 5


def free_port():
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def listening(port):
    with open("/proc/net/tcp") as table:
        next(table)
        for line in table:
            fields = line.split()
            if fields[3] == "0A" and int(fields[1].split(":")[1], 16) == port:
                return True
    return False


class Server:
    """ser2net as a user should set it up: nodelay on the accepter, no wait after characters."""

    def __init__(self, device, folder):
        self.raw, self.rfc = free_port(), free_port()
        config = os.path.join(folder, "ser2net.yaml")
        with open(config, "w") as out:
            for name, accepter, port in (("raw", "", self.raw),
                                         ("rfc", "telnet(rfc2217),", self.rfc)):
                out.write(f"connection: &{name}\n"
                          f"  accepter: {accepter}tcp(nodelay),127.0.0.1,{port}\n"
                          f"  connector: serialdev,{device},{BAUD}n82,local\n"
                          f"  options:\n    chardelay: false\n")
        self.proc = subprocess.Popen(["/usr/sbin/ser2net", "-n", "-d", "-c", config],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while not (listening(self.raw) and listening(self.rfc)):
            if time.monotonic() > deadline or self.proc.poll() is not None:
                self.stop()
                sys.exit("ser2net did not start")
            time.sleep(0.01)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=10)


def main():
    build = sys.argv[1]
    ctl = f"{build}/tools/ctl/kve17ctl"
    floor = floor_s(62, BAUD)
    with tempfile.TemporaryDirectory() as tmp:
        sim = Simulator(build, os.path.join(tmp, "ports"))
        server = Server(sim.path, tmp)
        try:
            ports = (("local line", sim.path),
                     ("ser2net raw TCP", f"tcp://127.0.0.1:{server.raw}"),
                     ("ser2net RFC 2217", f"rfc2217://127.0.0.1:{server.rfc}"))
            print(f"fresh reading of 62 blocks at {BAUD} baud, floor {floor:.3f} s, "
                  f"median of {RUNS} runs")
            print(f"{'port':<18}{'wall s':>8}{'over':>8}{'cpu':>7}{'min s':>8}{'max s':>8}")
            archive = os.path.join(tmp, "bench.dat")
            for what, port in ports:
                runs = []
                for _ in range(RUNS):
                    subprocess.run([ctl, "create", "--force", archive], check=True,
                                   stdout=subprocess.DEVNULL)
                    runs.append(run_measured([ctl, "read", "--port", port, "--device", "1",
                                              "--baud", str(BAUD), "--stop", "2", archive]))
                walls = [wall for wall, _ in runs]
                wall = statistics.median(walls)
                cpu = statistics.median(c / w for w, c in runs)
                print(f"{what:<18}{wall:>8.3f}{100 * (wall / floor - 1):>7.1f}%"
                      f"{100 * cpu:>6.2f}%{min(walls):>8.3f}{max(walls):>8.3f}")
        finally:
            server.stop()
            sim.stop()


if __name__ == "__main__":
    main()
