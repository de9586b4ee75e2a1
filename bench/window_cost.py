#!/usr/bin/env python3
"""Cost of the window beside torvikel-cli monitor on the same NMEA stream.

The stream is a generated 1 Hz MT3339-like capture: GGA, GSA, three GSV and RMC and VTG
a second. Two measures, each program in turn on a pseudo-terminal registered as com1 in a
private port map directory:

  drain   the stream is written into the terminal as fast as the program on the other end
          reads it; sentences drained per second and the program's CPU over the window;
  paced   torvikel-sim replays the same stream back to back at 115200 baud (--fast), as a
          saturated line delivers it; the program's CPU.

CPU is the process's own user+system time (all its threads) from /proc/PID/stat over the
measuring window, as a share of one core: wall time means little on a shared machine. The
window runs on the offscreen platform, so no display is needed.

Usage: bench/window_cost.py [--build DIR] [--seconds S] [--repeat N] [--only window|cli]
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

TICKS = os.sysconf("SC_CLK_TCK")
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


def cpu_ticks(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])  # utime, stime (fields 14 and 15)


class Program:
    """The window or the CLI, connected to com1 of a private port map directory."""

    def __init__(self, kind, build, portdir):
        env = dict(os.environ, TORVIKEL_PORT_DIR=portdir, QT_QPA_PLATFORM="offscreen")
        if kind == "window":
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
    c0, b0, t0 = cpu_ticks(proc.pid), counter() if counter else 0, time.monotonic()
    time.sleep(seconds)
    c1, b1, t1 = cpu_ticks(proc.pid), counter() if counter else 0, time.monotonic()
    return (c1 - c0) / TICKS / (t1 - t0) * 100.0, (b1 - b0) / (t1 - t0)


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


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build/release")
    parser.add_argument("--seconds", type=float, default=10)
    parser.add_argument("--repeat", type=int, default=1, help="runs of each measure; the median is shown")
    parser.add_argument("--only", choices=["window", "cli"])
    args = parser.parse_args()
    os.chdir(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    for path in ("app/torvikel", "cli/torvikel-cli", "sim/torvikel-sim"):
        if not os.access(os.path.join(args.build, path), os.X_OK):
            sys.exit("build %s first" % os.path.join(args.build, path))

    stream, count = make_stream(3600)
    per_byte = count / len(stream)
    kinds = [k for k in ("cli", "window") if args.only in (None, k)]
    names = {"cli": "torvikel-cli monitor --json", "window": "torvikel --connect (offscreen)"}
    load = os.getloadavg()[0]
    print("stream: 1 Hz bursts of GGA GSA 3xGSV RMC VTG, %.1f bytes a sentence; %g s a measure, "
          "median of %d; load average %.1f on %d cores" % (1 / per_byte, args.seconds, args.repeat, load,
                                                          os.cpu_count()))
    print("\ndrained as fast as the program reads")
    print("  %-34s %14s %10s" % ("program", "sentences/s", "CPU"))
    for kind in kinds:
        runs = [drain(kind, args.build, stream, per_byte, args.seconds) for _ in range(args.repeat)]
        rate = statistics.median(r[0] for r in runs)
        cpu = statistics.median(r[1] for r in runs)
        print("  %-34s %14.0f %9.1f%%" % (names[kind], rate, cpu), flush=True)

    with tempfile.TemporaryDirectory(prefix="torvikel-bench-") as tmp:
        stream_path = os.path.join(tmp, "stream.nmea")
        with open(stream_path, "wb") as f:
            f.write(stream)
        print("\npaced 115200 line (torvikel-sim --replay --fast, about %.0f sentences/s)" % (11520 * per_byte))
        print("  %-34s %25s" % ("program", "CPU"))
        for kind in kinds:
            cpu = statistics.median(paced(kind, args.build, stream_path, args.seconds) for _ in range(args.repeat))
            print("  %-34s %24.2f%%" % (names[kind], cpu), flush=True)
    print("  (idle cost: bench/idle_cost.sh)")


if __name__ == "__main__":
    main()
