#!/usr/bin/env python3
"""The sample mailbox stripped one message at a time in StandInHost.exe, as a
user would from the message menu: each message the host marks as having
attachments is selected and its command is confirmed, with BackUP on; the
messages the plug-in refuses answer with their notice. Afterwards every
message is checked by tools/mailcheck: text intact, every attachment gone,
single-part, the untouched original in the trash, the rest unchanged.

    strip_one_by_one.py STANDINHOST.exe TLCLIPSUM.dll
"""

import sys

from e2e_support import CONFIRM_ONE, NOTICE_FOR_OUTCOME, SAMPLE_INBOX, Mailbox, dialogs_of, listed_messages, \
    mailcheck, print_table, report_failures, verdict


def main(host, dll):
    mailbox = Mailbox(dll, backup=True)
    try:
        mailbox.fill_from(SAMPLE_INBOX)
        names = sorted(mailcheck.eml_files(mailbox.inbox))
        steps, expected_dialogs = [], []
        for name, outcome in listed_messages(mailbox.inbox):
            steps.append("answer ok")
            expected_dialogs.append(CONFIRM_ONE)
            if outcome in NOTICE_FOR_OUTCOME:
                steps.append("answer ok")
                expected_dialogs.append(NOTICE_FOR_OUTCOME[outcome])
            steps += ["select %d" % names.index(name), "command 1"]
        status, output, log = mailbox.run_host(host, steps, timeout=240)

        failures = []
        if status != 0:
            failures.append("StandInHost exited with %d: %s" % (status, output.strip()))
        seen = [text for _, text in dialogs_of(log)]
        if seen != expected_dialogs:
            failures.append("dialogs seen %s, expected %s" % (seen, expected_dialogs))
        report = mailbox.check()
        print_table(report)
        failures += report_failures(report)
        if report["totals"]["stripped"] == 0:
            failures.append("the sample mailbox gave nothing to strip")
        return verdict("strip_one_by_one", failures)
    finally:
        mailbox.remove()


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
