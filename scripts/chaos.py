#!/usr/bin/env python3
"""Collects a simulated line while things fail, then checks the history against what the
devices made.

The simulator's devices add events all the time, also while they are being read, and journal
every event they make. Meanwhile `kve17ctl collect` is run over and over: sometimes it is
killed with SIGKILL at a random moment, sometimes the history's database is locked, full or
stopped while it runs, and now and then the devices make more events at once than their ring
holds, so that events are overwritten before anyone reads them. At the end the faults are
lifted, the line is collected once more, and the history must hold every event the devices
its archive file still held then, each exactly once and in order, with every event that was
overwritten unread inside a marked gap. (A file holds a little less than the device's ring when
a reading repeated records because the ring moved while it was read; the oldest events the
device still holds can then have left the file before any reading could write them to the
history. Those must lie inside a gap too, and are counted apart.)

Run by scripts/chaos.sh, which starts the PostgreSQL server and passes its settings in the
environment (KVE17_CHAOS_PG_URL, KVE17_CHAOS_PG_CTL, KVE17_CHAOS_PG_DATA, KVE17_CHAOS_AS_PG).
"""

import argparse
import json
import os
import random
import shlex
import signal
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time

DEVICES = [1, 2, 3, 4]
RING = 988  # records an archive file lists at most: 992 slots less four end markers
BURST = 992  # a whole ring: what a device held before is overwritten unread
GROW = 2  # events each device makes every second


class Chaos:
    def __init__(self, args, backend, workdir):
        self.args = args
        self.backend = backend
        self.work = workdir
        self.random = random.Random(args.seed)
        self.ctl = os.path.join(args.build, "tools/ctl/kve17ctl")
        self.sim_program = os.path.join(args.build, "tools/sim/kve17-sim")
        self.journal = os.path.join(workdir, "journal.txt")
        self.config = os.path.join(workdir, "collect.conf")
        self.env = dict(os.environ)
        run = os.path.join(workdir, "run")
        os.makedirs(run, mode=0o700)
        self.env["XDG_RUNTIME_DIR"] = run
        self.env["XDG_DATA_HOME"] = os.path.join(workdir, "data")
        self.counts = {}
        self.tally = {"runs": 0, "killed": 0, "failed": 0, "history failed": 0, "bursts": 0}
        self.mount = None
        self.filler = None
        if backend == "sqlite":
            self.history = self.sqlite_place()
        else:
            self.history = os.environ["KVE17_CHAOS_PG_URL"]

    # --- the history's place and its faults ---------------------------------------------
    def sqlite_place(self):
        folder = os.path.join(self.work, "history")
        os.makedirs(folder)
        # A small file system of its own, so that the history's disk can be filled for real
        # while the archive files, elsewhere, still save. Without the right to mount, only the
        # file size limit stands in for a full disk.
        if os.geteuid() == 0:
            done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=48m", "tmpfs", folder],
                                  capture_output=True)
            if done.returncode == 0:
                self.mount = folder
        return os.path.join(folder, "history.sqlite")

    def fill_disk(self):
        if not self.mount:
            return False
        self.filler = os.path.join(self.mount, "filler")
        # Unbuffered: a buffered file would raise the full disk again when it is closed.
        fd = os.open(self.filler, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        block = b"\0" * 65536
        try:
            while os.write(fd, block) > 0:
                pass
        except OSError:
            pass
        finally:
            os.close(fd)
        return True

    def free_disk(self):
        if self.filler and os.path.exists(self.filler):
            os.remove(self.filler)
        self.filler = None

    def pg(self, action):
        prefix = shlex.split(os.environ.get("KVE17_CHAOS_AS_PG", ""))
        data = os.environ["KVE17_CHAOS_PG_DATA"]
        command = prefix + [os.environ["KVE17_CHAOS_PG_CTL"], "-D", data, "-w"]
        running = subprocess.run(command + ["status"], capture_output=True).returncode == 0
        if action == "stop" and running:
            subprocess.run(command + ["-m", "immediate", "stop"], capture_output=True)
        elif action == "start" and not running:
            done = subprocess.run(command + ["-l", data + "/../server.log", "-o",
                                             os.environ["KVE17_CHAOS_PG_OPTIONS"], "start"],
                                  capture_output=True, text=True)
            if done.returncode != 0:
                raise SystemExit("chaos: the PostgreSQL server does not start again: " +
                                 done.stdout + done.stderr)

    def hold_sqlite_lock(self, seconds):
        """Holds the history's write lock for a while, as another writer would."""
        if not os.path.exists(self.history):
            return None
        ready = threading.Event()

        def hold():
            db = sqlite3.connect(self.history, timeout=30, isolation_level=None)
            try:
                db.execute("BEGIN IMMEDIATE")
                ready.set()
                time.sleep(seconds)
                db.execute("ROLLBACK")
            finally:
                ready.set()
                db.close()

        thread = threading.Thread(target=hold)
        thread.start()
        ready.wait(35)
        return thread

    # --- the line ------------------------------------------------------------------------
    def start_sim(self, seconds):
        command = [self.sim_program, "--devices", "1-4", "--young", "1-4:0",
                   "--grow", str(GROW), "--grow-for", str(seconds), "--burst", str(BURST),
                   "--journal", self.journal]
        self.sim = subprocess.Popen(command, stdout=subprocess.PIPE, env=self.env, text=True)
        first = self.sim.stdout.readline().split()
        if len(first) != 2:
            raise SystemExit("chaos: the simulator did not start")
        self.port = first[0]
        # The simulator says "grown" after a burst; read it so its pipe never fills.
        threading.Thread(target=lambda: [None for _ in self.sim.stdout], daemon=True).start()
        with open(self.config, "w") as f:
            f.write(f"history = {self.history}\n")
            f.write(f"dir = {os.path.join(self.work, 'archive')}\n")
            f.write("baud = 115200\nwait = 30\n\n[chaos]\n")
            f.write(f"port = {self.port}\ndevice = 1-4\n")

    def stop_sim(self):
        self.sim.send_signal(signal.SIGTERM)
        self.sim.wait(30)

    def collect(self, kill_after=None, limit=None):
        """One collection; returns its exit status, or None when it was killed."""
        self.tally["runs"] += 1

        def limits():
            if limit is not None:
                import resource
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        process = subprocess.Popen([self.ctl, "collect", "--config", self.config, "--json"],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                   env=self.env, preexec_fn=limits)
        try:
            process.wait(timeout=kill_after)
        except subprocess.TimeoutExpired:
            process.kill()
            process.communicate()
            self.tally["killed"] += 1
            return None
        out, err = process.communicate(timeout=120)
        if process.returncode != 0:
            self.tally["failed"] += 1
        self.tally["history failed"] += history_failures(out)
        if self.args.verbose and process.returncode != 0:
            sys.stderr.write(err.decode(errors="replace"))
        return process.returncode

    # --- the campaign --------------------------------------------------------------------
    def run(self):
        seconds = self.args.seconds
        self.start_sim(seconds)
        try:
            deadline = time.monotonic() + seconds
            bursts = max(1, seconds // 60)
            burst_at = sorted(self.random.uniform(0.2, 0.8) * seconds for _ in range(bursts))
            began = time.monotonic()
            while time.monotonic() < deadline:
                if burst_at and time.monotonic() - began >= burst_at[0]:
                    burst_at.pop(0)
                    self.sim.send_signal(signal.SIGUSR1)
                    self.tally["bursts"] += 1
                    time.sleep(0.5)
                self.step()
            # The growth has stopped by now; the last words go to a healthy history.
            time.sleep(1.5)
            self.free_disk()
            if self.backend == "postgresql":
                self.pg("start")
            finals = [self.collect(), self.collect()]
            if finals[-1] != 0:
                print(f"chaos: the last collection ended with status {finals[-1]}")
                return False
        finally:
            self.stop_sim()
            self.free_disk()
        return self.check()

    def step(self):
        choice = self.random.random()
        kill = self.random.uniform(0.05, 4.0)
        if choice < 0.35:
            self.collect(kill_after=kill)
        elif choice < 0.55:
            self.collect()
        elif self.backend == "sqlite" and choice < 0.7:
            holder = self.hold_sqlite_lock(self.random.uniform(0.5, 8))
            self.collect(kill_after=self.random.choice([None, kill * 3]))
            if holder:
                holder.join()
        elif self.backend == "sqlite" and choice < 0.85:
            if self.fill_disk():
                self.collect(kill_after=self.random.choice([None, kill]))
                self.free_disk()
            else:
                size = os.path.getsize(self.history) if os.path.exists(self.history) else 0
                self.collect(limit=max(size, 65536))
        elif self.backend == "sqlite":
            self.collect(kill_after=kill, limit=None)
        else:
            # The server goes away before or during the collection, and comes back after.
            if self.random.random() < 0.5:
                self.pg("stop")
                self.collect(kill_after=self.random.choice([None, kill]))
            else:
                stopper = threading.Timer(self.random.uniform(0.1, 2.0), self.pg, ["stop"])
                stopper.start()
                self.collect()
                stopper.join()
            self.pg("start")

    # --- the comparison ------------------------------------------------------------------
    def made(self):
        """What each device made, oldest first: its records as an archive file holds them."""
        events = {d: [] for d in DEVICES}
        with open(self.journal) as f:
            for line in f:
                address, record = line.split()
                events[int(address)].append(as_stored(bytes.fromhex(record)))
        return events

    def stored(self, device):
        """The history of one device, oldest first: events as keys, gaps as None."""
        listing = subprocess.run(
            [self.ctl, "history", "--history", self.history, "--device", str(device), "--json"],
            capture_output=True, env=self.env, text=True)
        if listing.returncode != 0:
            raise SystemExit("chaos: the history cannot be listed: " + listing.stderr)
        rows = json.loads(listing.stdout)
        rows.sort(key=order_key)
        return [None if is_gap(row) else event_key(row) for row in rows]

    def in_file(self, device):
        """The events the device's archive file holds now, keyed as the history keys them."""
        path = os.path.join(self.work, "archive", "chaos", f"device-{device:02d}.dat")
        listing = subprocess.run([self.ctl, "show", "--json", path], capture_output=True,
                                 env=self.env, text=True)
        if listing.returncode != 0:
            raise SystemExit("chaos: the archive file cannot be listed: " + listing.stderr)
        keys = set()
        for row in json.loads(listing.stdout):
            day, month, year = row["date"].split(".")
            keys.add((f"20{year}-{month}-{day} {row['time']}", row["code"], row["detail"]))
        return keys

    def check(self):
        made = self.made()
        ok = True
        totals = {"made": 0, "stored": 0, "duplicated": 0, "out of order": 0,
                  "lost outside gaps": 0, "missing from the last file": 0, "gaps": 0,
                  "overwritten in gaps": 0, "left the file unwritten, in gaps": 0}
        for device in DEVICES:
            result = compare(made[device], self.stored(device), self.in_file(device))
            for key in totals:
                totals[key] += result[key]
        print(f"chaos ({self.backend}): " + ", ".join(f"{k} {v}" for k, v in totals.items()))
        print("chaos: runs " + ", ".join(f"{k} {v}" for k, v in self.tally.items()))
        for bad in ("duplicated", "out of order", "lost outside gaps",
                    "missing from the last file"):
            if totals[bad]:
                ok = False
        if totals["stored"] == 0:
            print("chaos: the history holds nothing")
            ok = False
        return ok


def as_stored(record):
    """A record as the reading stores it: an out-of-range time stamp is marked with code 0xFF."""
    code, detail, second, minute, hour, day, month, year = record
    valid = (hour <= 23 and minute <= 59 and second <= 59 and 1 <= day <= 31 and
             1 <= month <= 12 and 1 <= year <= 99)
    if not valid:
        code = 0xFF
    return (f"20{year:02d}-{month:02d}-{day:02d} {hour:02d}:{minute:02d}:{second:02d}",
            code, detail)


def history_failures(out):
    """The readings whose file was saved but whose history was not written, by collect --json."""
    try:
        summary = json.loads(out)
    except ValueError:
        return 0
    return sum(1 for line in summary.get("lines", []) for device in line.get("devices", [])
               if (device.get("history") or {}).get("written") is False)


def is_gap(row):
    return row.get("gap") is True


def order_key(row):
    # A gap lies after the event it follows.
    if is_gap(row):
        return (row["after_seq"], 1)
    return (row["seq"], 0)


def event_key(row):
    return (row["time"], row["code"], row["detail"])


def compare(made, stored, in_file):
    """Counts what the history did with the events a device made (both oldest first), given
    the events its archive file holds at the end."""
    where = {}
    for i, event in enumerate(made):
        where.setdefault(event, i)
    result = {"made": len(made), "stored": 0, "duplicated": 0, "out of order": 0,
              "lost outside gaps": 0, "missing from the last file": 0, "gaps": 0,
              "overwritten in gaps": 0, "left the file unwritten, in gaps": 0}
    gap_before = set()  # the indices of the events a gap stands for
    seen = set()
    last = -1
    gap_open = False
    for item in stored:
        if item is None:
            result["gaps"] += 1
            gap_open = True
            continue
        index = where.get(item)
        if index is None or index in seen:
            result["duplicated"] += 1
            continue
        seen.add(index)
        result["stored"] += 1
        if index < last:
            result["out of order"] += 1
            continue
        skipped = index - last - 1 if last >= 0 else 0
        if gap_open:
            result["overwritten in gaps"] += skipped
            gap_before.update(range(last + 1, index))
        else:
            result["lost outside gaps"] += skipped
        gap_open = False
        last = index
    # What the file held at the end must all be there; what the device still held but its file
    # no longer did, inside a gap.
    for index in range(max(0, len(made) - RING), len(made)):
        if index in seen:
            continue
        if made[index] in in_file:
            result["missing from the last file"] += 1
        elif index in gap_before:
            result["left the file unwritten, in gaps"] += 1
        else:
            result["lost outside gaps"] += 1
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build")
    parser.add_argument("--seconds", type=int, default=60)
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--backend", choices=["sqlite", "postgresql", "both"], default="both")
    parser.add_argument("--verbose", action="store_true")
    args = parser.parse_args()
    print(f"chaos: seed {args.seed}, {args.seconds} s per history")
    backends = ["sqlite", "postgresql"] if args.backend == "both" else [args.backend]
    ok = True
    for backend in backends:
        with tempfile.TemporaryDirectory(prefix="kve17-chaos.") as work:
            chaos = Chaos(args, backend, work)
            try:
                ok = chaos.run() and ok
            finally:
                if chaos.mount:
                    subprocess.run(["umount", "-l", chaos.mount])
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
