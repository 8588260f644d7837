#!/usr/bin/env python3
"""A folder of generated messages (samples/make_bulk.py, half of them with
attachments) stripped in bulk in StandInHost.exe, as a user would from the
tools menu: the attachment list, every entry selected, OK and the
confirmation, with BackUP on. Afterwards tools/mailcheck checks every message:
those with attachments single-part with their text intact and their originals
in the trash, the others byte for byte untouched.

Prints how long the scan and the bulk strip took, read from the times of the
files the run writes on the way: a picture of the main window just before the
command, one of the list once the scan has filled it, one of the confirmation,
and the host's log once the strip is done. A figure, not a check.

    bulk_strip.py STANDINHOST.exe TLCLIPSUM.dll [COUNT]
"""

import os
import subprocess
import sys
import time

from e2e_support import CONFIRM_BULK, LIST_COUNT_LABEL, NOTICE_FOR_OUTCOME, ROOT, Mailbox, dialogs_of, \
    listed_messages, report_failures, verdict, windows_path


def seconds_between(earlier, later):
    return (os.stat(later).st_mtime_ns - os.stat(earlier).st_mtime_ns) / 1e9


def main(host, dll, count):
    mailbox = Mailbox(dll, backup=True)
    try:
        subprocess.run([sys.executable, "-B", os.path.join(ROOT, "samples", "make_bulk.py"), mailbox.inbox,
                        "-n", str(count)], check=True, stdout=subprocess.DEVNULL)
        mailbox.keep_original()
        listed = listed_messages(mailbox.inbox)
        notices = [NOTICE_FOR_OUTCOME[outcome] for _, outcome in listed if outcome in NOTICE_FOR_OUTCOME]
        before, shown, asked = mailbox.path("before.bmp"), mailbox.path("list.bmp"), mailbox.path("confirm.bmp")
        steps = ["screenshot " + windows_path(before), "shot " + windows_path(shown), "list select-all",
                 "answer ok", "shot " + windows_path(asked), "answer ok"] + ["answer ok"] * len(notices)
        steps.append("command 2")
        started = time.monotonic()
        status, output, log = mailbox.run_host(host, steps, timeout=900)
        elapsed = time.monotonic() - started

        failures = []
        if status != 0:
            failures.append("StandInHost exited with %d: %s" % (status, output.strip()))
        seen = [text for _, text in dialogs_of(log)]
        if seen != [LIST_COUNT_LABEL, CONFIRM_BULK] + notices:
            failures.append("dialogs seen %s, expected the list, the confirmation and %d notice(s)"
                            % (seen, len(notices)))
        report = mailbox.check()
        failures += report_failures(report)
        totals = report["totals"]
        if totals["stripped"] < count // 3:
            failures.append("only %d of %d messages were to be stripped" % (totals["stripped"], count))

        print("%d messages, %d listed, %d stripped, %d untouched; %s bytes saved"
              % (totals["messages"], len(listed), totals["stripped"], totals["untouched"],
                 "{:,}".format(totals["bytes_saved"])))
        if status == 0:
            print("scan of %d messages until the list showed: %.2f s" % (count, seconds_between(before, shown)))
            print("bulk strip of %d messages with backup: %.2f s" % (len(listed), seconds_between(asked, mailbox.path(
                "host-log.txt"))))
        print("whole run under Wine, start-up included: %.1f s" % elapsed)
        return verdict("bulk_strip", failures)
    finally:
        mailbox.remove()


if __name__ == "__main__":
    if len(sys.argv) not in (3, 4):
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2], int(sys.argv[3]) if len(sys.argv) == 4 else 300))
