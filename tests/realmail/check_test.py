#!/usr/bin/env python3
"""The judge of real mail must itself be trusted: fed a stand-in clipsum
whose output is chosen per message, it must see each kind of fault."""

import contextlib
import io
import os
import shutil
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check  # noqa: E402

# Answers `strip --stdout FILE` with FILE.out when there is one (a stripped
# message), else with FILE itself (left alone); FILE.fail makes it fail.
FAKE_CLIPSUM = """#!/bin/sh
[ -e "$4.fail" ] && { echo "clipsum: $4: cannot read" >&2; exit 1; }
[ -e "$4.out" ] && exec cat "$4.out"
exec cat "$4"
"""

HEAD = (b"Received: from mx.example.net by mail.example.net; Mon, 1 Jul 2024 10:00:00 +0900\r\n"
        b"From: Alice <alice@example.net>\r\nSubject: Report\r\n"
        b"X-Long: first line\r\n\tsecond line\r\nMIME-Version: 1.0\r\n")
MIXED = HEAD + (b"Content-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
                b"--b1\r\nContent-Type: multipart/alternative; boundary=\"b2\"\r\n\r\n"
                b"--b2\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nHello Bob,\r\nthe report.\r\n"
                b"--b2\r\nContent-Type: text/html\r\n\r\n<p>Hello Bob</p>\r\n--b2--\r\n"
                b"--b1\r\nContent-Type: text/plain; name=\"data.csv\"\r\nContent-Disposition: attachment\r\n\r\n"
                b"a,b\r\n1,2\r\n"
                b"--b1\r\nContent-Type: text/plain\r\n\r\n-- \r\nlist footer\r\n--b1--\r\n")
KEPT = HEAD + b"Content-Type: text/plain; charset=us-ascii\r\n\r\nHello Bob,\r\nthe report.\r\n"


def stripped_to(body, head=HEAD, content=b"Content-Type: text/plain\r\n"):
    return head + content + b"\r\n" + body


class CheckerTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="realmail-check-test-")
        self.clipsum = os.path.join(self.folder, "clipsum")
        with open(self.clipsum, "w") as f:
            f.write(FAKE_CLIPSUM)
        os.chmod(self.clipsum, 0o755)
        self.messages = os.path.join(self.folder, "messages")
        os.mkdir(self.messages)

    def tearDown(self):
        shutil.rmtree(self.folder)

    def add(self, name, message, output=None, fail=False):
        path = os.path.join(self.messages, name)
        with open(path, "wb") as f:
            f.write(message)
        if output is not None:
            with open(path + ".out", "wb") as f:
                f.write(output)
        if fail:
            open(path + ".fail", "wb").close()

    def run_checker(self, *options):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            status = check.main(["--clipsum", self.clipsum, "-v"] + list(options) + [self.messages])
        table = dict((line[:18].strip(), int(line[18:])) for line in out.getvalue().splitlines()
                     if line[:18].strip() and line[18:].strip().isdigit())
        return status, table, out.getvalue()

    def test_a_clean_strip_and_a_message_left_alone_pass_strict(self):
        self.add("good.eml", MIXED, KEPT.replace(b"\r\n", b"\n") + b"\n\n")
        self.add("single.eml", KEPT)
        status, table, _ = self.run_checker("--strict")
        self.assertEqual(status, 0)
        self.assertEqual((table["total"], table["left alone"], table["stripped"], table["text kept"]), (2, 1, 1, 1))
        self.assertEqual(table["wrong part"] + table["lost"] + table["headers broken"], 0)

    def test_the_footer_or_the_attachment_instead_of_the_text_is_the_wrong_part(self):
        self.add("footer.eml", MIXED, stripped_to(b"-- \r\nlist footer\r\n"))
        self.add("attachment.eml", MIXED, stripped_to(b"a,b\r\n1,2\r\n"))
        self.add("html.eml", MIXED, stripped_to(b"<p>Hello Bob</p>\r\n", content=b"Content-Type: text/html\r\n"))
        status, table, report = self.run_checker("--strict")
        self.assertEqual(status, 1)
        self.assertEqual(table["wrong part"], 3)
        for name in ("footer.eml", "attachment.eml", "html.eml"):
            self.assertIn(name + ": wrong part", report)

    def test_text_that_is_no_part_or_an_output_still_multipart_is_lost(self):
        # The text kept, but its transfer encoding dropped: the person sees the coded form.
        qp = MIXED.replace(b"charset=us-ascii\r\n\r\nHello Bob,",
                           b"charset=us-ascii\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\nHello=20Bob,")
        self.add("undecoded.eml", qp, stripped_to(b"Hello=20Bob,\r\nthe report.\r\n"))
        self.add("multipart.eml", MIXED, MIXED.replace(b"a,b\r\n1,2\r\n", b""))
        status, table, report = self.run_checker()
        self.assertEqual(status, 0, "without --strict the run reports, never fails")
        self.assertEqual(table["lost"], 2)
        self.assertIn("multipart.eml: lost: the output is still multipart", report)

    def test_the_text_is_found_where_a_person_reads_it(self):
        # A forwarded message's text and a plain-text file marked as an
        # attachment are not the person's text; a part with no Content-Type
        # is plain text; no plain text at all is not judged.
        forward = HEAD + (b"Content-Type: multipart/mixed; boundary=\"f\"\r\n\r\n"
                          b"--f\r\nContent-Type: message/rfc822\r\n\r\nSubject: old\r\n\r\nold text\r\n"
                          b"--f\r\n\r\nSee below.\r\n--f--\r\n")
        self.add("forward-right.eml", forward, stripped_to(b"See below.\r\n"))
        self.add("forward-wrong.eml", forward, stripped_to(b"old text\r\n"))
        attached_first = HEAD + (b"Content-Type: multipart/mixed; boundary=\"a\"\r\n\r\n"
                                 b"--a\r\nContent-Type: text/plain\r\nContent-Disposition: attachment\r\n\r\n"
                                 b"a,b\r\n--a\r\nContent-Type: text/plain\r\n\r\nThe data.\r\n--a--\r\n")
        self.add("attached-first.eml", attached_first, stripped_to(b"The data.\r\n"))
        html_only = HEAD + (b"Content-Type: multipart/mixed; boundary=\"h\"\r\n\r\n"
                            b"--h\r\nContent-Type: text/html\r\n\r\n<p>hi</p>\r\n--h--\r\n")
        self.add("html-only.eml", html_only, stripped_to(b"<p>hi</p>\r\n"))
        _, table, report = self.run_checker()
        self.assertEqual((table["text kept"], table["wrong part"], table["no text part"]), (2, 1, 1))
        self.assertIn("forward-wrong.eml: wrong part", report)

    def test_a_header_field_dropped_reordered_or_pushed_into_the_body_breaks_the_headers(self):
        body = b"Hello Bob,\r\nthe report.\r\n"
        self.add("dropped.eml", MIXED, stripped_to(body, head=HEAD.replace(b"Subject: Report\r\n", b"")))
        self.add("reordered.eml", MIXED, stripped_to(body, head=HEAD.replace(
            b"From: Alice <alice@example.net>\r\nSubject: Report\r\n",
            b"Subject: Report\r\nFrom: Alice <alice@example.net>\r\n")))
        # A continuation line that lost its indentation ends the header early.
        self.add("unfolded.eml", MIXED, stripped_to(body, head=HEAD.replace(b"\tsecond line", b"second line")))
        status, table, report = self.run_checker("--strict")
        self.assertEqual(status, 1)
        self.assertEqual(table["headers broken"], 3)
        self.assertIn("dropped.eml: headers broken: subject missing", report)

    def test_an_encrypted_message_must_come_out_unchanged(self):
        pgp = HEAD + (b"Content-Type: multipart/encrypted; protocol=\"application/pgp-encrypted\"; boundary=\"e\"\r\n\r\n"
                      b"--e\r\nContent-Type: application/pgp-encrypted\r\n\r\nVersion: 1\r\n"
                      b"--e\r\nContent-Type: application/octet-stream\r\n\r\n-----BEGIN PGP MESSAGE-----\r\n--e--\r\n")
        smime_inside = MIXED.replace(b"Content-Type: text/plain; name=\"data.csv\"",
                                     b"Content-Type: application/x-pkcs7-mime; smime-type=enveloped-data")
        self.add("pgp-kept.eml", pgp)
        self.add("pgp-changed.eml", pgp, stripped_to(b"Version: 1\r\n"))
        self.add("smime-inside.eml", smime_inside, KEPT)
        status, table, report = self.run_checker("--strict")
        self.assertEqual(status, 1)
        self.assertEqual(table["encrypted changed"], 2)
        self.assertNotIn("pgp-kept.eml", report)

    def test_a_failed_run_is_a_fault(self):
        self.add("unreadable.eml", MIXED, fail=True)
        status, table, report = self.run_checker("--strict")
        self.assertEqual((status, table["clipsum failed"]), (1, 1))
        self.assertIn("unreadable.eml: clipsum failed: clipsum:", report)


if __name__ == "__main__":
    unittest.main()
