"""The collection server with many modems: `kve17ctl serve` with 200 lines, called by simulated
modems. Prints the server's memory and CPU with no modem, with one modem reading a whole archive
at 115200 baud (wall time against the line's floor), with 169 modems connected and idle, while 31
more read at 115200 at the same time, and with all 200 connected and idle."""
import os
import subprocess
import sys
import tempfile
import threading
import time

from line_bench import floor_s

MODEMS = 200
READING_AT_ONCE = 31
BAUD = 115200


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def cpu_s(pid):
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class Server:
    """kve17ctl serve; its standard error kept with the time each line came."""

    def __init__(self, build, folder):
        config = os.path.join(folder, "modems.conf")
        with open(config, "w") as f:
            f.write(f"listen = 127.0.0.1:0\ndir = {folder}/arch\nhistory = off\n")
            for i in range(1, MODEMS + 1):
                f.write(f"[s{i:03d}]\nmodem = m{i:03d}\ndevice = 1\nevery = 1d\n")
        self.proc = subprocess.Popen([f"{build}/tools/ctl/kve17ctl", "serve", "--config", config,
                                      "--max-connections", "1000"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        self.lines = []
        self.lock = threading.Lock()
        first = self.proc.stderr.readline()
        if "listening on" not in first:
            sys.exit("kve17ctl serve did not start: " + first)
        self.port = first.rsplit(":", 1)[1].strip()
        threading.Thread(target=self.pump, daemon=True).start()

    def pump(self):
        for line in self.proc.stderr:
            with self.lock:
                self.lines.append((time.monotonic(), line))

    def when(self, text):
        with self.lock:
            return [t for t, line in self.lines if text in line]

    def wait_for(self, text, count, patience):
        deadline = time.monotonic() + patience
        while len(self.when(text)) < count:
            if time.monotonic() > deadline:
                sys.exit(f"timed out waiting for {count} x '{text}'")
            time.sleep(0.05)

    def stop(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)


def dial(build, folder, port, first, count, paced):
    args = [f"{build}/tools/sim/kve17-sim", "--port-dir", f"{folder}/ports", "--devices", "1",
            "--seed", "7", "--dial", f"127.0.0.1:{port}"]
    args += ["--baud", str(BAUD), "--parity", "E"] if paced else ["--no-pacing"]
    for i in range(first, first + count):
        args += ["--register", f"m{i:03d}"]
    return subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def sample(server, seconds):
    """Memory (KiB) at the end and CPU share over `seconds`."""
    pid = server.proc.pid
    start, used = time.monotonic(), cpu_s(pid)
    time.sleep(seconds)
    return rss_kib(pid), (cpu_s(pid) - used) / (time.monotonic() - start)


def reading_seconds(server, name):
    start = server.when(f"modem {name} (line")[0]
    done = server.when(f"modem {name} (line s{name[1:]}): 1 of 1 devices read")[0]
    return done - start


def main():
    build = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        server = Server(build, folder)
        sims = []
        try:
            rows = [("no modem",) + sample(server, 3)]
            sims.append(dial(build, folder, server.port, 1, 1, paced=True))
            server.wait_for("1 of 1 devices read", 1, 60)
            single = reading_seconds(server, "m001")
            sims.append(dial(build, folder, server.port, 2, MODEMS - READING_AT_ONCE - 1, False))
            server.wait_for("1 of 1 devices read", MODEMS - READING_AT_ONCE, 300)
            rows.append((f"{MODEMS - READING_AT_ONCE} connected, idle",) + sample(server, 5))
            first = MODEMS - READING_AT_ONCE + 1
            sims.append(dial(build, folder, server.port, first, READING_AT_ONCE, paced=True))
            server.wait_for("identified", MODEMS, 60)
            reading = sample(server, 1.5)
            server.wait_for("1 of 1 devices read", MODEMS, 300)
            rows.append((f"{MODEMS - READING_AT_ONCE} idle + {READING_AT_ONCE} reading",) + reading)
            rows.append((f"{MODEMS} connected, idle",) + sample(server, 5))
            times = sorted(reading_seconds(server, f"m{i:03d}")
                           for i in range(first, MODEMS + 1))
        finally:
            for sim in sims:
                sim.terminate()
                sim.wait(timeout=30)
            server.stop()
    floor = floor_s(62, BAUD)
    print(f"kve17ctl serve, {MODEMS} modems on the loopback, one device each")
    print("| state | server RSS MiB | CPU share |")
    print("|---|---|---|")
    for state, rss, cpu in rows:
        print(f"| {state} | {rss / 1024:.1f} | {cpu * 100:.1f} % |")
    per = (rows[-1][1] - rows[0][1]) / MODEMS
    print(f"memory per connected modem: {per:.0f} KiB")
    print(f"one modem alone, whole archive at {BAUD}: {single:.3f} s, floor {floor:.3f} s, "
          f"{(single / floor - 1) * 100:.1f} % over")
    print(f"{READING_AT_ONCE} at once: median {times[len(times) // 2]:.3f} s, "
          f"slowest {times[-1]:.3f} s ({(times[-1] / floor - 1) * 100:.1f} % over the floor)")


if __name__ == "__main__":
    main()
