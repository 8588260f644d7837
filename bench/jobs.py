#!/usr/bin/env python3
"""clipsum -j on a Maildir of 100,000 generated messages (half of them with an
attachment of 2 to 6 kB), side by side with the limit reading the same files
with as many threads: each whole command, median of 5 runs, one job and then
every core. Generates the Maildir once into BUILD/inputs/maildir (about 330 MB).

    bench/jobs.py --build build/bench --clipsum build/native/clipsum
"""

import argparse
import os
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from mailboxes import write_maildir  # noqa: E402

RUNS = 5
MESSAGES = 100000


def measure(measurer, argv):
    """Median wall time and peak resident memory of argv, run RUNS times."""
    times, peaks = [], []
    for _ in range(RUNS):
        line = subprocess.run([measurer, *argv], stdout=subprocess.PIPE, check=True, text=True).stdout.split()
        if int(line[2]) != 0:
            return None  # a build without -j, say
        times.append(float(line[0]))
        peaks.append(int(line[1]))
    return statistics.median(times), max(peaks)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--clipsum", required=True)
    parser.add_argument("--before", help="another clipsum to measure beside it")
    # bench/run hands on its own options too.
    arguments, _ = parser.parse_known_args()
    measurer = os.path.join(arguments.build, "measure")
    limit = os.path.join(arguments.build, "limit")
    maildir = os.path.join(arguments.build, "inputs", "maildir")
    if not os.path.isdir(os.path.join(maildir, "cur")) or len(os.listdir(os.path.join(maildir, "cur"))) != MESSAGES:
        subprocess.run(["rm", "-rf", maildir, maildir + ".part"], check=True)
        write_maildir(maildir + ".part", MESSAGES, 4)
        os.rename(maildir + ".part", maildir)
    size = sum(os.path.getsize(os.path.join(maildir, "cur", n)) for n in os.listdir(os.path.join(maildir, "cur")))
    cores = os.cpu_count() or 1
    jobs = [1, 2] if cores <= 2 else [1, 2, cores]
    def clipsum(binary):
        return lambda j: [binary, "strip", "--dry-run", "-q", "-j", str(j), maildir]

    commands = [("limit (reads every byte)", lambda j: [limit, "-j", str(j), os.path.join(maildir, "cur"),
                                                        os.path.join(maildir, "new")])]
    if arguments.before:
        commands.append(("`clipsum strip --dry-run -q` before", clipsum(arguments.before)))
    commands.append(("`clipsum strip --dry-run -q`", clipsum(arguments.clipsum)))
    print(f"\nA Maildir of {MESSAGES:,} messages ({size / 1e6:.0f} MB), {cores} cores; median of {RUNS} runs:\n")
    print("| command | " + " | ".join(f"`-j {j}`" for j in jobs) + " | speed-up | peak memory |")
    print("|---|" + "---:|" * len(jobs) + "---:|---:|")
    for label, command in commands:
        results = [measure(measurer, command(j)) for j in jobs]
        if None in results:
            print(f"| {label} | " + " | ".join("fails" for _ in jobs) + " | - | - |", flush=True)
            continue
        cells = [f"{seconds:.2f} s" for seconds, _ in results]
        speedup = results[0][0] / results[-1][0]
        peak = max(p for _, p in results)
        print(f"| {label} | " + " | ".join(cells) + f" | {speedup:.2f} times | {peak / (1 << 20):.1f} MiB |",
              flush=True)


main()
