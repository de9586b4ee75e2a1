#!/usr/bin/env python3
"""The core pipeline beside gpsd's gpsdecode on one long NMEA stream.

The stream is the generated 1 Hz MT3339-like capture of window_cost.py (GGA, GSA, three GSV,
RMC and VTG a second, twelve satellites in view, times and positions advancing), 200,000
seconds of it by default: 1.4 million sentences, 92.6 MB, the same bytes on every run. It is
written once to a file in a private temporary folder (removed at the end) or to --keep.

Each program reads the file on its standard input, its output thrown away:
  torvikel   BUILD/bench/torvikel_pipeline_file: cutting, checksum, split, dispatch, every
             parser and the chart step of each completed cycle (NmeaSession::handle and
             TakeChartSatellites, as bench_pipeline.cpp's WholePipeline);
  baseline   the same program of another build (--baseline DIR), e.g. the one before a change;
  gpsdecode  gpsdecode < stream > /dev/null, gpsd's decoder writing its JSON reports.

The programs run in rounds, one run of each per round, the order turned by one place each
round, so that a machine whose load changes meanwhile weighs on all alike. Every run's wall
time and CPU time (user + system, from the kernel's account of the child) is printed, then
the medians and how many times faster than gpsdecode our program is, by the medians and as
the median of the rounds' own ratios. On a machine shared with other work CPU time is the
steadier measure; wall time is the one a person waits for.

The runs of torvikel and baseline must print the same counts and last texts; the script stops
if they differ, as the two builds would not have done the same work.

Usage: bench/vs_gpsdecode.py [--build DIR] [--baseline DIR] [--rounds N] [--seconds S]
                             [--keep FILE] [--stream FILE]
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from window_cost import make_stream  # noqa: E402  the one generator of this stream


def run_once(argv, stream_path, keep_output):
    """Wall seconds of one run, and what it printed (gpsdecode's reports go to /dev/null)."""
    with open(stream_path, "rb") as stream:
        start = time.perf_counter()
        proc = subprocess.Popen(argv, stdin=stream, stdout=subprocess.PIPE if keep_output else subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        out, err = proc.communicate()
        wall = time.perf_counter() - start
    return wall, out, err, proc.returncode


class Program:
    def __init__(self, name, argv):
        self.name = name
        self.argv = argv
        self.walls = []
        self.cpus = []
        self.output = None

    def run(self, stream_path):
        # The children's account grows by this run alone: runs never overlap.
        before = os.times()
        wall, out, err, code = run_once(self.argv, stream_path, self.name != "gpsdecode")
        after = os.times()
        if code != 0:
            sys.exit("%s failed (exit %d): %s" % (self.name, code, err.decode(errors="replace")))
        cpu = (after.children_user - before.children_user) + (after.children_system - before.children_system)
        self.walls.append(wall)
        self.cpus.append(cpu)
        if self.name != "gpsdecode":
            if self.output is None:
                self.output = out
            elif out != self.output:
                sys.exit("%s printed something else this time:\n%s" % (self.name, out.decode(errors="replace")))
        return wall, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    here = os.path.dirname(os.path.abspath(__file__))
    parser.add_argument("--build", default=os.path.join(here, "..", "build", "release"))
    parser.add_argument("--baseline", help="another build directory whose program runs beside")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--seconds", type=int, default=200000, help="seconds of receiver output")
    parser.add_argument("--keep", help="write the stream here and leave it")
    parser.add_argument("--stream", help="use this stream file instead of generating one")
    args = parser.parse_args()

    gpsdecode = shutil.which("gpsdecode")
    if gpsdecode is None:
        sys.exit("gpsdecode not found (Debian package gpsd-clients; scripts/install-deps.sh installs it)")
    programs = [Program("torvikel", [os.path.join(args.build, "bench", "torvikel_pipeline_file")])]
    if args.baseline:
        programs.append(Program("baseline", [os.path.join(args.baseline, "bench", "torvikel_pipeline_file")]))
    programs.append(Program("gpsdecode", [gpsdecode]))
    for program in programs:
        if not os.access(program.argv[0], os.X_OK):
            sys.exit("%s not found: build the target torvikel_pipeline_file" % program.argv[0])

    folder = None
    try:
        if args.stream:
            stream_path = args.stream
        else:
            data, sentences = make_stream(args.seconds)
            if args.keep:
                stream_path = args.keep
            else:
                folder = tempfile.mkdtemp(prefix="vs_gpsdecode-")
                stream_path = os.path.join(folder, "stream.nmea")
            with open(stream_path, "wb") as f:
                f.write(data)
            print("stream: %d sentences, %d bytes, %d seconds at 1 Hz" % (sentences, len(data), args.seconds))

        for r in range(args.rounds):
            turn = r % len(programs)
            for program in programs[turn:] + programs[:turn]:
                wall, cpu = program.run(stream_path)
                print("round %d  %-9s  wall %7.3f s  cpu %7.3f s" % (r + 1, program.name, wall, cpu), flush=True)
    finally:
        if folder:
            shutil.rmtree(folder, ignore_errors=True)

    print()
    print(programs[0].output.decode(errors="replace").rstrip())
    print()
    print("%-9s  %13s  %13s" % ("median", "wall [s]", "cpu [s]"))
    for program in programs:
        print("%-9s  %13.3f  %13.3f" % (program.name, statistics.median(program.walls), statistics.median(program.cpus)))
    reference = programs[-1]
    for program in programs[:-1]:
        for measure in ("walls", "cpus"):
            ours = getattr(program, measure)
            theirs = getattr(reference, measure)
            by_medians = statistics.median(theirs) / statistics.median(ours)
            by_rounds = statistics.median(t / o for t, o in zip(theirs, ours))
            print("%s is %.2fx faster than gpsdecode by %s (medians; %.2fx as the median of the rounds' ratios)"
                  % (program.name, by_medians, "wall time" if measure == "walls" else "CPU time", by_rounds))


if __name__ == "__main__":
    main()
