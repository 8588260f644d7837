#!/usr/bin/env python3
"""Writes N generated messages into a folder, for bulk tests of the attachment
list: every second message has attachments (top-level multipart/mixed with one
to three PDF, PNG, JPEG, .docx or .xlsx files), the others are single-part text
or multipart/alternative. Japanese and English, ISO-2022-JP, Shift_JIS and
UTF-8, some with LF-only line ends. The same seed gives the same bytes.

    samples/make_bulk.py OUT_DIR [-n 300] [--seed 1]
"""

import argparse
import datetime
import os
import random
import sys

sys.dont_write_bytecode = True  # keep __pycache__ out of the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from mailparts import (DOCX_TYPE, XLSX_TYPE, Leaf, Multi, attachment, docx, encoded_words, html_part,  # noqa: E402
                       jpeg, mailbox, pdf, png, render, text_part, xlsx)

JA_PEOPLE = [("山田 太郎", "t.yamada@example.jp"), ("佐藤 花子", "h.sato@example.jp"),
             ("鈴木 一郎", "ichiro.suzuki@example.jp"), ("高橋 美咲", "misaki.takahashi@example.net"),
             ("田中 健", "ken.tanaka@example.jp"), ("伊藤 由美", "y.ito@example.jp")]
EN_PEOPLE = [("Alice Barker", "alice.barker@example.com"), ("Brian Cole", "brian.cole@example.com"),
             ("Carol Diaz", "carol@example.org"), ("David Evans", "d.evans@example.net")]
JA_TOPICS = ["見積書の件", "会議資料の送付", "出張報告", "納品日のご連絡", "請求書送付", "議事録の共有", "写真の送付",
             "作業スケジュール", "契約書の確認", "週報"]
EN_TOPICS = ["Quarterly figures", "Meeting notes", "Trip report", "Delivery update", "Invoice", "Draft contract",
             "Photos from the site", "Weekly status", "Budget review", "Release checklist"]
JA_LINES = ["いつもお世話になっております。", "ご確認のほど、よろしくお願いいたします。", "資料を添付いたします。",
            "ご不明な点がございましたらお知らせください。", "来週の打ち合わせで詳しくご説明します。",
            "修正箇所は赤字で示しています。", "本日中にご返信いただけると助かります。"]
EN_LINES = ["Please find the details below.", "Let me know if anything is unclear.",
            "The figures are preliminary.", "I will follow up on Monday.", "Thanks for the quick turnaround.",
            "Comments are welcome before Friday.", "Changes are marked in red."]
WEEKDAYS = ["Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"]
CHARSETS = {"ja": [("ISO-2022-JP", "7bit"), ("Shift_JIS", "8bit"), ("UTF-8", "base64"), ("UTF-8", "8bit")],
            "en": [("US-ASCII", "7bit"), ("UTF-8", "quoted-printable")]}


def make_file(rng, index):
    """(bytes, media type, file name) of one generated attachment."""
    kind = rng.choice(["pdf", "png", "jpeg", "docx", "xlsx"])
    number = rng.randrange(1000, 9999)
    if kind == "pdf":
        lines = ["Document %d" % number] + ["Line %d: value %d" % (i, rng.randrange(10 ** 6)) for i in range(20)]
        return pdf([lines], "Document %d" % number), "application/pdf", "document-%d.pdf" % number
    if kind == "png":
        colour = (rng.randrange(256), rng.randrange(256), rng.randrange(256))
        size = rng.choice([16, 24, 32])
        image = png(size, size, lambda x, y: colour if (x + y) % 7 else (255, 255, 255))
        return image, "image/png", "image-%d.png" % number
    if kind == "jpeg":
        base = rng.randrange(40, 200)
        image = jpeg(32, 24, lambda bx, by: (base + bx * 10, base + by * 15, 255 - base))
        return image, "image/jpeg", "photo-%d.jpg" % number
    if kind == "docx":
        return docx(["Memo %d" % number, "Item %d" % index]), DOCX_TYPE, "memo-%d.docx" % number
    rows = [["Item", "Amount"]] + [["Row %d" % i, rng.randrange(10 ** 5)] for i in range(5)]
    return xlsx(rows), XLSX_TYPE, "sheet-%d.xlsx" % number


def make_message(rng, index):
    language = rng.choice(["ja", "en"])
    people = JA_PEOPLE if language == "ja" else EN_PEOPLE
    sender, recipient = rng.sample(people, 2)
    charset, encoding = rng.choice(CHARSETS[language])
    topic = rng.choice(JA_TOPICS if language == "ja" else EN_TOPICS)
    subject = "%s (%d)" % (topic, index)
    lines = rng.sample(JA_LINES if language == "ja" else EN_LINES, 3)
    greeting = recipient[0].split()[0] + ("様" if language == "ja" else ",")
    text = "\n".join([greeting, ""] + lines + ["", sender[0]])
    day = 1 + index % 28
    headers = [
        "Date: %s, %02d May 2024 %02d:%02d:%02d +0900" % (WEEKDAYS[datetime.date(2024, 5, day).weekday()], day,
                                                         rng.randrange(24), rng.randrange(60), rng.randrange(60)),
        "From: " + mailbox(sender[0], sender[1], charset if charset != "US-ASCII" else "UTF-8"),
        "To: " + mailbox(recipient[0], recipient[1], charset if charset != "US-ASCII" else "UTF-8"),
        "Subject: " + encoded_words(subject, charset if charset != "US-ASCII" else "UTF-8"),
        "Message-ID: <bulk-%05d-%d@example.jp>" % (index, rng.randrange(10 ** 9)),
        "MIME-Version: 1.0",
    ]
    body = text_part(text, charset, encoding)
    if rng.random() < 0.3:
        body = Multi(['Content-Type: multipart/alternative; boundary="alt-%05d"' % index], "alt-%05d" % index,
                     [body, html_part("<html><body><p>%s</p></body></html>" % text.replace("\n", "<br>\n"),
                                      "UTF-8", "quoted-printable")])
    if index % 2 == 0:
        files = [make_file(rng, index) for _ in range(rng.randint(1, 3))]
        message = Multi(headers + ['Content-Type: multipart/mixed; boundary="mixed-%05d"' % index],
                        "mixed-%05d" % index,
                        [body] + [attachment(data, media, name) for data, media, name in files])
    elif isinstance(body, Multi):
        body.headers = headers + body.headers
        message = body
    else:
        message = Leaf(headers + body.headers, body.body)
    return render(message, eol=b"\n" if rng.random() < 0.1 else b"\r\n")


def write_bulk(folder, count, seed):
    rng = random.Random(seed)
    os.makedirs(folder, exist_ok=True)
    width = max(4, len(str(count)))
    for index in range(1, count + 1):
        with open(os.path.join(folder, "bulk-%0*d.eml" % (width, index)), "wb") as f:
            f.write(make_message(rng, index))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder", help="folder to write into (created when missing)")
    parser.add_argument("-n", "--count", type=int, default=300, help="number of messages (default 300)")
    parser.add_argument("--seed", type=int, default=1, help="random seed (default 1)")
    args = parser.parse_args()
    if args.count < 0 or args.count > 1000000:
        parser.error("count must be between 0 and 1000000")
    write_bulk(args.folder, args.count, args.seed)
    print("wrote %d messages to %s" % (args.count, args.folder))
    return 0


if __name__ == "__main__":
    sys.exit(main())
