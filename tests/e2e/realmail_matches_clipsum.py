#!/usr/bin/env python3
"""The real mail of tests/realmail stripped by the plug-in in StandInHost.exe
gives the same bytes as clipsum: every message the host marks as having
attachments (top-level multipart/mixed) is stripped one at a time from the
message menu, BackUP off, and each file is then compared with what
`clipsum strip --in-place` made of a copy. A message clipsum leaves alone
must bring the plug-in's notice and stay unchanged too.

    realmail_matches_clipsum.py STANDINHOST.exe TLCLIPSUM.dll CLIPSUM[.exe]

A clipsum.exe runs under Wine, any other clipsum natively.

A file that starts with a "From " line is an mbox to clipsum: it keeps the
line breaks of an mbox written with LF where the plug-in, which takes the
file for one message, writes CR LF. Such a file is compared with its line
breaks made alike; every other byte must still match.
"""

import os
import re
import subprocess
import sys
import time

from e2e_support import CONFIRM_ONE, NOTICE_CANNOT_PROCESS, NOTICE_NOT_MULTIPART, ROOT, WINE_RUN, Mailbox, \
    dialogs_of, mailcheck, verdict, windows_path

MESSAGES = os.path.join(ROOT, "tests", "realmail", "messages")

# clipsum's reason for leaving a message alone, and the notice the plug-in
# shows for it instead.
NOTICE_FOR_REASON = {
    "not a multipart message": NOTICE_NOT_MULTIPART,
    "nested more than 64 levels deep": NOTICE_CANNOT_PROCESS,
    "out of memory while stripping": NOTICE_CANNOT_PROCESS,
}


def listed_messages():
    """{file name: bytes} of the collection's messages the host lists."""
    found = {}
    for name in sorted(os.listdir(MESSAGES)):
        if name.endswith(".eml"):
            with open(os.path.join(MESSAGES, name), "rb") as f:
                data = f.read()
            if mailcheck.is_listed(data):
                found[name] = data
    return found


def strip_with_clipsum(clipsum, folder, names):
    """Strips the files in place in one run; {name: reason left alone}."""
    paths = [os.path.join(folder, name) for name in names]
    if clipsum.lower().endswith(".exe"):
        command = [WINE_RUN, clipsum, "strip", "--all", "--in-place", "--"] + [windows_path(p) for p in paths]
    else:
        command = [clipsum, "strip", "--all", "--in-place", "--"] + paths
    done = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=240)
    report = done.stdout.decode("utf-8", "replace")
    left_alone = {}
    for line in report.splitlines():
        match = re.search(r"([^\\/]+\.eml): left alone, (.+?)(; subject \".*)?$", line.strip())
        if match:
            left_alone[match.group(1)] = match.group(2)
    return done.returncode, report, left_alone


def main(host, dll, clipsum):
    started = time.monotonic()
    messages = listed_messages()
    mailbox = Mailbox(dll, backup=False)
    try:
        os.makedirs(mailbox.inbox)
        expected_dir = mailbox.path("clipsum")
        os.makedirs(expected_dir)
        for name, data in messages.items():
            for folder in (mailbox.inbox, expected_dir):
                with open(os.path.join(folder, name), "wb") as f:
                    f.write(data)
        failures = []
        status, report, left_alone = strip_with_clipsum(clipsum, expected_dir, list(messages))
        if status != 0:
            failures.append("clipsum exited with %d: %s" % (status, report.strip()[-400:]))

        names = sorted(messages)
        steps, expected_dialogs = [], []
        for name in names:
            steps.append("answer ok")
            expected_dialogs.append(CONFIRM_ONE)
            notice = NOTICE_FOR_REASON.get(left_alone.get(name))
            if notice:
                steps.append("answer ok")
                expected_dialogs.append(notice)
            steps += ["select %d" % names.index(name), "command 1"]
        status, output, log = mailbox.run_host(host, steps, timeout=240)
        if status != 0:
            failures.append("StandInHost exited with %d: %s" % (status, output.strip()[-400:]))
        seen = [text for _, text in dialogs_of(log)]
        if seen != expected_dialogs:
            failures.append("dialogs differ from the expected ones at #%d" %
                            next((i for i, (a, b) in enumerate(zip(seen, expected_dialogs)) if a != b),
                                 min(len(seen), len(expected_dialogs))))

        same = stripped = 0
        for name in names:
            with open(os.path.join(mailbox.inbox, name), "rb") as f:
                by_plugin = f.read()
            with open(os.path.join(expected_dir, name), "rb") as f:
                by_clipsum = f.read()
            if messages[name].startswith(b"From ") and b"\r\n" not in by_clipsum:
                by_plugin = by_plugin.replace(b"\r\n", b"\n")
            if by_plugin != by_clipsum:
                failures.append("%s: the plug-in stored %d bytes, clipsum %d%s" % (
                    name, len(by_plugin), len(by_clipsum), " (identical up to the shorter)"
                    if by_plugin[:len(by_clipsum)] == by_clipsum[:len(by_plugin)] else ""))
            else:
                same += 1
                stripped += by_clipsum != messages[name]
        print("realmail_matches_clipsum: %d listed messages, %d identical (%d stripped, %d left alone), %.1f s" %
              (len(names), same, stripped, same - stripped, time.monotonic() - started))
        if not names or stripped == 0:
            failures.append("the collection gave nothing to strip")
        return verdict("realmail_matches_clipsum", failures)
    finally:
        mailbox.remove()


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3]))
