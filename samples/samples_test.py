#!/usr/bin/env python3
"""Tests of the sample mailbox: the generator still gives the committed bytes,
each message is what samples/README.md says it is, the attachments are valid
files, and the bulk generator is deterministic."""

import email
import email.policy
import importlib.machinery
import importlib.util
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.dont_write_bytecode = True  # keep __pycache__ out of the source tree
sys.path.insert(0, HERE)

import make_bulk  # noqa: E402
import make_samples  # noqa: E402

_loader = importlib.machinery.SourceFileLoader("mailcheck", os.path.join(HERE, "..", "tools", "mailcheck"))
_spec = importlib.util.spec_from_loader("mailcheck", _loader)
mailcheck = importlib.util.module_from_spec(_spec)
_loader.exec_module(mailcheck)


def committed():
    found = {}
    for name in sorted(os.listdir(make_samples.INBOX)):
        with open(os.path.join(make_samples.INBOX, name), "rb") as f:
            found[name] = f.read()
    return found


class CommittedSamples(unittest.TestCase):
    def test_generator_gives_the_committed_bytes(self):
        self.assertEqual(committed(), make_samples.build())
        with open(make_samples.README, "rb") as f:
            self.assertEqual(f.read(), make_samples.readme())

    def test_trash_folder_is_there_and_empty(self):
        trash = os.path.join(HERE, "mailbox", "Main", "Trash")
        self.assertTrue(os.path.isdir(trash))
        self.assertEqual([], [n for n in os.listdir(trash) if n.lower().endswith(".eml")])

    def test_whole_folder_stays_small(self):
        total = sum(os.path.getsize(os.path.join(folder, name))
                    for folder, _, names in os.walk(HERE) if "__pycache__" not in folder for name in names)
        self.assertLess(total, 400 * 1024)

    def test_each_message_is_what_the_readme_says(self):
        for name, builder, _, outcome, kept_type, html_marker in make_samples.SAMPLES:
            with self.subTest(name):
                data = builder()
                found, tree = mailcheck.expectation(data, False)
                self.assertEqual(outcome, found)
                if tree is not None:
                    kept = mailcheck.kept_chain(tree)[-1]
                    self.assertEqual(kept_type, kept.message.get_content_type())
                with_setting = mailcheck.expectation(data, True)[0]
                self.assertEqual("HTML header (HtmlMsgOff)" if html_marker else outcome, with_setting)


def attachments(message):
    for part in message.walk():
        if part.get_content_maintype() != "multipart" and part.get("Content-Transfer-Encoding", "").lower() == "base64" \
                and part.get_filename():
            yield part.get_content_type(), part.get_payload(decode=True)


def check_png(test, data):
    test.assertEqual(b"\x89PNG\r\n\x1a\n", data[:8])
    position, chunks = 8, {}
    while position < len(data):
        length, kind = struct.unpack(">I4s", data[position:position + 8])
        body = data[position + 8:position + 8 + length]
        crc = struct.unpack(">I", data[position + 8 + length:position + 12 + length])[0]
        test.assertEqual(zlib.crc32(kind + body), crc, kind)
        chunks[kind] = body
        position += 12 + length
    width, height = struct.unpack(">II", chunks[b"IHDR"][:8])
    test.assertEqual(height * (1 + 3 * width), len(zlib.decompress(chunks[b"IDAT"])))
    test.assertIn(b"IEND", chunks)


def check_jpeg(test, data):
    test.assertEqual(b"\xff\xd8", data[:2])
    test.assertEqual(b"\xff\xd9", data[-2:])
    for marker in (b"\xff\xdb", b"\xff\xc0", b"\xff\xc4", b"\xff\xda"):
        test.assertIn(marker, data)


def check_pdf(test, data):
    test.assertTrue(data.startswith(b"%PDF-1."))
    start = int(data.rsplit(b"startxref\n", 1)[1].split(b"\n")[0])
    lines = data[start:].split(b"\n")
    test.assertEqual(b"xref", lines[0])
    count = int(lines[1].split()[1])
    for number in range(1, count):
        offset = int(lines[2 + number].split()[0])
        test.assertTrue(data[offset:].startswith(b"%d 0 obj" % number), number)


def check_zip(test, data):
    with tempfile.TemporaryFile() as f:
        f.write(data)
        with zipfile.ZipFile(f) as archive:
            test.assertIsNone(archive.testzip())
            test.assertIn("[Content_Types].xml", archive.namelist())


def check_csv(test, data):
    rows = data.decode("ascii").split("\r\n")
    test.assertTrue(all(row.count(",") == rows[0].count(",") > 0 for row in rows))


CHECKS = {"text/csv": check_csv, "image/png": check_png, "image/jpeg": check_jpeg, "application/pdf": check_pdf,
          make_samples.DOCX_TYPE: check_zip, make_samples.XLSX_TYPE: check_zip}


class AttachmentFiles(unittest.TestCase):
    def test_every_attachment_is_a_valid_file(self):
        seen = set()
        for name, data in committed().items():
            message = email.message_from_bytes(data, policy=email.policy.compat32)
            for media, payload in attachments(message):
                with self.subTest(file=name, type=media):
                    CHECKS[media](self, payload)
                seen.add(media)
        self.assertEqual(set(CHECKS), seen)


CLIPSUM = os.environ.get("CLIPSUM", os.path.join(HERE, "..", "build", "native", "clipsum"))


@unittest.skipUnless(os.access(CLIPSUM, os.X_OK), "no clipsum program (set CLIPSUM or run script/build)")
class EngineOnTheSamples(unittest.TestCase):
    """The engine, through clipsum, on the sample Inbox: the messages the host
    lists (top-level multipart/mixed) stripped in place with a backup, then
    checked by mailcheck."""

    def test_every_sample_comes_out_right(self):
        work = tempfile.mkdtemp(prefix="samples-")
        self.addCleanup(shutil.rmtree, work)
        inbox, trash = os.path.join(work, "Inbox"), os.path.join(work, "Trash")
        shutil.copytree(make_samples.INBOX, inbox)
        os.mkdir(trash)
        listed = [name for name, data in committed().items() if mailcheck.is_listed(data)]
        run = subprocess.run([CLIPSUM, "strip", "--all", "--in-place", "--backup-dir", trash, "--"] + listed,
                             cwd=inbox, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self.assertEqual(0, run.returncode, run.stdout.decode("utf-8", "replace"))
        report = mailcheck.check(make_samples.INBOX, inbox, trash)
        self.assertEqual([], [(e["file"], e["problems"]) for e in report["messages"] if e["problems"]])
        self.assertTrue(report["ok"])


class BulkGenerator(unittest.TestCase):
    def generate(self, count, seed):
        folder = tempfile.mkdtemp(prefix="bulk-")
        self.addCleanup(shutil.rmtree, folder)
        make_bulk.write_bulk(folder, count, seed)
        found = {}
        for name in sorted(os.listdir(folder)):
            with open(os.path.join(folder, name), "rb") as f:
                found[name] = f.read()
        return found

    def test_same_seed_same_bytes_and_half_with_attachments(self):
        first = self.generate(40, 7)
        self.assertEqual(first, self.generate(40, 7))
        self.assertNotEqual(first, self.generate(40, 8))
        outcomes = [mailcheck.expectation(data, False)[0] for data in first.values()]
        self.assertEqual(20, outcomes.count("stripped"))
        self.assertEqual(20, outcomes.count("no attachments"))


if __name__ == "__main__":
    unittest.main()
