"""Whole-process benchmark: generates the inputs on disk, runs each program as
a process of its own on them, checks the outputs, and prints a markdown table
of wall time (median of the runs), throughput and peak memory (the process's
maximum resident set, from wait4, taken by the small launcher bench/measure.c).

Run by bench/run, which builds the launcher, the limit and the GMime program first."""
import argparse
import os
import random
import statistics
import subprocess
import sys
import time

BOUNDARY = "=_bench_0123456789"
TEXT_LINE = b"The report for this week is attached; the figures are in the second table.\r\n"
RUNS = 5


def header(subject):
    return (
        "From: Sender <sender@example.com>\r\n"
        "To: Receiver <receiver@example.com>\r\n"
        f"Subject: {subject}\r\n"
        "Date: Mon, 1 Jan 2024 09:00:00 +0900\r\n"
        "MIME-Version: 1.0\r\n"
        f'Content-Type: multipart/mixed; boundary="{BOUNDARY}"\r\n'
        "\r\n"
        "This is a multi-part message in MIME format.\r\n"
        f"--{BOUNDARY}\r\n"
        "Content-Type: text/plain; charset=us-ascii\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"
        "\r\n"
    ).encode() + TEXT_LINE * 20 + b"\r\n"


def attachment_header(number):
    return (
        f"--{BOUNDARY}\r\n"
        f'Content-Type: application/octet-stream; name="data{number}.bin"\r\n'
        "Content-Transfer-Encoding: base64\r\n"
        f'Content-Disposition: attachment; filename="data{number}.bin"\r\n'
        "\r\n"
    ).encode()


CLOSE = f"--{BOUNDARY}--\r\n".encode()


def write_base64(out, rng, raw_bytes, one_line):
    """raw_bytes of random data, base64 in lines of 76 (or on one line), CR LF after."""
    import base64

    chunk = 57 * 100000
    left = raw_bytes
    while left > 0:
        n = min(chunk, left)
        data = rng.randbytes(n)
        if one_line:
            out.write(base64.b64encode(data))
        else:
            out.write(base64.encodebytes(data).replace(b"\n", b"\r\n"))
        left -= n
    if one_line:
        out.write(b"\r\n")


def make_message(path, subject, attachments, raw_bytes, one_line=False, seed=1):
    rng = random.Random(seed)
    with open(path, "wb") as out:
        out.write(header(subject))
        for number in range(attachments):
            out.write(attachment_header(number))
            write_base64(out, rng, raw_bytes, one_line)
        out.write(CLOSE)


def make_inputs(directory):
    os.makedirs(directory, exist_ok=True)
    inputs = [
        ("one message with a 100 MB attachment", "big.eml", lambda p: make_message(p, "big", 1, 100 << 20)),
        ("one message with 20,000 small attachments", "small.eml", lambda p: make_message(p, "small", 20000, 750)),
        ("an attachment on one 20 MB line", "long-line.eml", lambda p: make_message(p, "line", 1, 15000000, True)),
        ("a folder of 10,000 messages, one process", "folder", None),
        ("one message with a 1 GB attachment", "huge.eml", lambda p: make_message(p, "huge", 1, 750000000)),
    ]
    made = []
    for name, file_name, make in inputs:
        path = os.path.join(directory, file_name)
        if make is None:
            if not os.path.isdir(path) or len(os.listdir(path)) != 10000:
                os.makedirs(path, exist_ok=True)
                for i in range(10000):
                    make_message(os.path.join(path, f"{i:05d}.eml"), f"message {i}", 1, 3000, seed=i)
        elif not os.path.exists(path):
            make(path + ".part")
            os.rename(path + ".part", path)
        made.append((name, path))
    return made


def size_of(path):
    if os.path.isdir(path):
        return sum(os.path.getsize(os.path.join(path, n)) for n in os.listdir(path))
    return os.path.getsize(path)


def files_of(path):
    if os.path.isdir(path):
        return [os.path.join(path, n) for n in sorted(os.listdir(path))]
    return [path]


def run_once(measurer, argv):
    """Wall time in seconds, peak resident memory in bytes and exit status."""
    line = subprocess.run([measurer, *argv], stdout=subprocess.PIPE, check=True, text=True).stdout.split()
    return float(line[0]), int(line[1]), int(line[2])


def measure(measurer, argv):
    times, peaks = [], []
    for _ in range(RUNS):
        elapsed, peak, status = run_once(measurer, argv)
        if status != 0:
            return None
        times.append(elapsed)
        peaks.append(peak)
    return statistics.median(times), max(peaks)


def body(output):
    """The message body after the header, line breaks made LF, blank lines at the end left out."""
    output = output.replace(b"\r\n", b"\n")
    at = output.find(b"\n\n")
    return output[at + 2 :].rstrip(b"\n") if at >= 0 else b""


def output_of(argv):
    return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True).stdout


def machine():
    model = "?"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{os.cpu_count()} cores, {model}"


def cell(result, size):
    if result is None:
        return "fails"
    if result == "skipped":
        return "-"
    seconds, peak = result
    return f"{seconds:.3f} s, {size / seconds / 1e6:.0f} MB/s, {peak / (1 << 20):.1f} MiB"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True, help="where the inputs and the programs are")
    parser.add_argument("--clipsum", required=True)
    parser.add_argument("--before", help="another clipsum to measure beside it (today's, say)")
    parser.add_argument("--no-python", action="store_true")
    parser.add_argument("--no-huge", action="store_true", help="leave out the 1 GB attachment")
    arguments = parser.parse_args()

    here = os.path.dirname(os.path.abspath(__file__))
    limit = os.path.join(arguments.build, "limit")
    gmime = os.path.join(arguments.build, "gmime_strip")
    measurer = os.path.join(arguments.build, "measure")
    inputs = make_inputs(os.path.join(arguments.build, "inputs"))
    if arguments.no_huge:
        inputs = [i for i in inputs if not i[1].endswith("huge.eml")]

    programs = [("limit", lambda p: [limit, p])]
    columns = ["limit"]

    # The folder as a user names it: clipsum walks it itself. A build from
    # before folders were taken is given the files by name.
    def clipsum_command(binary):
        def command(p):
            if not os.path.isdir(p):
                return [binary, "strip", "--stdout", p]
            walks = subprocess.run([binary, "strip", "--dry-run", "-q", p], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL).returncode == 0
            return [binary, "strip", "--dry-run", p] if walks else [binary, "strip", "--dry-run", *files_of(p)]
        return command

    if arguments.before:
        programs.append(("clipsum before", clipsum_command(arguments.before)))
        columns.append("`clipsum strip` before")
    programs.append(("clipsum", clipsum_command(arguments.clipsum)))
    columns.append("`clipsum strip`")
    programs.append(("GMime", lambda p: [gmime, p]))
    columns.append("GMime 3 (parse, keep the text part, write)")
    if not arguments.no_python:
        programs.append(("Python", lambda p: [sys.executable, os.path.join(here, "python_strip.py"), p]))
        columns.append("Python `email`")

    print(f"Machine: {machine()}; median of {RUNS} runs; time, throughput, peak memory (maximum resident set).\n")
    print("| input | size | " + " | ".join(columns) + " |")
    print("|---|---:|" + "---|" * len(columns))
    failures = []
    for name, path in inputs:
        size = size_of(path)
        # The same text out of each program that writes one (the folder: its first message).
        first = files_of(path)[0]
        expected = body(output_of([arguments.clipsum, "strip", "--stdout", first]))
        if body(output_of([gmime, first])) != expected:
            failures.append(f"{name}: GMime's text differs from clipsum's")
        if not arguments.no_python and not path.endswith("huge.eml"):
            if body(output_of([sys.executable, os.path.join(here, "python_strip.py"), first])) != expected:
                failures.append(f"{name}: Python's text differs from clipsum's")
        if arguments.before:
            try:
                if output_of([arguments.before, "strip", "--stdout", first]) != output_of(
                        [arguments.clipsum, "strip", "--stdout", first]):
                    failures.append(f"{name}: clipsum before and after differ")
            except subprocess.CalledProcessError:
                pass
        cells = []
        for label, command in programs:
            if label == "Python" and path.endswith("huge.eml"):
                cells.append(cell("skipped", size))
                continue
            cells.append(cell(measure(measurer, command(path)), size))
        print(f"| {name} | {size / 1e6:.1f} MB | " + " | ".join(cells) + " |", flush=True)
    for failure in failures:
        print(f"\nCHECK FAILED: {failure}")
    return 1 if failures else 0


sys.exit(main())
