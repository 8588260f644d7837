#!/usr/bin/env python3
"""Tests of tools/mailcheck over small mailboxes built in temporary folders."""

import contextlib
import importlib.machinery
import importlib.util
import io
import json
import os
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # keep __pycache__ out of the source tree
_loader = importlib.machinery.SourceFileLoader(
    "mailcheck", os.path.join(os.path.dirname(os.path.abspath(__file__)), "mailcheck"))
_spec = importlib.util.spec_from_loader("mailcheck", _loader)
mailcheck = importlib.util.module_from_spec(_spec)
_loader.exec_module(mailcheck)

TOP = (b"From: Alice <alice@example.com>\r\n"
       b"To: t.yamada@example.jp\r\n"
       b"Subject: =?UTF-8?B?6KaL56mN5pu4?=\r\n"   # 見積書
       b"MIME-Version: 1.0\r\n")

ORIGINAL = TOP + (
    b"Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
    b"\r\n"
    b"This is a multi-part message in MIME format.\r\n"
    b"--b1\r\n"
    b"Content-Type: text/plain; charset=UTF-8\r\n"
    b"Content-Transfer-Encoding: 8bit\r\n"
    b"\r\n"
    b"line one\r\n"
    b"\xe8\xa1\x8c\xe4\xba\x8c\r\n"
    b"\r\n"
    b"--b1\r\n"
    b"Content-Type: application/pdf; name=\"quote.pdf\"\r\n"
    b"Content-Disposition: attachment; filename=\"quote.pdf\"\r\n"
    b"Content-Transfer-Encoding: base64\r\n"
    b"\r\n"
    b"JVBERi0xLjQKJeLjz9MKMSAwIG9iago8PCAvVHlwZSAvQ2F0YWxvZyA+Pgo=\r\n"
    b"QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=\r\n"
    b"\r\n"
    b"--b1--\r\n")

STRIPPED = TOP + (
    b"Content-Type: text/plain; charset=UTF-8\r\n"
    b"Content-Transfer-Encoding: 8bit\r\n"
    b"\r\n"
    b"line one\r\n"
    b"\xe8\xa1\x8c\xe4\xba\x8c\r\n")

PLAIN = TOP + b"Content-Type: text/plain; charset=us-ascii\r\n\r\nNo attachment here.\r\n"


def multipart(parts, boundary=b"b1", top=TOP, preamble=b""):
    out = top + b"Content-Type: multipart/mixed; boundary=\"" + boundary + b"\"\r\n\r\n" + preamble
    for part in parts:
        out += b"--" + boundary + b"\r\n" + part + b"\r\n"
    return out + b"--" + boundary + b"--\r\n"


def text(body, charset=b"us-ascii", extra=b""):
    return b"Content-Type: text/plain; charset=" + charset + b"\r\n" + extra + b"\r\n" + body


def pdf_part(name=b"a.pdf"):
    return (b"Content-Type: application/pdf; name=\"" + name + b"\"\r\nContent-Transfer-Encoding: base64\r\n\r\n"
            b"JVBERi0xLjQKJeLjz9MKMSAwIG9iago8PCAvVHlwZSAvQ2F0YWxvZyA+Pgo=\r\n")


def html(body):
    return b"Content-Type: text/html; charset=us-ascii\r\n\r\n" + body


def alternative(parts, boundary=b"alt"):
    out = b"Content-Type: multipart/alternative; boundary=\"" + boundary + b"\"\r\n\r\n"
    for part in parts:
        out += b"--" + boundary + b"\r\n" + part + b"\r\n"
    return out + b"--" + boundary + b"--\r\n"


class Mailbox:
    """original/, inbox/ and trash/ folders in a temporary directory."""

    def __init__(self, test):
        self.root = tempfile.mkdtemp(prefix="mailcheck-")
        test.addCleanup(self._remove)
        for name in ("original", "inbox", "trash"):
            os.mkdir(os.path.join(self.root, name))

    def _remove(self):
        for folder, _, files in os.walk(self.root, topdown=False):
            for name in files:
                os.remove(os.path.join(folder, name))
            os.rmdir(folder)

    def path(self, folder):
        return os.path.join(self.root, folder)

    def put(self, folder, name, data):
        with open(os.path.join(self.root, folder, name), "wb") as f:
            f.write(data)

    def message(self, name, before, after, trash_copy=None):
        """An original and its state after the run, and optionally a trash file."""
        self.put("original", name, before)
        if after is not None:
            self.put("inbox", name, after)
        if trash_copy is not None:
            self.put("trash", "copy-of-" + name, trash_copy)

    def check(self, backup=True, html_off=False):
        return mailcheck.check(self.path("original"), self.path("inbox"), self.path("trash"), backup, html_off)


def problems(report, name):
    return [p for e in report["messages"] if e["file"] == name for p in e["problems"]]


class CorrectRunsPass(unittest.TestCase):
    def test_stripped_message_with_its_original_in_the_trash(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, STRIPPED, trash_copy=ORIGINAL)
        box.message("002.eml", PLAIN, PLAIN)
        report = box.check()
        self.assertTrue(report["ok"], report)
        stripped, plain = report["messages"]
        self.assertEqual("stripped", stripped["outcome"])
        self.assertEqual("見積書", stripped["subject"])
        self.assertEqual([{"type": "application/pdf", "filename": "quote.pdf"}], stripped["removed"])
        self.assertTrue(stripped["in_trash"])
        self.assertEqual("no attachments", plain["outcome"])
        self.assertEqual(len(ORIGINAL) - len(STRIPPED), report["totals"]["bytes_saved"])

    def test_lf_only_original_may_come_back_with_crlf(self):
        box = Mailbox(self)
        original = ORIGINAL.replace(b"\r\n", b"\n")
        box.message("001.eml", original, STRIPPED, trash_copy=original)
        self.assertTrue(box.check()["ok"])

    def test_no_backup_asked_for(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, STRIPPED)
        self.assertTrue(box.check(backup=False)["ok"])

    def test_final_blank_line_may_go_but_a_last_text_line_must_stay(self):
        # The text part's last line runs straight into the delimiter: it is text, not the delimiter's line break.
        tight = multipart([text(b"hello\r\nsigned"), pdf_part()]).replace(b"signed\r\n\r\n--b1", b"signed\r\n--b1")
        top_text = TOP + b"Content-Type: text/plain; charset=us-ascii\r\n\r\n"
        for after, passes in ((top_text + b"hello\r\nsigned\r\n", True), (top_text + b"hello\r\n", False)):
            box = Mailbox(self)
            box.message("tight.eml", tight, after, trash_copy=tight)
            report = box.check()
            self.assertEqual(passes, report["ok"], problems(report, "tight.eml"))

    def test_empty_text_part_leaves_the_preamble_as_body(self):
        original = multipart([b"Content-Type: text/plain\r\n", pdf_part()], preamble=b"Scanned.\r\n")
        original = original.replace(b"text/plain\r\n\r\n\r\n--b1", b"text/plain\r\n\r\n--b1")
        after = TOP + b"Content-Type: text/plain\r\n\r\nScanned.\r\n"
        box = Mailbox(self)
        box.message("scan.eml", original, after, trash_copy=original)
        self.assertTrue(box.check()["ok"])


class FaultsAreCaught(unittest.TestCase):
    def assertFails(self, box, name, fragment, **options):
        report = box.check(**options)
        self.assertFalse(report["ok"])
        self.assertIn(name, report["failed"])
        self.assertTrue(any(fragment in p for p in problems(report, name)), problems(report, name))

    def test_lost_text_line(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, STRIPPED.replace(b"line one\r\n", b""), trash_copy=ORIGINAL)
        self.assertFails(box, "001.eml", "text differs at body line 1")

    def test_changed_text_byte(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, STRIPPED.replace(b"line one", b"line 0ne"), trash_copy=ORIGINAL)
        self.assertFails(box, "001.eml", "text differs")

    def test_leftover_attachment_data(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, STRIPPED + b"QUJDREVGR0hJSktMTU5PUFFSU1RVVldYWVo=\r\n", trash_copy=ORIGINAL)
        self.assertFails(box, "001.eml", "data of quote.pdf left")

    def test_message_not_stripped_at_all(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, ORIGINAL, trash_copy=ORIGINAL)
        report = box.check()
        self.assertIn("still multipart at the top level", problems(report, "001.eml"))
        self.assertIn("delimiter line of boundary b1 left", problems(report, "001.eml"))
        self.assertIn("header of quote.pdf left", problems(report, "001.eml"))

    def test_missing_trash_copy(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, STRIPPED)
        self.assertFails(box, "001.eml", "not found in the trash")

    def test_trash_copy_must_be_the_untouched_original(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, STRIPPED, trash_copy=STRIPPED)
        report = box.check()
        self.assertIn("untouched original not found in the trash", problems(report, "001.eml"))
        self.assertTrue(any("stripped form" in p for p in problems(report, "001.eml")))

    def test_copy_made_without_backup_or_without_strip(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, STRIPPED, trash_copy=ORIGINAL)
        self.assertFails(box, "001.eml", "no backup was asked for", backup=False)
        box = Mailbox(self)
        box.message("002.eml", PLAIN, PLAIN, trash_copy=PLAIN)
        self.assertFails(box, "002.eml", "though it was not stripped")

    def test_changed_untouched_message(self):
        box = Mailbox(self)
        box.message("002.eml", PLAIN, PLAIN.replace(b"\r\n", b"\n"))
        self.assertFails(box, "002.eml", "should be untouched (no attachments)")

    def test_missing_and_unexpected_messages(self):
        box = Mailbox(self)
        box.message("002.eml", PLAIN, None)
        box.put("inbox", "new.eml", PLAIN)
        report = box.check()
        self.assertEqual(["002.eml", "new.eml"], report["failed"])

    def test_header_damage(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, STRIPPED.replace(b"To: t.yamada@example.jp\r\n", b""), trash_copy=ORIGINAL)
        self.assertFails(box, "001.eml", "header field lost: To:")
        box = Mailbox(self)
        twice = STRIPPED.replace(b"MIME-Version: 1.0\r\n", b"MIME-Version: 1.0\r\nContent-Transfer-Encoding: 7bit\r\n")
        box.message("001.eml", ORIGINAL, twice, trash_copy=ORIGINAL)
        self.assertFails(box, "001.eml", "declares content-transfer-encoding twice")

    def test_transfer_encoding_not_carried(self):
        # The text part is base64 and gives its encoding first: without it the body is read as raw base64.
        original = multipart([b"Content-Transfer-Encoding: base64\r\n" + text(b"aGVsbG8=\r\n"), pdf_part()])
        after = TOP + b"Content-Type: text/plain; charset=us-ascii\r\n\r\naGVsbG8=\r\n"
        box = Mailbox(self)
        box.message("001.eml", original, after, trash_copy=original)
        report = box.check()
        self.assertIn("kept part's field not carried: Content-Transfer-Encoding: base64", problems(report, "001.eml"))
        self.assertIn("text decodes differently (charset or transfer encoding not carried)",
                      problems(report, "001.eml"))


class WhatShouldHappen(unittest.TestCase):
    """The expected outcome and kept part, found as the reduction finds them."""

    def kept_type(self, message):
        outcome, tree = mailcheck.expectation(message, False)
        self.assertEqual("stripped", outcome)
        kept = mailcheck.kept_chain(tree)[-1]
        return kept.message.get_content_type(), bytes(kept.body[0])

    def test_choice_of_the_kept_part(self):
        cases = [
            ("text first", [text(b"body\r\n"), pdf_part()], "text/plain", b"body"),
            ("text second", [pdf_part(), text(b"body\r\n")], "text/plain", b"body"),
            ("attachment before alternative", [pdf_part(), alternative([text(b"alt text\r\n"), html(b"<p>x</p>\r\n")])],
             "text/plain", b"alt text"),
            ("no text/plain anywhere", [html(b"<p>only html</p>\r\n"), pdf_part()], "text/html", b"<p>only html</p>"),
            ("the body in an alternative beats a later text/plain attachment",
             [alternative([text(b"alt text\r\n"), html(b"<p>x</p>\r\n")]),
              text(b"notes\r\n", extra=b"Content-Disposition: attachment; filename=\"n.txt\"\r\n")],
             "text/plain", b"alt text"),
            ("the body in an alternative beats a later list footer",
             [alternative([text(b"alt text\r\n"), html(b"<p>x</p>\r\n")]), text(b"To unsubscribe\r\n")],
             "text/plain", b"alt text"),
            ("a text attachment is kept only when there is no other text",
             [pdf_part(), text(b"notes\r\n", extra=b"Content-Disposition: attachment; filename=\"n.txt\"\r\n")],
             "text/plain", b"notes"),
            ("a part without Content-Type is text", [pdf_part(), b"\r\nplain words\r\n"], "text/plain",
             b"plain words"),
            ("upper-case TEXT/PLAIN", [pdf_part(), b"Content-Type: TEXT/PLAIN\r\n\r\nshouted\r\n"],
             "text/plain", b"shouted"),
            ("text/plain only in a parameter", [pdf_part(), b"Content-Type: application/x-memo; note=\"text/plain\"\r\n"
                                                b"\r\nmemo\r\n"], "application/x-memo", b"memo"),
        ]
        for label, parts, media, first_line in cases:
            with self.subTest(label):
                self.assertEqual((media, first_line), self.kept_type(multipart(parts)))

    def test_header_lines_read_to_the_blank_line(self):
        # A broken header line would end the header for the email package; the engine reads on.
        broken = TOP.replace(b"MIME-Version", b"X-Relay: a\r\n[192.0.2.1]\r\nMIME-Version")
        message = multipart([text(b"body\r\n"), pdf_part()], top=broken)
        self.assertEqual(("text/plain", b"body"), self.kept_type(message))
        with self.assertRaises(ValueError):
            mailcheck.expectation(multipart([text(b"x\r\n", extra=b"Content-Type: text/html\r\n")]), False)

    def test_messages_left_alone(self):
        deep = text(b"innermost\r\n")
        for level in range(70, 0, -1):
            boundary = b"lv%d" % level
            deep = (b"Content-Type: multipart/mixed; boundary=\"" + boundary + b"\"\r\n\r\n--" + boundary + b"\r\n"
                    + deep + b"\r\n--" + boundary + b"--\r\n")
        marker = TOP.replace(b"MIME-Version", b"X-Original-Content-Type: text/html\r\nMIME-Version")
        lower = TOP.replace(b"MIME-Version", b"X-Note: content-type: text/html\r\nMIME-Version")
        alternative_top = TOP + alternative([text(b"a\r\n"), html(b"<p>a</p>\r\n")])
        cases = [
            ("single part", PLAIN, False, "no attachments"),
            ("top-level alternative", alternative_top, False, "no attachments"),
            ("boundary never used", multipart([text(b"x\r\n")]).replace(b"--b1", b"--B1"), False, "not multipart"),
            ("delimiter with a trailing blank", multipart([text(b"x\r\n")]).replace(b"--b1\r\n", b"--b1 \r\n"), False,
             "not multipart"),
            ("nested 70 deep", TOP + deep, False, "nested too deep"),
            ("HTML marker, setting off", multipart([text(b"x\r\n"), pdf_part()], top=marker), False, "stripped"),
            ("HTML marker, setting on", multipart([text(b"x\r\n"), pdf_part()], top=marker), True,
             "HTML header (HtmlMsgOff)"),
            ("lower-case marker, setting on", multipart([text(b"x\r\n"), pdf_part()], top=lower), True, "stripped"),
        ]
        for label, message, html_off, outcome in cases:
            with self.subTest(label):
                self.assertEqual(outcome, mailcheck.expectation(message, html_off)[0])


class CommandLine(unittest.TestCase):
    def run_main(self, *args):
        out = io.StringIO()
        status = mailcheck.main(list(args), out)
        return status, out.getvalue()

    def test_table_json_and_exit_status(self):
        box = Mailbox(self)
        box.message("001.eml", ORIGINAL, STRIPPED, trash_copy=ORIGINAL)
        status, text_out = self.run_main(box.path("original"), box.path("inbox"), box.path("trash"))
        self.assertEqual(0, status)
        self.assertIn("見積書", text_out)
        self.assertIn("application/pdf quote.pdf", text_out)
        self.assertIn("mailcheck: all checks passed", text_out)
        status, json_out = self.run_main("--json", box.path("original"), box.path("inbox"), box.path("trash"))
        self.assertEqual(0, status)
        self.assertTrue(json.loads(json_out)["ok"])

        box.put("inbox", "001.eml", ORIGINAL)
        status, text_out = self.run_main(box.path("original"), box.path("inbox"), box.path("trash"))
        self.assertEqual(1, status)
        self.assertIn("mailcheck: 1 failed: 001.eml", text_out)

    def test_trash_folder_required_unless_no_backup(self):
        box = Mailbox(self)
        with self.assertRaises(SystemExit) as raised, contextlib.redirect_stderr(io.StringIO()):
            mailcheck.main([box.path("original"), box.path("inbox")], io.StringIO())
        self.assertEqual(2, raised.exception.code)
        status, _ = self.run_main("--no-trash", box.path("original"), box.path("inbox"))
        self.assertEqual(0, status)


if __name__ == "__main__":
    unittest.main()
