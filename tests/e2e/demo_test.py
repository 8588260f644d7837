#!/usr/bin/env python3
"""script/demo run end to end on scratch output folders (the set-up skipped:
the build is done): its stripped mailbox, its trash folder and its table
against the sample mailbox, the note and the attachments clipsum saved, and
what a second run on the same folder does.

    demo_test.py BUILD_FOLDER
"""

import email
import email.policy
import os
import re
import urllib.parse
import shutil
import subprocess
import sys
import tempfile
import unittest

from e2e_support import ROOT, SAMPLE_INBOX, mailcheck, report_failures

BUILD = sys.argv[1] if len(sys.argv) > 1 else None
DEMO = os.path.join(ROOT, "script", "demo")
TOTALS = re.compile(r"^(\d+) messages: (\d+) stripped, (\d+) unchanged; ([\d,]+) bytes before, ([\d,]+) after, "
                    r"([\d,]+) saved$", re.M)


def run_demo(out, *options):
    done = subprocess.run([DEMO, "--no-setup", "--build", BUILD, "--out", out] + list(options),
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=240)
    return done.returncode, done.stdout.decode("utf-8", "replace")


class DemoTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="tlclipsum-demo-")
        cls.out = os.path.join(cls.scratch, "first")
        cls.status, cls.output = run_demo(cls.out)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.scratch, ignore_errors=True)

    def setUp(self):
        self.assertEqual(self.status, 0, self.output)

    def inbox(self, out=None):
        return os.path.join(out or self.out, "mail", "Main", "Inbox")

    def trash(self, out=None):
        return os.path.join(out or self.out, "mail", "Main", "Trash")

    def assert_stripped_once(self, out):
        report = mailcheck.check(SAMPLE_INBOX, self.inbox(out), self.trash(out))
        self.assertEqual(report_failures(report), [])
        self.assertGreater(report["totals"]["stripped"], 0)
        copies = sorted(mailcheck.eml_files(self.trash(out)).values())
        originals = mailcheck.eml_files(SAMPLE_INBOX)
        stripped = sorted(originals[e["file"]] for e in report["messages"] if e["outcome"] == mailcheck.STRIPPED)
        self.assertEqual(copies, stripped, "the trash holds exactly one untouched original per stripped message")

    def test_strips_every_message_with_attachments_and_backs_it_up(self):
        self.assert_stripped_once(self.out)

    def test_printed_table_and_totals_match_the_files(self):
        found = TOTALS.findall(self.output)
        self.assertEqual(len(found), 1, self.output)
        messages, stripped, unchanged, before, after, saved = [int(n.replace(",", "")) for n in found[0]]
        originals = mailcheck.eml_files(SAMPLE_INBOX)
        results = mailcheck.eml_files(self.inbox())
        self.assertEqual(messages, len(originals))
        self.assertEqual(stripped, sum(1 for name in originals if results[name] != originals[name]))
        self.assertEqual(unchanged, messages - stripped)
        self.assertEqual(before, sum(len(data) for data in originals.values()))
        self.assertEqual(after, sum(len(data) for data in results.values()))
        self.assertEqual(saved, before - after)
        for name, data in results.items():
            row = next((line for line in self.output.splitlines() if name in line), "")
            self.assertIn("{:,}".format(len(originals[name])), row)
            self.assertIn("{:,}".format(len(data)), row)
        with open(os.path.join(self.out, "report.txt"), encoding="utf-8") as report:
            self.assertIn(found[0][5] + " saved", report.read())

    def test_leaves_pictures_of_the_dialogs_and_says_where(self):
        shots = os.path.join(self.out, "screenshots")
        names = sorted(os.listdir(shots))
        self.assertTrue(all(name.endswith(".png") for name in names), names)
        for wanted in ("attachment-list", "confirmation", "during-the-strip", "main-window-after"):
            self.assertTrue(any(wanted in name for name in names), names)
        for name in names:
            with open(os.path.join(shots, name), "rb") as picture:
                self.assertEqual(picture.read(8), b"\x89PNG\r\n\x1a\n", name)
        for place in (self.inbox(), self.trash(), shots):
            self.assertIn(place, self.output)

    def test_runs_with_the_shipped_settings_and_prints_the_result_line(self):
        with open(os.path.join(ROOT, "package", "TlClipsum.ini"), "rb") as shipped:
            expected = shipped.read().replace(b"\n", b"\r\n")
        with open(os.path.join(self.out, "plugin", "TlClipsum.ini"), "rb") as used:
            self.assertEqual(used.read(), expected)
        report = mailcheck.check(SAMPLE_INBOX, self.inbox(), self.trash())
        line = re.search(r"status line: 添付ファイルの一括削除: (\d+) 通を削除、(\d+) 通はそのまま、([\d,]+) バイト減りました。",
                         self.output)
        self.assertIsNotNone(line, self.output)
        stripped, left, saved = (int(n.replace(",", "")) for n in line.groups())
        self.assertEqual(stripped, report["totals"]["stripped"])
        self.assertEqual(saved, report["totals"]["bytes_saved"])

    def test_shows_the_note_and_the_attachments_clipsum_saved(self):
        self.assertIn("X-TlClipsum-Removed: image/png; name=\"export-error.png\"; size=4708", self.output)
        saved_dir = os.path.join(self.out, "clipsum", "attachments")
        saved = sorted(os.listdir(saved_dir))
        self.assertIn(saved_dir, self.output)
        noted = []
        for name, data in mailcheck.eml_files(os.path.join(self.out, "clipsum", "Inbox")).items():
            for note in email.message_from_bytes(data, policy=email.policy.compat32).get_all("X-TlClipsum-Removed", []):
                found = re.search(r"saved\*=UTF-8''(\S+)|saved=\"([^\"]+)\"", " ".join(note.split()))
                self.assertIsNotNone(found, (name, note))
                noted.append(urllib.parse.unquote(found.group(1)) if found.group(1) else found.group(2))
        self.assertEqual(sorted(noted), saved, "each saved file is named in a note, and only those")
        for name in saved:
            self.assertIn(name, self.output)
        with open(os.path.join(SAMPLE_INBOX, "011-en-png.eml"), "rb") as f:
            original = email.message_from_bytes(f.read(), policy=email.policy.default)
        picture = next(original.iter_attachments()).get_payload(decode=True)
        with open(os.path.join(saved_dir, "export-error.png"), "rb") as f:
            self.assertEqual(f.read(), picture)

    def test_second_run_on_the_same_folder_is_refused_and_changes_nothing(self):
        inbox, trash = mailcheck.eml_files(self.inbox()), mailcheck.eml_files(self.trash())
        status, output = run_demo(self.out)
        self.assertNotEqual(status, 0)
        self.assertIn("--clean", output)
        self.assertEqual(mailcheck.eml_files(self.inbox()), inbox)
        self.assertEqual(mailcheck.eml_files(self.trash()), trash)

    def test_clean_starts_over_from_the_samples(self):
        again = os.path.join(self.scratch, "again")
        shutil.copytree(self.out, again)
        status, output = run_demo(again, "--clean")
        self.assertEqual(status, 0, output)
        self.assert_stripped_once(again)

    def test_a_folder_that_is_not_a_demo_run_is_refused_even_with_clean(self):
        foreign = os.path.join(self.scratch, "foreign")
        os.makedirs(foreign)
        with open(os.path.join(foreign, "notes.txt"), "w") as f:
            f.write("mine")
        status, output = run_demo(foreign, "--clean")
        self.assertNotEqual(status, 0)
        self.assertEqual(os.listdir(foreign), ["notes.txt"])


if __name__ == "__main__":
    if BUILD is None:
        sys.exit(__doc__)
    unittest.main(argv=sys.argv[:1], verbosity=2)
