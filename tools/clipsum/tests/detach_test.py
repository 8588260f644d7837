#!/usr/bin/env python3
"""clipsum strip --note and --save-dir, judged by Python's email package:
files attached by it (every transfer encoding, every form of name) come back
from the saved folder byte for byte; the note names each part as its own
header wrote it and leaves the text byte for byte; hostile names and parts
stay inside the folder, and a message whose parts cannot all be saved is left
as it was, with no file of it left behind.

    detach_test.py            (CLIPSUM names the program)
"""

import base64
import email
import email.policy
import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest
from email.message import EmailMessage
from email.utils import parsedate_to_datetime

CLIPSUM = os.environ.get("CLIPSUM", os.path.join(os.path.dirname(__file__), "..", "..", "..", "build", "native",
                                                 "clipsum"))
DATE = "Tue, 02 Mar 2021 10:00:00 +0900"
PDF = b"%PDF-1.4\n" + bytes(range(1, 256)) * 40


def clipsum(*arguments, check=True):
    done = subprocess.run([CLIPSUM] + [str(a) for a in arguments], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          timeout=600)
    if check and done.returncode != 0:
        raise AssertionError("clipsum %s: %d\n%s" % (arguments, done.returncode, done.stderr.decode()))
    return done


def new_message(subject="Documents"):
    m = EmailMessage()
    m["From"] = "Keiko Sato <keiko@example.co.jp>"
    m["To"] = "accounts@example.com"
    m["Subject"] = subject
    m["Date"] = DATE
    m.set_content("Hello,\n\nthe files are attached.\n")
    return m


def raw_part(headers, body):
    """A part written by hand, for the forms the email package does not write."""
    return headers, body


def assemble(parts, subject="Documents", text=b"Hello,\r\n\r\nthe files are attached.\r\n"):
    """A multipart message of a text part and hand-written parts (headers, body bytes)."""
    out = [b"From: keiko@example.co.jp\r\nSubject: " + subject.encode() + b"\r\nDate: " + DATE.encode() +
           b"\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"XyZ\"\r\n\r\n",
           b"--XyZ\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + text + b"\r\n"]
    for headers, body in parts:
        out.append(b"--XyZ\r\n" + headers + b"\r\n\r\n" + body + b"\r\n")
    out.append(b"--XyZ--\r\n")
    return b"".join(out)


def tree(root):
    """Every file under root, with a digest of its bytes."""
    found = {}
    for folder, _, files in os.walk(root):
        for name in files:
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = hashlib.sha256(f.read()).hexdigest()
    return found


def saved(folder):
    result = {}
    for name in os.listdir(folder):
        if os.path.islink(os.path.join(folder, name)):
            continue
        with open(os.path.join(folder, name), "rb") as f:
            result[name] = f.read()
    return result


class Scratch(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="clipsum-detach-")
        self.mail = os.path.join(self.root, "mail")
        self.out = os.path.join(self.root, "saved")
        os.makedirs(self.mail)
        os.makedirs(self.out)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def put(self, name, data):
        path = os.path.join(self.mail, name)
        with open(path, "wb") as f:
            f.write(data if isinstance(data, bytes) else data.as_bytes(policy=email.policy.SMTP))
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def detach(self, *paths, check=True, extra=()):
        report = os.path.join(self.root, "report.json")
        done = clipsum("strip", "--in-place", "--note", "--save-dir", self.out, "--report", report, *extra, *paths,
                       check=check)
        with open(report, encoding="utf-8") as f:
            self.records = [json.loads(line) for line in f]
        return done


class SavedBytes(Scratch):
    """What is saved is what the sender attached."""

    def test_every_transfer_encoding_saves_the_attached_bytes(self):
        m = new_message()
        m.add_attachment(PDF, maintype="application", subtype="pdf", filename="figures.pdf")
        m.add_attachment("Résumé: naïve café\nline two\n", subtype="plain", cte="quoted-printable",
                         filename="notes-qp.txt")
        m.add_attachment("Grüße aus Köln\nzweite Zeile\n", subtype="plain", cte="8bit", filename="notes-8bit.txt")
        m.add_attachment(b"plain ascii\r\nsecond line", maintype="application", subtype="x-data", cte="7bit",
                         filename="data-7bit.bin")
        data = m.as_bytes(policy=email.policy.SMTP)
        path = self.put("m.eml", data)
        self.detach(path)

        # Python's own decoding of the message it wrote is the reference.
        expected = {p.get_filename(): p.get_payload(decode=True)
                    for p in email.message_from_bytes(data, policy=email.policy.default).iter_attachments()}
        self.assertEqual(expected["figures.pdf"], PDF)
        self.assertEqual(saved(self.out), expected)

    def test_binary_uuencoded_and_unknown_encodings_are_saved_as_written(self):
        binary = bytes(b for b in range(1, 256) if b not in (10, 13)) + b"\r\nmore \xff\xfe bytes"
        uu = b"begin 644 a.txt\r\n#86)C\r\n`\r\nend"
        unknown = b"=?x-whatever?= 12 34\r\nabc"
        path = self.put("m.eml", assemble([
            (b"Content-Type: application/octet-stream; name=\"raw.bin\"\r\nContent-Transfer-Encoding: binary", binary),
            (b"Content-Type: text/plain; name=\"a.uu\"\r\nContent-Disposition: attachment\r\n"
             b"Content-Transfer-Encoding: x-uuencode", uu),
            (b"Content-Type: application/x-thing; name=\"odd.dat\"\r\nContent-Transfer-Encoding: x-gzip64", unknown),
        ]))
        self.detach(path)
        self.assertEqual(saved(self.out), {"raw.bin": binary, "a.uu": uu, "odd.dat": unknown})

    def test_names_in_every_form_are_decoded(self):
        sjis = "見積書.pdf".encode("shift_jis")
        euc = "請求書.pdf".encode("euc_jp")
        jis = "報告書.pdf".encode("iso2022_jp")
        long_utf8 = "とても長い名前の添付ファイル_2024年度第一四半期の集計結果と来期の予定.xlsx"
        jis_2231 = "".join("%%%02X" % b for b in "議事録の写し.txt".encode("iso2022_jp"))
        parts = [
            # RFC 2231 with a charset, split in continuations, written by the email package below
            (b"Content-Type: text/plain; charset=us-ascii\r\nContent-Disposition: attachment;\r\n"
             b" filename*0*=iso-2022-jp'ja'" + jis_2231[:21].encode() + b";\r\n filename*1*=" +
             jis_2231[21:].encode(), b"minutes"),
            # RFC 2047 inside the quotes, as real mail has it
            (b"Content-Type: application/pdf;\r\n name=\"=?ISO-2022-JP?B?" + base64.b64encode(jis) + b"?=\"", b"jis"),
            (b"Content-Type: application/pdf;\r\n name=\"=?Shift_JIS?B?" + base64.b64encode(sjis) + b"?=\"\r\n"
             b"Content-Disposition: attachment", b"sjis-2047"),
            # raw 8-bit names
            (b"Content-Type: application/pdf; name=\"" + "見積書-raw.pdf".encode("shift_jis") + b"\"", b"sjis"),
            (b"Content-Type: application/pdf; name=\"" + euc + b"\"", b"euc"),
            (b"Content-Type: application/pdf; name=\"" + "資料-utf8.pdf".encode() + b"\"", b"utf8"),
        ]
        m = new_message()
        m.add_attachment(b"long", maintype="application", subtype="octet-stream", filename=long_utf8)
        path = self.put("m.eml", assemble(parts))
        generated = self.put("g.eml", m)
        self.assertIn(b"filename*1*=", self.read(generated), "the email package wrote continuations")
        self.detach(path, generated)
        self.assertEqual(saved(self.out), {
            "議事録の写し.txt": b"minutes", "報告書.pdf": b"jis", "見積書.pdf": b"sjis-2047",
            "見積書-raw.pdf": b"sjis", "請求書.pdf": b"euc", "資料-utf8.pdf": b"utf8", long_utf8: b"long"})

    def test_an_unnamed_part_is_named_after_the_subject_else_the_file(self):
        image = (b"Content-Type: image/png", b"PNG")
        with_subject = self.put("a.eml", assemble([image], subject="=?UTF-8?B?" +
                                                  base64.b64encode("週報 第10週".encode()).decode() + "?="))
        without = self.put("quarterly.eml", assemble([image], subject=""))
        self.detach(with_subject, without)
        self.assertEqual(sorted(saved(self.out)), ["quarterly.png", "週報 第10週.png"])

    def test_saved_files_take_the_messages_date(self):
        m = new_message()
        m.add_attachment(PDF, maintype="application", subtype="pdf", filename="figures.pdf")
        self.detach(self.put("m.eml", m))
        self.assertEqual(os.stat(os.path.join(self.out, "figures.pdf")).st_mtime,
                         parsedate_to_datetime(DATE).timestamp())

    def test_maildir_and_mbox_messages_are_saved_too(self):
        maildir = os.path.join(self.mail, "Maildir")
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(maildir, sub))
        one = new_message("one")
        one.add_attachment(b"first", maintype="application", subtype="pdf", filename="one.pdf")
        with open(os.path.join(maildir, "cur", "1.host:2,S"), "wb") as f:
            f.write(one.as_bytes(policy=email.policy.SMTP))
        two = new_message("two")
        two.add_attachment(b"second", maintype="application", subtype="pdf", filename="two.pdf")
        mbox = self.put("box.mbox", b"From keiko@example.co.jp Tue Mar  2 10:00:00 2021\n" + two.as_bytes())
        self.detach(maildir, mbox)
        self.assertEqual(saved(self.out), {"one.pdf": b"first", "two.pdf": b"second"})
        for box_message in (self.read(os.path.join(maildir, "cur", "1.host:2,S")), self.read(mbox)):
            self.assertIn(b"X-TlClipsum-Removed: application/pdf;", box_message)


class TheNote(Scratch):
    def test_note_names_each_part_as_written_and_the_text_stays_byte_for_byte(self):
        rfc2047 = b"name=\"=?ISO-2022-JP?B?" + base64.b64encode("報告書.pdf".encode("iso2022_jp")) + b"?=\""
        parts = [
            (b"Content-Type: application/pdf; name=\"plain.pdf\"", b"JVBERi0x\r\n"),
            (b"Content-Type: application/pdf;\r\n " + rfc2047 + b"\r\nContent-Transfer-Encoding: base64",
             b"JVBERi0x"),
            (b"Content-Type: application/octet-stream\r\nContent-Disposition: attachment;\r\n"
             b" filename*=UTF-8''%E8%B3%87%E6%96%99.zip", b"zip"),
        ]
        text = b"Body line one\r\n  indented = not QP =3D\r\n\r\nlast"
        path = self.put("m.eml", assemble(parts, text=text))
        self.detach(path)
        result = self.read(path)
        header, body = result.split(b"\r\n\r\n", 1)
        self.assertEqual(body, text + b"\r\n")
        lines = header.split(b"\r\n")
        self.assertTrue(all(len(line) < 78 for line in lines), lines)
        notes = email.message_from_bytes(result, policy=email.policy.compat32).get_all("X-TlClipsum-Removed")
        unfolded = [" ".join(n.split()) for n in notes]
        self.assertEqual(unfolded, [
            'application/pdf; name="plain.pdf"; size=10; saved="plain.pdf"',
            'application/pdf; ' + rfc2047.decode() + '; size=6; saved*=UTF-8\'\'%E5%A0%B1%E5%91%8A%E6%9B%B8.pdf',
            "application/octet-stream; name*=UTF-8''%E8%B3%87%E6%96%99.zip; size=3; "
            "saved*=UTF-8''%E8%B3%87%E6%96%99.zip",
        ])
        # After the Content- fields of the text part that took the root's place.
        names = [line.split(b":")[0] for line in lines if line and line[0:1] not in (b" ", b"\t")]
        self.assertEqual(names[-4:], [b"Content-Type", b"X-TlClipsum-Removed", b"X-TlClipsum-Removed",
                                      b"X-TlClipsum-Removed"])

    def test_note_without_save_dir_gives_the_size_only(self):
        m = new_message()
        m.add_attachment(PDF, maintype="application", subtype="pdf", filename="figures.pdf")
        path = self.put("m.eml", m)
        clipsum("strip", "--in-place", "--note", path)
        self.assertIn(b'X-TlClipsum-Removed: application/pdf; name="figures.pdf"; size=%d\r\n' % len(PDF),
                      self.read(path))
        self.assertEqual(os.listdir(self.out), [])


class Hostile(Scratch):
    def test_names_that_climb_out_stay_in_the_folder(self):
        names = [b"../../escaped.txt", b"/etc/passwd", b"C:\\Windows\\system.ini", b"..", b"CON", b"nul.txt",
                 b"a\x01b\x7fc.txt", b".hidden", b"x" * 5000 + b".pdf",
                 b"=?UTF-8?B?Li4vLi4vZXNjYXBlZDI=?=", b"=?UTF-8?B?!!!broken?=", b"=?x-unknown?Q?abc?=",
                 b"\xff\xfe\xfd.bin"]
        parts = [(b"Content-Type: application/octet-stream; name=\"" + n.replace(b"\\", b"\\\\") + b"\"",
                  b"part %d" % i) for i, n in enumerate(names)]
        path = self.put("m.eml", assemble(parts))
        before = tree(self.root)
        self.detach(path)
        files = saved(self.out)
        self.assertEqual(sorted(files.values()), sorted(b"part %d" % i for i in range(len(names))))
        for name in files:
            self.assertNotIn("/", name)
            self.assertFalse(name.startswith("."), name)
            self.assertLessEqual(len(name.encode()), 216, name)
            self.assertNotIn(name.split(".")[0].upper(), ("CON", "NUL"))
        after = tree(self.root)
        changed = {p for p in set(before) | set(after) if before.get(p) != after.get(p)}
        self.assertEqual({p for p in changed if not p.startswith("saved" + os.sep)}, {"mail/m.eml", "report.json"})

    def test_broken_base64_is_saved_as_far_as_it_decodes_and_reported(self):
        good = base64.b64encode(PDF).decode()
        truncated = good[:4 * 100 + 1]          # six bits left over at the end
        garbage = good[:40] + "*#" + good[40:]  # characters outside the alphabet
        path = self.put("m.eml", assemble([
            (b"Content-Type: application/pdf; name=\"cut.pdf\"\r\nContent-Transfer-Encoding: base64",
             truncated.encode()),
            (b"Content-Type: application/pdf; name=\"dirty.pdf\"\r\nContent-Transfer-Encoding: base64",
             garbage.encode()),
        ]))
        done = self.detach(path)
        self.assertEqual(saved(self.out), {"cut.pdf": base64.b64decode(truncated[:400]),
                                           "dirty.pdf": base64.b64decode(garbage)})
        self.assertIn(b'"cut.pdf" saved as "cut.pdf" (broken base64: saved as far as it decodes)', done.stdout)
        self.assertEqual([p.get("broken_base64", False) for p in self.records[0]["removed"]], [True, True])
        self.assertIn(b"2 with broken base64", done.stdout)

    def test_ten_thousand_parts_are_all_saved(self):
        count = 10000
        parts = [(b"Content-Type: text/csv; name=\"part-%05d.csv\"\r\nContent-Disposition: attachment" % i, b"row %d" % i) for i in range(count)]
        path = self.put("m.eml", assemble(parts))
        done = self.detach(path)
        files = saved(self.out)
        self.assertEqual(len(files), count)
        self.assertEqual(files["part-09999.csv"], b"row 9999")
        self.assertEqual(self.records[0]["saved_count"], count)
        self.assertIn(b"and %d more (%d saved in all)" % (count - 16, count), done.stdout)
        self.assertEqual(self.read(path).count(b"X-TlClipsum-Removed:"), count)

    def test_a_taken_name_gets_a_number_and_nothing_is_overwritten(self):
        with open(os.path.join(self.out, "a.txt"), "wb") as f:
            f.write(b"mine")
        outside = os.path.join(self.root, "outside.txt")
        os.symlink(outside, os.path.join(self.out, "b.txt"))
        parts = [(b"Content-Type: text/plain; name=\"a.txt\"\r\nContent-Disposition: attachment", b"first"),
                 (b"Content-Type: text/plain; name=\"a.txt\"\r\nContent-Disposition: attachment", b"second"),
                 (b"Content-Type: text/plain; name=\"b.txt\"\r\nContent-Disposition: attachment", b"third")]
        self.detach(self.put("m.eml", assemble(parts)))
        self.assertFalse(os.path.exists(outside), "the planted link was not followed")
        self.assertEqual(saved(self.out)["a.txt"], b"mine")
        self.assertEqual({n: d for n, d in saved(self.out).items() if n != "b.txt" and n != "a.txt"},
                         {"a (2).txt": b"first", "a (3).txt": b"second", "b (2).txt": b"third"})

    def test_a_part_that_cannot_be_saved_leaves_the_message_unchanged_and_no_file_of_it(self):
        # Every name from "same.txt" to "same (999).txt" is taken by the message's own parts.
        parts = [(b"Content-Type: text/plain; name=\"same.txt\"\r\nContent-Disposition: attachment", b"x")] * 1000
        data = assemble(parts)
        path = self.put("m.eml", data)
        other = new_message()
        other.add_attachment(b"kept", maintype="application", subtype="pdf", filename="other.pdf")
        other_path = self.put("n.eml", other)
        done = self.detach(path, other_path, check=False)
        self.assertEqual(done.returncode, 1)
        self.assertEqual(self.read(path), data)
        self.assertEqual(saved(self.out), {"other.pdf": b"kept"})
        self.assertIn(b"the message is left unchanged", done.stderr)
        self.assertEqual([r["outcome"] for r in self.records], ["failed", "stripped"])


class Modes(Scratch):
    def message(self):
        m = new_message()
        m.add_attachment(PDF, maintype="application", subtype="pdf", filename="figures.pdf")
        return self.put("m.eml", m)

    def test_dry_run_names_the_files_and_writes_nothing(self):
        path = self.message()
        original = self.read(path)
        done = clipsum("strip", "--dry-run", "--note", "--save-dir", self.out, path)
        self.assertEqual(os.listdir(self.out), [])
        self.assertEqual(self.read(path), original)
        self.assertIn(b'saved as "figures.pdf"', done.stdout)
        self.assertIn(b"1 files would be saved in", done.stdout)

    def test_stdout_saves_the_files_and_prints_the_message_with_its_note(self):
        path = self.message()
        original = self.read(path)
        done = clipsum("strip", "--stdout", "--note", "--save-dir", self.out, path)
        self.assertEqual(saved(self.out), {"figures.pdf": PDF})
        self.assertIn(b'saved="figures.pdf"', done.stdout)
        self.assertEqual(self.read(path), original)

    def test_an_unusable_folder_is_refused_before_any_file_is_touched(self):
        path = self.message()
        original = self.read(path)
        a_file = os.path.join(self.root, "a-file")
        with open(a_file, "wb") as f:
            f.write(b"x")
        for folder in (os.path.join(self.root, "missing"), a_file):
            done = clipsum("strip", "--in-place", "--save-dir", folder, path, check=False)
            self.assertEqual(done.returncode, 2, folder)
            self.assertIn(b"Nothing was changed", done.stderr)
            self.assertEqual(self.read(path), original)


if __name__ == "__main__":
    unittest.main(verbosity=2)
