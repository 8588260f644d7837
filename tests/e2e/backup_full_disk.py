#!/usr/bin/env python3
"""A disk that fills up during every backup copy: StandInHost.exe runs with
--full-disk, so each copy into the trash fails after writing part of the
message and the host answers 0. With BackUP on, the sample mailbox is stripped
in bulk through the attachment list, then its first message to strip once
more through the message menu. Nothing may change: every message stays byte
for byte as it was, the trash holds no file at all (no partial copy), and the
status line shows the backup notice.

    backup_full_disk.py STANDINHOST.exe TLCLIPSUM.dll
"""

import os
import re
import sys

from e2e_support import CONFIRM_BULK, CONFIRM_ONE, LIST_COUNT_LABEL, NOTICE_BACKUP_FAILED, NOTICE_FOR_OUTCOME, \
    SAMPLE_INBOX, Mailbox, dialogs_of, listed_messages, mailcheck, verdict

# Less than any sample message, more than nothing: each copy is cut in its header.
ROOM = 200


def main(host, dll):
    mailbox = Mailbox(dll, backup=True)
    try:
        mailbox.fill_from(SAMPLE_INBOX)
        names = sorted(mailcheck.eml_files(mailbox.inbox))
        listed = listed_messages(mailbox.inbox)
        notices = [NOTICE_FOR_OUTCOME[outcome] for _, outcome in listed if outcome in NOTICE_FOR_OUTCOME]
        to_strip = [name for name, outcome in listed if outcome == mailcheck.STRIPPED]
        steps = ["list select-all", "answer ok", "answer ok"] + ["answer ok"] * len(notices) + ["command 2"]
        steps += ["answer ok", "select %d" % names.index(to_strip[0]), "command 1"]
        status, output, log = mailbox.run_host(host, steps, timeout=240, options=["--full-disk", str(ROOM)])

        failures = []
        if status != 0:
            failures.append("StandInHost exited with %d: %s" % (status, output.strip()))
        seen = [text for _, text in dialogs_of(log)]
        if seen != [LIST_COUNT_LABEL, CONFIRM_BULK] + notices + [CONFIRM_ONE]:
            failures.append("dialogs seen %s" % seen)
        copies = re.findall(rb"^TLA_MoveSelectedMessages\(.*\) = (\d+)$", log, re.M)
        if len(copies) != len(to_strip) + 1 or set(copies) != {b"0"}:
            failures.append("copies asked for and their answers: %s, expected %d answered 0"
                            % (copies, len(to_strip) + 1))
        if re.search(rb"^TLA_SetSource\(", log, re.M):
            failures.append("a message was handed back to the host")
        if ("status line: " + NOTICE_BACKUP_FAILED + "\n").encode("cp932") not in log:
            failures.append("the status line does not show the backup notice")
        before, after = mailcheck.eml_files(mailbox.original), mailcheck.eml_files(mailbox.inbox)
        failures += ["%s changed" % name for name in names if after.get(name) != before[name]]
        failures += ["%s appeared in the Inbox" % name
                     for name in sorted(set(os.listdir(mailbox.inbox)) - set(os.listdir(mailbox.original)))]
        failures += ["the trash holds %s" % name for name in sorted(os.listdir(mailbox.trash))]
        if not all(len(before[name]) > ROOM for name in to_strip):
            failures.append("a message fits in %d bytes: its copy would not fail" % ROOM)
        print("%d messages, %d listed, %d copies refused by the full disk" % (len(names), len(listed), len(copies)))
        return verdict("backup_full_disk", failures)
    finally:
        mailbox.remove()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
