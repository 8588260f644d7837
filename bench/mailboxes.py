#!/usr/bin/env python3
"""Whole mailboxes, side by side: `clipsum strip --in-place` and what a user
could write instead in a few lines of Python (its mailbox and email packages),
on identical copies of a generated Maildir and a generated mbox. Prints the
wall time and peak memory (/usr/bin/time -v) of each whole command.

    bench/mailboxes.py [--messages 100000] [--attachment-kb 96] [--mbox-mb 1024]
                       [--work /tmp/clipsum-bench] [--clipsum build/native/clipsum]

Needs twice the generated size in free space; removes everything afterwards.
"""

import argparse
import base64
import os
import random
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# The alternative: every message with an attachment becomes its first
# text/plain part, under the original header. mailbox rewrites an mbox through
# a new file renamed over it; a Maildir is walked by hand, each message
# written beside itself and renamed over it, because mailbox.Maildir lists the
# whole folder again for each message it replaces (at 100,000 messages it did
# some 1,700 in 18 minutes).
PYTHON_JOB = r'''
import email, email.policy, mailbox, os, sys
def strip(msg):
    if not msg.is_multipart() or not any(p.get_filename() or p.get_content_disposition() == "attachment"
                                         for p in msg.walk()):
        return None
    text = next((p for p in msg.walk() if p.get_content_type() == "text/plain"), None)
    if text is None:
        return None
    for name in ("Content-Type", "Content-Transfer-Encoding"):
        del msg[name]
        if text[name]:
            msg[name] = text[name]
    msg.set_payload(text.get_payload())
    return msg
kind, path = sys.argv[1], sys.argv[2]
if kind == "maildir":
    for sub in ("cur", "new"):
        for name in sorted(os.listdir(os.path.join(path, sub))):
            file = os.path.join(path, sub, name)
            with open(file, "rb") as f:
                msg = email.message_from_binary_file(f, policy=email.policy.compat32)
            if strip(msg) is not None:
                with open(file + ".new", "wb") as f:
                    f.write(msg.as_bytes())
                    os.fsync(f.fileno())
                os.replace(file + ".new", file)
else:
    box = mailbox.mbox(path)
    box.lock()
    for key in list(box.keys()):
        msg = box.get_message(key)
        if strip(msg) is not None:
            box[key] = msg
    box.flush(); box.unlock(); box.close()
'''


def make_message(rng, number, attachment_bytes):
    text = ("Hello,\n\nthe report for week %d is attached; the numbers are in the usual place.\n\n-- \n"
            "Keiko Sato\n" % number)
    head = ("From: Keiko Sato <keiko@example.co.jp>\nTo: team@example.com\nSubject: Weekly report %d\n"
            "Date: Tue, %d Mar 2021 10:%02d:00 +0900\nMessage-ID: <%d.report@example.co.jp>\nMIME-Version: 1.0\n"
            % (number, 1 + number % 28, number % 60, number))
    if not attachment_bytes:
        return (head + "Content-Type: text/plain; charset=us-ascii\n\n" + text).encode()
    data = base64.encodebytes(rng.randbytes(attachment_bytes)).decode()
    return (head + 'Content-Type: multipart/mixed; boundary="b%d"\n\n--b%d\nContent-Type: text/plain; '
            'charset=us-ascii\n\n%s\n--b%d\nContent-Type: application/pdf; name="week-%d.pdf"\n'
            'Content-Disposition: attachment; filename="week-%d.pdf"\nContent-Transfer-Encoding: base64\n\n%s\n'
            '--b%d--\n' % (number, number, text, number, number, number, data, number)).encode()


def write_maildir(path, count, attachment_kb):
    rng = random.Random(1)
    for part in ("cur", "new", "tmp"):
        os.makedirs(os.path.join(path, part))
    total = 0
    for n in range(count):
        size = rng.randint(attachment_kb // 2, attachment_kb * 3 // 2) * 1024 if n % 2 == 0 else 0
        data = make_message(rng, n, size)
        name = "%d.M%dP1.bench:2,S" % (1614679200 + n, n)
        with open(os.path.join(path, "cur", name), "wb") as f:
            f.write(data)
        total += len(data)
    return total


def write_mbox(path, megabytes):
    rng = random.Random(2)
    total, n = 0, 0
    with open(path, "wb") as f:
        while total < megabytes << 20:
            size = rng.randint(50, 250) * 1024 if n % 2 == 0 else 0
            data = b"From keiko@example.co.jp Tue Mar  2 10:00:00 2021\n" + make_message(rng, n, size) + b"\n"
            f.write(data)
            total += len(data)
            n += 1
    return total, n


def du(path):
    done = subprocess.run(["du", "-sb", path], stdout=subprocess.PIPE, check=True)
    return int(done.stdout.split()[0])


def timed(command):
    started = time.monotonic()
    done = subprocess.run(["/usr/bin/time", "-v"] + command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.monotonic() - started
    report = done.stderr.decode(errors="replace")
    peak = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", report).group(1))
    if done.returncode != 0:
        sys.exit("%s failed:\n%s" % (command, report[-2000:]))
    return elapsed, peak / 1024


class Rows:
    """Prints each measurement as it is made: a run may take long."""

    def append(self, row):
        label, command, seconds, peak, after = row
        print("| %s | %s | %.1f s | %.1f MB | %.0f MB |" % (label, command, seconds, peak, after / 1e6), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--messages", type=int, default=100000)
    parser.add_argument("--attachment-kb", type=int, default=48)
    parser.add_argument("--mbox-mb", type=int, default=1024)
    parser.add_argument("--work", default="/tmp/clipsum-bench")
    parser.add_argument("--clipsum", default=os.path.join(HERE, "..", "build", "native", "clipsum"))
    args = parser.parse_args()
    os.makedirs(args.work)
    print("| input | command | time | peak memory | size after |")
    print("|---|---|---:|---:|---:|", flush=True)
    rows = Rows()
    try:
        maildir = os.path.join(args.work, "Maildir")
        size = write_maildir(maildir, args.messages, args.attachment_kb)
        shutil.copytree(maildir, maildir + "-py")
        label = "Maildir, %d messages, %.2f GB" % (args.messages, size / 1e9)
        rows.append((label, "clipsum strip --in-place",
                     *timed([args.clipsum, "strip", "--in-place", "-q", maildir]), du(maildir)))
        rows.append((label, "Python email, the Maildir walked by hand",
                     *timed([sys.executable, "-c", PYTHON_JOB, "maildir", maildir + "-py"]), du(maildir + "-py")))
        shutil.rmtree(maildir)
        shutil.rmtree(maildir + "-py")

        mbox = os.path.join(args.work, "inbox.mbox")
        size, count = write_mbox(mbox, args.mbox_mb)
        shutil.copyfile(mbox, mbox + "-py")
        label = "mbox, %d messages, %.2f GB" % (count, size / 1e9)
        rows.append((label, "clipsum strip --in-place", *timed([args.clipsum, "strip", "--in-place", "-q", mbox]),
                     os.path.getsize(mbox)))
        rows.append((label, "Python mailbox + email",
                     *timed([sys.executable, "-c", PYTHON_JOB, "mbox", mbox + "-py"]), os.path.getsize(mbox + "-py")))
    finally:
        shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    main()
