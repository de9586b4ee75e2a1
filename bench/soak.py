#!/usr/bin/env python3
"""A long run of the window and torvikel-cli log against simulated receivers with faults.

Two simulated receivers replay a real capture back to back at 115200 baud (--fast --loop: a
saturated line), every fault of the periodic output at a few percent (bad, lower-case and
one-digit checksums, NUL bytes, garbage, long runs without "$", split sentences):

  com1  the window, connected with --connect on the offscreen platform, for the whole run;
  com2  torvikel-cli log --reconnect FILE; this receiver is pulled out and plugged in again
        every --unplug-every seconds (SIGUSR1 to torvikel-sim, a new terminal under com2).

Every minute it prints, for both programs, the resident memory, the open descriptors and
the threads, and for the logger the sentences in its file against the sentences the second
receiver's terminal took (torvikel-sim --record-sent): both counted here by one rule of our
own (a piece from "$" whose XOR matches the one or two hex digits after its "*"), so that a
sentence the logger dropped shows as a difference. What was on the line at the moment of a
pull-out may be lost, as on a real line; the run says how many went at each pull.

This is no test: it takes an hour by default and prints figures to read.

Usage: bench/soak.py [--build DIR] [--minutes M] [--unplug-every S] [--fault P]
                     [--capture FILE]
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
SENTENCE = re.compile(rb"\$([^$*\r\n]*)\*([0-9A-Fa-f]{1,2})")


def valid_sentences(data):
    count = 0
    for match in SENTENCE.finditer(data):
        body, digits = match.group(1), match.group(2)
        total = 0
        for b in body:
            total ^= b
        if int(digits, 16) == total:
            count += 1
    return count


class Counter:
    """Valid sentences of a growing file, read as it grows (a piece cut by the end of what
    has been written so far is read again with the rest)."""

    def __init__(self, path):
        self.path = path
        self.offset = 0
        self.count = 0

    def update(self):
        try:
            with open(self.path, "rb") as f:
                f.seek(self.offset)
                data = f.read()
        except FileNotFoundError:
            return self.count
        last = data.rfind(b"$")
        whole = data[:last] if last >= 0 else data
        self.count += valid_sentences(whole)
        self.offset += len(whole)
        return self.count


def proc_figures(pid):
    rss_kb = threads = 0
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    rss_kb = int(line.split()[1])
                elif line.startswith("Threads:"):
                    threads = int(line.split()[1])
        fds = len(os.listdir("/proc/%d/fd" % pid))
    except (FileNotFoundError, ProcessLookupError):
        return None
    return rss_kb, fds, threads


def start_sim(build, portdir, com, seed, fault, capture, sent=None):
    argv = [os.path.join(build, "sim", "torvikel-sim"), "--com", str(com), "--port-dir", portdir,
            "--replay", capture, "--fast", "--loop", "--seed", str(seed),
            "--bad-checksum", str(fault), "--lower-checksum", str(fault), "--one-digit-checksum", str(fault),
            "--nul", str(fault), "--garbage", str(fault), "--split", str(fault),
            "--long-run", str(fault / 10), "--long-run-bytes", "2000"]
    if sent:
        argv += ["--record-sent", sent]
    sim = subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    line = sim.stdout.readline()
    if not line.startswith("torvikel-sim ready"):
        raise RuntimeError("torvikel-sim did not start: " + line)
    return sim


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build", "release"))
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--unplug-every", type=float, default=300)
    parser.add_argument("--fault", type=float, default=0.03)
    parser.add_argument("--capture", default=os.path.join(ROOT, "tests", "data", "mt3339.log"))
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="torvikel-soak-") as tmp:
        portdir = os.path.join(tmp, "ports")
        os.mkdir(portdir)
        sent_path = os.path.join(tmp, "sent-com2.bin")
        log_path = os.path.join(tmp, "log-com2.nmea")
        env = dict(os.environ, TORVIKEL_PORT_DIR=portdir, QT_QPA_PLATFORM="offscreen")
        sims = [start_sim(args.build, portdir, 1, 1, args.fault, args.capture),
                start_sim(args.build, portdir, 2, 2, args.fault, args.capture, sent_path)]
        window = subprocess.Popen([os.path.join(args.build, "app", "torvikel"), "--connect", "--port", "Com1"],
                                  env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        logger = subprocess.Popen([os.path.join(args.build, "cli", "torvikel-cli"), "log", "--port", "Com2",
                                   "--reconnect", log_path], env=env, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        sent = Counter(sent_path)
        logged = Counter(log_path)
        start = time.monotonic()
        next_report = start + 60
        next_pull = start + args.unplug_every
        end = start + args.minutes * 60
        pulls = []
        print("minute  window: RSS kB  fds  threads   logger: RSS kB  fds  threads   sent  logged  difference",
              flush=True)
        try:
            while time.monotonic() < end:
                now = time.monotonic()
                if now >= next_pull:
                    before = (sent.update(), logged.update())
                    sims[1].send_signal(signal.SIGUSR1)  # pulled out
                    time.sleep(2)
                    gone = (sent.update(), logged.update())
                    sims[1].send_signal(signal.SIGUSR1)  # plugged in again
                    pulls.append((round((now - start) / 60, 1), before, gone))
                    next_pull += args.unplug_every
                if now >= next_report:
                    w = proc_figures(window.pid) or (0, 0, 0)
                    c = proc_figures(logger.pid) or (0, 0, 0)
                    s, l = sent.update(), logged.update()
                    print("%6.0f  %14d %4d %8d   %14d %4d %8d   %6d  %6d  %10d" %
                          ((now - start) / 60, w[0], w[1], w[2], c[0], c[1], c[2], s, l, s - l), flush=True)
                    next_report += 60
                if window.poll() is not None or logger.poll() is not None:
                    print("a program ended early: window %s, logger %s" % (window.poll(), logger.poll()))
                    break
                time.sleep(0.5)
        finally:
            # The logger's receiver goes first, so everything it sent has reached the file
            # when the counts are taken.
            sims[1].send_signal(signal.SIGUSR1)
            time.sleep(3)
            s, l = sent.update(), logged.update()
            logger.send_signal(signal.SIGINT)
            window.send_signal(signal.SIGTERM)
            for p in (logger, window):
                try:
                    p.wait(20)
                except subprocess.TimeoutExpired:
                    p.kill()
            for sim in sims:
                sim.send_signal(signal.SIGTERM)
                sim.wait(20)
        print("\nend: %d sentences sent to the logger's terminal, %d in its file, %d missing" % (s, l, s - l))
        for minute, before, gone in pulls:
            print("pull-out at minute %5.1f: missing before %d, after the pull %d" %
                  (minute, before[0] - before[1], gone[0] - gone[1]))
        print("logger exit %s; its standard error:\n%s" % (logger.returncode, logger.stderr.read()))
        print("window exit %s" % window.returncode)


if __name__ == "__main__":
    sys.exit(main())
