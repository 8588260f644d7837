#!/usr/bin/env python3
"""clipsum's threads under ThreadSanitizer: a tree that makes every part of -j
work at once (the walk listing while the threads strip, runs handed out
during the walk, report records, turns to save parts and originals, one file
reached by two names, an mbox) is stripped by a build made with
-fsanitize=thread; any report of a race fails.

    threads_test.py PATH/TO/TSAN/clipsum
"""

import os
import subprocess
import sys
import tempfile

MESSAGE = (
    "From: a@example.com\r\nSubject: report {n}\r\nDate: Tue, 2 Mar 2021 10:00:00 +0900\r\n"
    "MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n"
    "--b\r\nContent-Type: text/plain\r\n\r\ntext {n}\r\n"
    "--b\r\nContent-Type: application/octet-stream; name=\"a{k}.bin\"\r\n"
    "Content-Transfer-Encoding: base64\r\n\r\nAAECAwQFBgcICQ==\r\n--b--\r\n"
)


def write(path, text):
    with open(path, "w", newline="") as f:
        f.write(text)


def make_tree(root):
    for folder in ("a", "b"):
        os.makedirs(os.path.join(root, folder))
        for n in range(1200):
            write(os.path.join(root, folder, f"{n:04d}.eml"), MESSAGE.format(n=n, k=n % 40) if n % 3 else "Subject: x\r\n\r\nplain\r\n")
    os.symlink(os.path.join(root, "a", "0001.eml"), os.path.join(root, "a", "0001.eml.again"))
    write(os.path.join(root, "b", "box.mbox"),
          "".join("From a@example.com Mon Jan  1 00:00:00 2024\n" + MESSAGE.format(n=n, k=n % 40).replace("\r\n", "\n") + "\n"
                  for n in range(20)))


def run(clipsum, arguments):
    environment = dict(os.environ, TSAN_OPTIONS="halt_on_error=1:exitcode=66")
    result = subprocess.run([clipsum, *arguments], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=environment)
    error = result.stderr.decode(errors="replace")
    if result.returncode != 0 or "ThreadSanitizer" in error:
        print(f"threads_test: {' '.join(arguments)}: exit {result.returncode}\n{error[-4000:]}")
        return False
    return True


def main():
    clipsum = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        tree = os.path.join(work, "tree")
        make_tree(tree)
        for folder in ("saved", "backup"):
            os.makedirs(os.path.join(work, folder))
        passed = run(clipsum, ["strip", "--dry-run", "-r", "-j", "2", "--report", os.path.join(work, "r.json"), tree])
        passed = run(clipsum, ["strip", "--in-place", "-r", "-j", "3", "--note", "--save-dir",
                               os.path.join(work, "saved"), "--backup-dir", os.path.join(work, "backup"),
                               tree, tree]) and passed
    print("threads_test: " + ("passed" if passed else "FAILED"))
    return 0 if passed else 1


sys.exit(main())
