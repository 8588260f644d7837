#!/usr/bin/env python3
"""clipsum over whole mailboxes, judged by Python's own mailbox and email
packages: mbox files in three writers' conventions and a Maildir, every
message accounted for (none lost, none doubled, each left alone byte for
byte), and a run killed at random moments over a large Maildir and a large
mbox, after which every message is whole, in its old or its new form.

    mailboxes_test.py            (CLIPSUM names the program)
"""

import email
import json
import email.policy
import mailbox
import os
import random
import shutil
import signal
import subprocess
import tempfile
import time
import unittest
from email.message import EmailMessage

CLIPSUM = os.environ.get("CLIPSUM", os.path.join(os.path.dirname(__file__), "..", "..", "..", "build", "native",
                                                 "clipsum"))
PDF = b"%PDF-1.4\n" + bytes(range(256)) * 64


def message(number, attached, body_extra=""):
    m = EmailMessage()
    m["From"] = "Keiko Sato <keiko@example.co.jp>"
    m["To"] = "accounts@example.com"
    m["Subject"] = "Quarterly figures %d" % number
    m["Date"] = "Tue, %d Mar 2021 10:%02d:00 +0900" % (1 + number % 28, number % 60)
    m["Message-ID"] = "<%d.figures@example.co.jp>" % number
    m.set_content("Hello,\n\nthe figures for quarter %d are attached.\n%s\nKeiko\n" % (number, body_extra))
    if attached:
        m.add_attachment(PDF, maintype="application", subtype="pdf", filename="figures-%d.pdf" % number)
    return m


def mbox_messages(path, get=lambda m: m.as_bytes()):
    box = mailbox.mbox(path)
    try:
        return [get(m) for m in box]
    finally:
        box.close()


def parts(data):
    return [p.get_content_type() for p in email.message_from_bytes(data, policy=email.policy.compat32).walk()]


def clipsum(*arguments, check=True):
    done = subprocess.run([CLIPSUM] + list(arguments), stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    if check and done.returncode != 0:
        raise AssertionError("clipsum %s: %d\n%s" % (arguments, done.returncode, done.stderr.decode()))
    return done


class Folder(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="clipsum-mailboxes-")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def path(self, *names):
        return os.path.join(self.dir, *names)


class MboxConventions(Folder):
    """Each message of the mbox as Python reads it before and after."""

    def check_mbox(self, path, expect_stripped, convention=None):
        before = mbox_messages(path, lambda m: (m.get_from(), m.as_bytes()))
        with open(path, "rb") as f:
            original = f.read()
        report = clipsum("strip", "--in-place", "--backup-dir", self.dir, path).stdout.decode()
        after = mbox_messages(path, lambda m: (m.get_from(), m.as_bytes()))
        self.assertEqual(len(before), len(after), report)
        stripped = 0
        for (from_before, old), (from_after, new) in zip(before, after):
            self.assertEqual(from_before, from_after)
            if "application/pdf" in parts(old):
                stripped += 1
                self.assertNotIn("application/pdf", parts(new))
                self.assertIn(b"are attached.", new)
                self.assertEqual(email.message_from_bytes(new)["Message-ID"],
                                 email.message_from_bytes(old)["Message-ID"])
            else:
                self.assertEqual(old, new, "a message left alone changed")
        self.assertEqual(stripped, expect_stripped)
        with open(self.backup_of(path), "rb") as f:
            self.assertEqual(f.read(), original, "the backup is not the whole original mbox")
        return report

    def backup_of(self, path):
        copies = sorted(n for n in os.listdir(self.dir) if n.startswith(os.path.basename(path) + "."))
        return self.path(copies[-1])

    def test_mboxo_written_by_pythons_mailbox_keeps_from_quoting_and_every_message(self):
        box_path = self.path("inbox")
        box = mailbox.mbox(box_path)
        for n in range(12):
            box.add(message(n, n % 3 == 0, "From the office: see below.\n>From an old quote."))
        box.close()
        with open(box_path, "rb") as f:
            self.assertIn(b"\n>From the office", f.read())
        self.check_mbox(box_path, 4)
        with open(box_path, "rb") as f:
            data = f.read()
        self.assertEqual(data.count(b"\n>From the office"), 12, "a quoted From line lost its quoting")
        self.assertEqual(data.count(b"\n>>From an old quote") + data.count(b"\n>From an old quote"), 12)

    def test_mboxrd_quoting_and_the_bytes_between_messages_are_kept(self):
        chunks = []
        for n in range(6):
            m = message(n, n % 2 == 0, "From line in the text\n>From once quoted").as_bytes()
            m = m.replace(b"\nFrom line", b"\n>From line").replace(b"\n>From once", b"\n>>From once")
            chunks.append(b"From keiko@example.co.jp Tue Mar  2 10:00:00 2021\n" + m + b"\n")
        data = b"".join(chunks) + b"\n"  # an extra blank line at the end
        box_path = self.path("archive.mbox")
        with open(box_path, "wb") as f:
            f.write(data)
        self.check_mbox(box_path, 3)
        with open(box_path, "rb") as f:
            new = f.read()
        self.assertEqual(new.count(b"\n>>From once quoted"), 6)
        self.assertEqual(new.count(b"\n>From line in the text"), 6)
        self.assertTrue(new.endswith(b"\n\n"))

    def test_content_length_is_corrected_and_trusted_over_an_unquoted_from_line(self):
        chunks = []
        for n in range(5):
            m = message(n, n != 2, "\nFrom here the body goes on unquoted.\n")
            head, _, body = m.as_bytes().partition(b"\n\n")
            head += b"\nContent-Length: %d" % len(body)
            chunks.append(b"From keiko@example.co.jp Tue Mar  2 10:00:00 2021\n" + head + b"\n\n" + body + b"\n")
        box_path = self.path("solaris.mbox")
        with open(box_path, "wb") as f:
            f.write(b"".join(chunks))
        report = clipsum("strip", "--dry-run", box_path).stdout.decode()
        self.assertIn("mbox of 5 messages, 4 would be stripped", report)
        clipsum("strip", "--in-place", box_path)
        with open(box_path, "rb") as f:
            data = f.read()
        messages = data.split(b"\nFrom keiko@example.co.jp")
        self.assertEqual(len(messages), 5)
        for chunk in messages:
            head, _, body = chunk.partition(b"\n\n")
            length = int(head.split(b"Content-Length: ")[1].split(b"\n")[0])
            self.assertEqual(length, len(body) - (1 if chunk is messages[-1] else 0), chunk[:200])
            self.assertIn(b"From here the body goes on unquoted.", body)

    def test_a_message_in_crlf_keeps_crlf_and_one_in_lf_keeps_lf(self):
        crlf = message(1, True).as_bytes(policy=email.policy.SMTP)
        lf = message(2, True).as_bytes()
        data = (b"From a@example.com Tue Mar  2 10:00:00 2021\n" + crlf + b"\n" +
                b"From b@example.com Tue Mar  2 10:00:00 2021\n" + lf)
        box_path = self.path("mixed.mbox")
        with open(box_path, "wb") as f:
            f.write(data)
        clipsum("strip", "--in-place", box_path)
        first, second = mbox_messages(box_path)
        with open(box_path, "rb") as f:
            new = f.read()
        one, two = new.split(b"\nFrom b@example.com")
        self.assertIn(b"are attached.\r\n", one)
        self.assertNotIn(b"\r", two)


class MaildirStore(Folder):
    def test_every_message_keeps_its_name_and_time_and_tmp_is_not_touched(self):
        md = mailbox.Maildir(self.path("Maildir"), create=True)
        keys = {}
        for n in range(20):
            m = mailbox.MaildirMessage(message(n, n % 2 == 1))
            if n % 4 == 0:
                m.set_subdir("cur")
                m.set_flags("RS")
            keys[md.add(m)] = n
        sub = md.add_folder("Sent")
        sub.add(message(99, True))
        delivering = message(100, True).as_bytes()
        with open(self.path("Maildir", "tmp", "being-delivered"), "wb") as f:
            f.write(delivering)
        with open(self.path("Maildir", "dovecot.index.cache"), "wb") as f:
            f.write(b"\0\1binary index")
        names = {}
        for sub_dir in ("cur", "new"):
            for name in os.listdir(self.path("Maildir", sub_dir)):
                p = self.path("Maildir", sub_dir, name)
                os.utime(p, (1234567890, 1234567890))
                with open(p, "rb") as f:
                    names[os.path.join(sub_dir, name)] = f.read()

        os.mkdir(self.path("backups"))
        report = clipsum("strip", "--in-place", "-r", "--backup-dir", self.path("backups"), "--report",
                         self.path("report.json"), self.path("Maildir")).stdout.decode()
        self.assertIn("11 stripped, 10 left alone, 0 failed", report)
        with open(self.path("report.json"), encoding="utf-8") as f:
            entries = [json.loads(line) for line in f]
        self.assertEqual(len(entries), 21)
        self.assertEqual(sum(e["outcome"] == "stripped" for e in entries), 11)
        for e in entries:
            if e["outcome"] == "stripped":
                self.assertEqual(e["removed"][0]["type"], "application/pdf")
                self.assertTrue(os.path.isfile(e["backup"]))
                self.assertLess(e["bytes_after"], e["bytes_before"])
        with open(self.path("Maildir", "tmp", "being-delivered"), "rb") as f:
            self.assertEqual(f.read(), delivering)
        with open(self.path("Maildir", "dovecot.index.cache"), "rb") as f:
            self.assertEqual(f.read(), b"\0\1binary index")
        after = {}
        for sub_dir in ("cur", "new"):
            for name in os.listdir(self.path("Maildir", sub_dir)):
                p = self.path("Maildir", sub_dir, name)
                self.assertEqual(os.stat(p).st_mtime, 1234567890)
                with open(p, "rb") as f:
                    after[os.path.join(sub_dir, name)] = f.read()
        self.assertEqual(sorted(names), sorted(after), "a message was renamed, lost or added")
        for name, old in names.items():
            if "application/pdf" in parts(old):
                self.assertNotIn("application/pdf", parts(after[name]))
            else:
                self.assertEqual(old, after[name])
        for m in md.get_folder("Sent"):
            self.assertNotIn("application/pdf", parts(m.as_bytes()))
        self.assertEqual(md.get_folder("Sent").__len__(), 1)


# The name a new file has for the instant between being linked and renamed.
TEMP_PREFIX = ".clipsum-tmp-"


class KilledRun(Folder):
    """kill -9 at random moments: each message is whole, old or new."""

    def kill_during(self, arguments, seconds):
        child = subprocess.Popen([CLIPSUM] + arguments, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        time.sleep(seconds)
        child.send_signal(signal.SIGKILL)
        child.wait()

    def test_a_large_maildir_killed_mid_run_has_every_message_whole(self):
        md = mailbox.Maildir(self.path("Maildir"), create=True)
        originals = {}
        for n in range(1500):
            originals[md.add(message(n, n % 2 == 0))] = n
        wanted = {key: md.get_bytes(key) for key in md.keys()}
        rng = random.Random(11)
        for attempt in range(3):
            self.kill_during(["strip", "--in-place", self.path("Maildir")], rng.uniform(0.05, 0.4))
            md = mailbox.Maildir(self.path("Maildir"), create=False)
            # A kill between naming a new message and renaming it over the old
            # one leaves that name behind, for the next run in the folder to
            # remove; the message itself is whole.
            keys = [key for key in md.keys() if not key.startswith(TEMP_PREFIX)]
            self.assertEqual(sorted(keys), sorted(wanted))
            for key in keys:
                data = md.get_bytes(key)
                if data != wanted[key]:
                    stripped = wanted[key]
                    self.assertIn("application/pdf", parts(stripped))
                    self.assertEqual(parts(data), ["text/plain"], key)
            leftovers = [n for n in os.listdir(self.path("Maildir", "new"))
                         if n.startswith(".") and not n.startswith(TEMP_PREFIX)]
            self.assertEqual(leftovers, [])

    def test_a_large_mbox_killed_mid_run_is_the_old_or_the_new_one(self):
        box_path = self.path("big.mbox")
        box = mailbox.mbox(box_path)
        big = b"%PDF" + os.urandom(2 << 20)
        for n in range(100):
            m = message(n, False)
            if n % 2 == 0:
                m.add_attachment(big, maintype="application", subtype="pdf", filename="scan.pdf")
            box.add(m)
        box.close()
        with open(box_path, "rb") as f:
            original = f.read()
        old = mbox_messages(box_path)
        caught = 0
        for seconds in (0.05, 0.2, 0.4, 0.8):
            with open(box_path, "wb") as f:
                f.write(original)
            self.kill_during(["strip", "--in-place", box_path], seconds)
            with open(box_path, "rb") as f:
                now = f.read()
            left = [n for n in os.listdir(self.dir) if not n.startswith(TEMP_PREFIX)]
            self.assertEqual(sorted(left), ["big.mbox"], "a killed run left a file behind")
            if now == original:
                caught += 1
                continue
            new = mbox_messages(box_path)
            self.assertEqual(len(new), len(old))
            for before, after in zip(old, new):
                if "application/pdf" in parts(before):
                    self.assertEqual(parts(after), ["text/plain"])
                else:
                    self.assertEqual(before, after)
        self.assertGreater(caught, 0, "no run was caught before it finished")


if __name__ == "__main__":
    unittest.main()
