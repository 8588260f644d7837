#!/usr/bin/env python3
"""Writes the messages of the SaveFolder tests and the files they carry.

The messages are made by Python's email package from the files in files/, so
what the plug-in saves is compared with bytes that no code of ours produced.
Each message is read back with the same package before it is written: every
attachment must decode to its file, else this script stops.

    tests/wine/data/save/make_messages.py      # rewrites files/ and *.eml here
"""

import base64
import binascii
import email
import email.header
import os
import quopri
import shutil
from email import encoders, policy
from email.mime.base import MIMEBase
from email.mime.multipart import MIMEMultipart
from email.mime.text import MIMEText

HERE = os.path.dirname(os.path.abspath(__file__))
FILES = os.path.join(HERE, "files")
CRLF_POLICY = policy.compat32.clone(linesep="\r\n")


def pseudo_random_bytes(count, seed):
    """Every byte value, in an order no encoder could guess (a fixed LCG)."""
    out = bytearray()
    state = seed
    for _ in range(count):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out.append(state >> 16 & 0xFF)
    return bytes(out)


KNOWN_FILES = {
    "photo.png": b"\x89PNG\r\n\x1a\n" + pseudo_random_bytes(3000, 7),
    "notes-qp.txt": ("Meeting notes = minutes\r\n"
                     "Trailing blanks stay   \r\n"
                     "日本語の行もそのまま残ります。" * 3 + "\r\n"
                     "A very long line " + "x" * 150 + " end\r\n"
                     "last line without a break").encode("utf-8"),
    "readme-7bit.txt": b"Plain ASCII\r\n\r\nwith an empty line, and no break at the end",
    "memo-8bit.txt": "UTF-8 の本文、8bit のまま。\r\n二行目".encode("utf-8"),
    "uuencoded.bin": pseudo_random_bytes(100, 11),
    "report-iso2022jp.xlsx": b"PK\x03\x04" + pseudo_random_bytes(700, 13),
    "estimate-rfc2231.pdf": b"%PDF-1.4\n" + pseudo_random_bytes(900, 17),
    "unnamed.pdf": b"%PDF-1.4\n" + pseudo_random_bytes(300, 19),
    "truncated.bin": pseudo_random_bytes(200, 23),
}


def text_body(text):
    return MIMEText(text, "plain", "us-ascii")


def attachment(data, maintype, subtype, encode=None):
    """A part holding data, encoded by the email package (base64 unless another encoder is given)."""
    part = MIMEBase(maintype, subtype)
    if encode is None:
        part.set_payload(data)
        encoders.encode_base64(part)
    else:
        encode(part, data)
    return part


def encode_7or8bit(part, data):
    part.set_payload(data.decode("ascii", "surrogateescape"))
    encoders.encode_7or8bit(part)


def encode_qp(part, data):
    # Text lines end in CR LF: each is encoded as a line, its break a hard one.
    text = quopri.encodestring(data.replace(b"\r\n", b"\n"), quotetabs=False)
    part.set_payload(text.decode("ascii"))
    part["Content-Transfer-Encoding"] = "quoted-printable"


def message(subject, parts):
    msg = MIMEMultipart("mixed", boundary="==save-test-boundary==")
    msg["From"] = "sender@example.jp"
    msg["To"] = "receiver@example.jp"
    msg["Subject"] = subject
    msg["Date"] = "Tue, 21 May 2024 10:00:00 +0900"
    for part in parts:
        msg.attach(part)
    return msg


def as_bytes(msg):
    return msg.as_bytes(policy=CRLF_POLICY)


def encodings_message():
    f = KNOWN_FILES
    png = attachment(f["photo.png"], "image", "png")
    png.add_header("Content-Disposition", "attachment", filename="photo.png")
    qp = attachment(f["notes-qp.txt"], "text", "plain", encode_qp)
    qp.set_param("charset", "utf-8")
    qp.add_header("Content-Disposition", "attachment", filename="notes-qp.txt")
    seven = attachment(f["readme-7bit.txt"], "text", "plain", encode_7or8bit)
    seven.add_header("Content-Disposition", "attachment", filename="readme-7bit.txt")
    eight = attachment(f["memo-8bit.txt"], "text", "plain", encode_7or8bit)
    eight.set_param("charset", "utf-8")
    eight.add_header("Content-Disposition", "attachment", filename="memo-8bit.txt")
    # uuencoded bodies are saved as they are written.
    uu = MIMEBase("application", "octet-stream")
    lines = ["begin 644 uuencoded.bin"]
    data = f["uuencoded.bin"]
    for at in range(0, len(data), 45):
        lines.append(binascii.b2a_uu(data[at:at + 45]).decode("ascii").rstrip("\n"))
    lines += ["`", "end"]
    uu.set_payload("\r\n".join(lines))
    uu["Content-Transfer-Encoding"] = "x-uuencode"
    uu.add_header("Content-Disposition", "attachment", filename="uuencoded.uue")
    msg = message("Every transfer encoding", [text_body("The files are attached.\r\n"), png, qp, seven, eight, uu])
    expected = {"photo.png": f["photo.png"], "notes-qp.txt": f["notes-qp.txt"],
                "readme-7bit.txt": f["readme-7bit.txt"], "memo-8bit.txt": f["memo-8bit.txt"],
                "uuencoded.uue": "\r\n".join(lines).encode("ascii")}
    return msg, expected


def japanese_names_message():
    f = KNOWN_FILES
    xlsx = attachment(f["report-iso2022jp.xlsx"], "application",
                      "vnd.openxmlformats-officedocument.spreadsheetml.sheet")
    word = email.header.Header("報告書.xlsx", "iso-2022-jp").encode()
    xlsx.add_header("Content-Disposition", "attachment", filename=word)
    pdf = attachment(f["estimate-rfc2231.pdf"], "application", "pdf")
    pdf.add_header("Content-Disposition", "attachment", filename=("utf-8", "", "見積書_2024年5月.pdf"))
    unnamed = attachment(f["unnamed.pdf"], "application", "pdf")
    subject = email.header.Header("月次報告", "iso-2022-jp").encode()
    msg = message(subject, [text_body("Two files with Japanese names.\r\n"), xlsx, pdf, unnamed])
    expected = {"報告書.xlsx": f["report-iso2022jp.xlsx"], "見積書_2024年5月.pdf": f["estimate-rfc2231.pdf"],
                "月次報告.pdf": f["unnamed.pdf"]}
    return msg, expected


def broken_base64_message():
    """A download cut short: the base64 stops inside a group, and one line
    has a stray character. Saved as far as it decodes: the file's first bytes,
    as many as the characters left carry."""
    data = KNOWN_FILES["truncated.bin"]
    text = base64.encodebytes(data).decode("ascii").splitlines()
    text[1] = text[1][:20] + "*" + text[1][20:]
    text[-1] = text[-1][:-2]
    part = MIMEBase("application", "octet-stream")
    part.set_payload("\r\n".join(text))
    part["Content-Transfer-Encoding"] = "base64"
    part.add_header("Content-Disposition", "attachment", filename="truncated.bin")
    msg = message("Cut short", [text_body("The download was cut.\r\n"), part])
    letters = "".join(c for c in "".join(text) if c != "*")
    kept = data[:len(letters) * 6 // 8]
    if kept != binascii.a2b_base64(letters + "=" * (-len(letters) % 4)) or len(letters) % 4 == 0:
        raise SystemExit("the cut base64 should end inside a group and decode to the file's first bytes")
    return msg, {"truncated.bin": kept}


def check(raw, expected):
    """Python's own reading of the message: each attachment's decoded bytes
    under its decoded name must be the expected ones. The email package hands
    back base64 it cannot decode as it is written, so a broken body is checked
    where it is made instead."""
    parsed = email.message_from_bytes(raw, policy=policy.compat32)
    found = {}
    for part in parsed.walk():
        if part.get_content_disposition() != "attachment" and part.get_content_maintype() != "application":
            continue
        name = part.get_filename()
        if name is not None:
            name = str(email.header.make_header(email.header.decode_header(name)))
        else:
            name = str(email.header.make_header(email.header.decode_header(parsed["Subject"]))) + ".pdf"
        if part.get("Content-Transfer-Encoding", "").lower() == "x-uuencode":
            # Written as it is: the body lines, without the break before the delimiter.
            found[name] = part.get_payload(decode=False).encode("ascii")
        else:
            decoded = part.get_payload(decode=True)
            found[name] = expected.get(name) if part.defects else decoded
    if found != expected:
        raise SystemExit("Python reads back other bytes or names: %r" % sorted(found))


def main():
    shutil.rmtree(FILES, ignore_errors=True)
    for name, maker in [("encodings", encodings_message), ("japanese-names", japanese_names_message),
                        ("broken-base64", broken_base64_message)]:
        msg, expected = maker()
        raw = as_bytes(msg)
        check(raw, expected)
        with open(os.path.join(HERE, name + ".eml"), "wb") as out:
            out.write(raw)
        # The bytes each attachment must be saved with, under its Unicode
        # name, in a folder per message (as Python decodes them).
        folder = os.path.join(FILES, name)
        os.makedirs(folder, exist_ok=True)
        for file_name, data in expected.items():
            with open(os.path.join(folder, file_name), "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
