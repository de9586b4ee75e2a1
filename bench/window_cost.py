#!/usr/bin/env python3
"""Cost of the window beside torvikel-cli monitor on the same NMEA stream.

The stream is a generated 1 Hz MT3339-like capture: GGA, GSA, three GSV and RMC and VTG
a second. Two measures, each program in turn on a pseudo-terminal registered as com1 in a
private port map directory:

  drain   the stream is written into the terminal as fast as the program on the other end
          reads it; sentences drained per second and the program's CPU over the window;
  paced   torvikel-sim replays the same stream back to back at 115200 baud (--fast), as a
          saturated line delivers it; the program's CPU;
  idle    the window connected to a terminal whose other end never writes; its CPU. Beside
          it, the floor: an empty Qt window waking for the same two timers the window must
          run (200 ms, and 1 s while connected), with nothing to do. What the window costs
          above the floor is its own; the floor is the machine's price of a wake-up, which
          on a virtual machine can be ten times that of real hardware.

CPU is the time the process's threads spent on a CPU over the measuring window, as a share
of one core, from the scheduler's own account (/proc/PID/task/*/schedstat, nanoseconds):
clock ticks are too coarse for a program that should hardly run at all, and wall time means
little on a shared machine. The window runs on the offscreen platform, so no display is
needed.

--baseline DIR adds the window of another build (the one before a change) to every measure.
The runs of the two windows alternate (one of each, then again), so a machine whose load
changes meanwhile weighs on both alike; medians and every run are printed.

Usage: bench/window_cost.py [--build DIR] [--baseline DIR] [--seconds S] [--repeat N]
                            [--only window|cli] [--measures drain,paced,idle]
"""
import argparse
import os
import pty
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import tty

WARMUP_S = 2.0


def checksum(body):
    value = 0
    for c in body.encode("latin-1"):
        value ^= c
    return "%02X" % value


def sentence(body):
    return "$%s*%s\r\n" % (body, checksum(body))


def make_stream(seconds):
    """One burst a second: GGA GSA GSV GSV GSV RMC VTG, twelve satellites in view."""
    sats = [(9, 88, 89), (7, 60, 281), (23, 55, 123), (10, 44, 274), (16, 39, 51), (30, 30, 262),
            (20, 23, 308), (27, 23, 93), (19, 13, 123), (3, 7, 176), (5, 5, 328), (47, 2, 10)]
    out = []
    for t in range(seconds):
        hh, mm, ss = (20 + t // 3600) % 24, (t // 60) % 60, t % 60
        hms = "%02d%02d%02d.000" % (hh, mm, ss)
        lat = "4404.%04d" % (1300 + t % 50)
        lon = "12118.%04d" % (8500 + (t * 3) % 50)
        out.append(sentence("GPGGA,%s,%s,N,%s,W,1,10,0.98,1127.7,M,-19.6,M,,0000" % (hms, lat, lon)))
        out.append(sentence("GPGSA,A,3,20,16,09,03,07,10,23,19,27,30,,,1.64,0.98,1.31"))
        for part in range(3):
            fields = ["GPGSV", "3", str(part + 1), "12"]
            for prn, el, az in sats[part * 4:part * 4 + 4]:
                snr = 15 + (prn * 7 + t) % 30
                fields += ["%02d" % prn, "%02d" % el, "%03d" % az, "%02d" % snr]
            out.append(sentence(",".join(fields)))
        out.append(sentence("GPRMC,%s,A,%s,N,%s,W,0.03,225.97,130415,,,A" % (hms, lat, lon)))
        out.append(sentence("GPVTG,225.97,T,,M,0.03,N,0.05,K,A"))
    return "".join(out).encode("latin-1"), len(out)


def cpu_ns(pid):
    """Time on a CPU, summed over the process's threads, from the scheduler's account."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            pass  # a thread that ended meanwhile
    return total


class Program:
    """The window or the CLI, connected to com1 of a private port map directory."""

    def __init__(self, kind, build, portdir):
        env = dict(os.environ, TORVIKEL_PORT_DIR=portdir, QT_QPA_PLATFORM="offscreen")
        if kind in ("window", "baseline"):
            argv = [os.path.join(build, "app", "torvikel"), "--connect", "--port", "Com1"]
        else:
            argv = [os.path.join(build, "cli", "torvikel-cli"), "monitor", "--json", "--port", "Com1"]
        self.proc = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL,
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class DrainWriter:
    """A receiver that talks faster than any line: writes the stream over and over into the
    master side of a pseudo-terminal, blocked only by the program's reading."""

    def __init__(self, portdir, stream):
        self.master, slave = pty.openpty()
        tty.setraw(slave)
        self.slave = slave
        os.symlink(os.ttyname(slave), os.path.join(portdir, "com1"))
        self.stream = stream
        self.written = 0
        self.stopping = False
        self.connected = threading.Event()
        threading.Thread(target=self._swallow, daemon=True).start()
        threading.Thread(target=self._write, daemon=True).start()

    def _swallow(self):
        # The program's connect queries: their arrival says the port is open and configured.
        while not self.stopping:
            try:
                if os.read(self.master, 4096):
                    self.connected.set()
            except OSError:
                time.sleep(0.05)

    def _write(self):
        self.connected.wait()
        chunk = 16384
        view = memoryview(self.stream)
        pos = 0
        while not self.stopping:
            try:
                n = os.write(self.master, view[pos:pos + chunk])
            except OSError:
                time.sleep(0.05)
                continue
            self.written += n
            pos = (pos + n) % len(self.stream)

    def close(self):
        self.stopping = True
        os.close(self.slave)


def measure(proc, seconds, counter=None):
    time.sleep(WARMUP_S)
    c0, b0, t0 = cpu_ns(proc.pid), counter() if counter else 0, time.monotonic()
    time.sleep(seconds)
    c1, b1, t1 = cpu_ns(proc.pid), counter() if counter else 0, time.monotonic()
    return (c1 - c0) / 1e9 / (t1 - t0) * 100.0, (b1 - b0) / (t1 - t0)


def drain(kind, build, stream, per_byte, seconds):
    portdir = tempfile.mkdtemp(prefix="torvikel-bench-")
    writer = DrainWriter(portdir, stream)
    program = Program(kind, build, portdir)
    try:
        if not writer.connected.wait(20):
            raise RuntimeError("%s did not open the port" % kind)
        cpu, bytes_per_s = measure(program.proc, seconds, lambda: writer.written)
        return bytes_per_s * per_byte, cpu
    finally:
        program.stop()
        writer.close()
        shutil.rmtree(portdir, ignore_errors=True)


def paced(kind, build, stream_path, seconds):
    portdir = tempfile.mkdtemp(prefix="torvikel-bench-")
    sim = subprocess.Popen([os.path.join(build, "sim", "torvikel-sim"), "--com", "1", "--port-dir", portdir,
                            "--baud", "115200", "--replay", stream_path, "--fast", "--loop"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    program = None
    try:
        if not sim.stdout.readline().startswith("torvikel-sim ready"):
            raise RuntimeError("torvikel-sim did not start")
        program = Program(kind, build, portdir)
        cpu, _ = measure(program.proc, seconds)
        return cpu
    finally:
        if program:
            program.stop()
        sim.terminate()
        sim.wait()
        shutil.rmtree(portdir, ignore_errors=True)


def idle(kind, build, seconds):
    portdir = tempfile.mkdtemp(prefix="torvikel-bench-")
    master, slave = pty.openpty()
    tty.setraw(slave)
    os.symlink(os.ttyname(slave), os.path.join(portdir, "com1"))
    connected = threading.Event()
    stopping = []

    def swallow():  # the program's connect queries; never an answer
        while not stopping:
            try:
                if os.read(master, 4096):
                    connected.set()
            except OSError:
                time.sleep(0.05)

    threading.Thread(target=swallow, daemon=True).start()
    program = Program(kind, build, portdir)
    try:
        if not connected.wait(20):
            raise RuntimeError("%s did not open the port" % kind)
        time.sleep(WARMUP_S + 1)  # start-up and the connect queries' replies time out
        n0, t0 = cpu_ns(program.proc.pid), time.monotonic()
        time.sleep(seconds)
        n1, t1 = cpu_ns(program.proc.pid), time.monotonic()
        return (n1 - n0) / 1e9 / (t1 - t0) * 100.0
    finally:
        program.stop()
        stopping.append(True)
        os.close(slave)
        shutil.rmtree(portdir, ignore_errors=True)


def idle_floor(build, seconds):
    """An empty Qt window with the window's two timers: the machine's price of waking up."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    proc = subprocess.Popen([os.path.join(build, "bench", "torvikel_timer_floor")], env=env,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(WARMUP_S + 1)
        n0, t0 = cpu_ns(proc.pid), time.monotonic()
        time.sleep(seconds)
        n1, t1 = cpu_ns(proc.pid), time.monotonic()
        return (n1 - n0) / 1e9 / (t1 - t0) * 100.0
    finally:
        proc.terminate()
        proc.wait()


def runs_line(values, fmt):
    return "(runs: %s)" % " ".join(fmt % v for v in values)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--baseline", help="build directory of the window to compare with")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--idle-seconds", type=float, default=30)
    parser.add_argument("--repeat", type=int, default=1, help="runs of each measure; the median is shown")
    parser.add_argument("--only", choices=["window", "cli"])
    parser.add_argument("--measures", default="drain,paced,idle")
    args = parser.parse_args()
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    needed = [os.path.join(args.build, p) for p in ("app/torvikel", "cli/torvikel-cli", "sim/torvikel-sim")]
    if args.baseline:
        needed.append(os.path.join(args.baseline, "app/torvikel"))
    for path in needed:
        if not os.access(path, os.X_OK):
            sys.exit("build %s first" % path)
    measures = args.measures.split(",")

    stream, count = make_stream(3600)
    per_byte = count / len(stream)
    kinds = [k for k in ("cli", "window") if args.only in (None, k)]
    if args.baseline and "window" in kinds:
        kinds.append("baseline")
    builds = {"cli": args.build, "window": args.build, "baseline": args.baseline}
    names = {"cli": "torvikel-cli monitor --json", "window": "torvikel --connect (offscreen)",
             "baseline": "baseline torvikel (%s)" % args.baseline}
    load = os.getloadavg()[0]
    print("stream: 1 Hz bursts of GGA GSA 3xGSV RMC VTG, %.1f bytes a sentence; %g s a measure, "
          "median of %d%s; load average %.1f on %d cores" % (
              1 / per_byte, args.seconds, args.repeat, ", runs alternating" if args.baseline else "",
              load, os.cpu_count()))

    def alternate(run, among):
        """Runs of each kind in turn, repeat times over: {kind: [results]}."""
        results = {k: [] for k in among}
        for _ in range(args.repeat):
            for kind in among:
                results[kind].append(run(kind))
        return results

    if "drain" in measures:
        print("\ndrained as fast as the program reads")
        print("  %-34s %14s %10s" % ("program", "sentences/s", "CPU"))
        results = alternate(lambda k: drain(k, builds[k], stream, per_byte, args.seconds), kinds)
        for kind in kinds:
            runs = results[kind]
            rate = statistics.median(r[0] for r in runs)
            cpu = statistics.median(r[1] for r in runs)
            print("  %-34s %14.0f %9.1f%%   %s" % (names[kind], rate, cpu,
                                                   runs_line([r[0] for r in runs], "%.0f")), flush=True)

    if "paced" in measures:
        with tempfile.TemporaryDirectory(prefix="torvikel-bench-") as tmp:
            stream_path = os.path.join(tmp, "stream.nmea")
            with open(stream_path, "wb") as f:
                f.write(stream)
            print("\npaced 115200 line (torvikel-sim --replay --fast, about %.0f sentences/s)" % (11520 * per_byte))
            print("  %-34s %25s" % ("program", "CPU"))
            results = alternate(lambda k: paced(k, builds[k], stream_path, args.seconds), kinds)
            for kind in kinds:
                print("  %-34s %24.2f%%   %s" % (names[kind], statistics.median(results[kind]),
                                                 runs_line(results[kind], "%.2f")), flush=True)

    windows = [k for k in kinds if k != "cli"]
    if "idle" in measures and windows:
        print("\nidle: connected to a receiver that says nothing, %g s a measure" % args.idle_seconds)
        print("  %-34s %25s" % ("program", "CPU"))
        floor = os.path.join(args.build, "bench", "torvikel_timer_floor")
        if os.access(floor, os.X_OK):
            windows.append("floor")
            names["floor"] = "floor: empty Qt window, same timers"
        results = alternate(lambda k: idle_floor(args.build, args.idle_seconds) if k == "floor"
                            else idle(k, builds[k], args.idle_seconds), windows)
        for kind in windows:
            print("  %-34s %24.3f%%   %s" % (names[kind], statistics.median(results[kind]),
                                             runs_line(results[kind], "%.3f")), flush=True)

if __name__ == "__main__":
    main()
