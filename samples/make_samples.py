#!/usr/bin/env python3
"""Writes the sample mailbox (mailbox/Main/Inbox/*.eml) and samples/README.md.

The committed files are the reference: this script gives them back byte for
byte (no clock, no randomness), and --check says whether it still does.

    samples/make_samples.py              rewrite the Inbox and the README
    samples/make_samples.py --check      compare with the committed files; exit 1 on a difference
    samples/make_samples.py --out DIR    write the messages into DIR instead (README untouched)

Every person, company and domain in these messages is invented.
"""

import argparse
import os
import sys
import zlib

sys.dont_write_bytecode = True  # keep __pycache__ out of the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from mailparts import (CRLF, DOCX_TYPE, XLSX_TYPE, Leaf, Multi, attachment, base64_lines, docx,  # noqa: E402
                       encoded_words, html_part, jpeg, mailbox, pdf, png, render, text_body, text_part, xlsx)

HERE = os.path.dirname(os.path.abspath(__file__))
INBOX = os.path.join(HERE, "mailbox", "Main", "Inbox")
README = os.path.join(HERE, "README.md")

# Outcomes, as tools/mailcheck names them.
STRIPPED = "stripped"
NO_ATTACHMENTS = "no attachments"   # top level is not multipart/mixed: never listed, never changed
NOT_MULTIPART = "not multipart"     # multipart/mixed, but no delimited part: notice, unchanged
TOO_DEEP = "nested too deep"        # refused by the engine: notice, unchanged

# ---------------------------------------------------------------- people

YAMADA = ("山田 太郎", "t.yamada@example.jp")
SATO = ("佐藤 花子", "h.sato@example.jp")
SUZUKI = ("鈴木 一郎", "ichiro.suzuki@example.jp")
TAKAHASHI = ("高橋 美咲", "misaki.takahashi@example.net")
TANAKA = ("田中 健", "ken.tanaka@example.jp")
ITO = ("伊藤 由美", "y.ito@example.jp")
ALICE = ("Alice Barker", "alice.barker@example.com")
BRIAN = ("Brian Cole", "brian.cole@example.com")
CAROL = ("Carol Diaz", "carol@example.org")
DAVID = ("David Evans", "d.evans@example.net")

HOPS = {
    "example.jp": ("mail.example.jp", "192.0.2.25"),
    "example.net": ("smtp.example.net", "198.51.100.14"),
    "example.com": ("out.example.com", "203.0.113.40"),
    "example.org": ("mx1.example.org", "203.0.113.77"),
}


def address(person, charset="ISO-2022-JP"):
    return mailbox(person[0], person[1], charset)


def envelope(sender, recipients, subject, date, ident, content_type, charset="ISO-2022-JP",
             cc=(), mailer=None, extra=(), before_type=(), after_type=()):
    """Top-level header lines in the order most mail programs write them."""
    domain = sender[1].split("@")[1]
    host, ip = HOPS[domain]
    receiver = recipients[0][1].split("@")[1]
    lines = [
        "Return-Path: <%s>" % sender[1],
        "Received: from %s (%s [%s])\r\n\tby mx.%s with ESMTPS id %s\r\n\tfor <%s>; %s" % (
            host, host, ip, receiver, "4V%08X" % zlib.crc32(ident.encode("ascii")), recipients[0][1], date),
        "Date: " + date,
        "From: " + address(sender, charset),
        "To: " + ",\r\n\t".join(address(r, charset) for r in recipients),
    ]
    if cc:
        lines.append("Cc: " + ",\r\n\t".join(address(r, charset) for r in cc))
    lines += ["Subject: " + encoded_words(subject, charset),
              "Message-ID: <%s>" % ident]
    lines += list(extra)
    lines.append("MIME-Version: 1.0")
    lines += list(before_type)
    lines.append(content_type)
    lines += list(after_type)
    if mailer:
        lines.append(mailer)
    return lines


def mixed(boundary):
    return 'Content-Type: multipart/mixed;\r\n boundary="%s"' % boundary


def alternative(boundary):
    return 'Content-Type: multipart/alternative;\r\n boundary="%s"' % boundary


PREAMBLE = ["This is a multi-part message in MIME format."]

# ---------------------------------------------------------------- attachment files

ESTIMATE_PDF = pdf([[
    "QUOTATION  No. Q-2024-0517",
    "",
    "To: Example Trading Co., Ltd.",
    "From: Sample Shoji Inc., Sales Dept. 2",
    "",
    "Item                              Qty   Unit price      Amount",
    "Conference room display 65in        2      248,000     496,000",
    "Wall mount kit                      2       18,500      37,000",
    "Installation and cabling            1       45,000      45,000",
    "",
    "Subtotal                                              578,000",
    "Consumption tax (10%)                                  57,800",
    "Total (JPY)                                           635,800",
    "",
    "Valid until: 2024-06-14",
]], "Quotation Q-2024-0517")

INVOICE_PDF = pdf([[
    "INVOICE  INV-88213",
    "",
    "Bill to: Greenleaf Garden Supplies (example.org)",
    "Period: April 2024",
    "",
    "Hosting plan (Business)       1 x 120.00 USD",
    "Extra storage 50 GB           1 x  15.00 USD",
    "",
    "Total due: 135.00 USD   Due date: 2024-05-31",
]], "Invoice INV-88213")

MINUTES_PDF = pdf([[
    "Minutes - Product planning meeting",
    "2024-05-20 14:00-15:30, Room B",
    "",
    "1. Release schedule: beta on 6/10, release on 7/1",
    "2. Pricing: keep the current plans",
    "3. Action items: see the attached sheet",
]], "Meeting minutes")

SCAN_PDF = pdf([["Scanned document", "Page 1 of 1", "", "[image data omitted by scanner: text-only mode]"]],
               "SCAN0042")

FLYER_PDF = pdf([["Summer Sale 2024", "", "All garden tools 20% off", "June 1 - June 30"]], "Flyer")


def report_pages():
    pages = []
    for page in range(1, 13):
        lines = ["Annual Maintenance Report 2023  -  page %d of 12" % page, ""]
        for row in range(1, 46):
            lines.append("%02d-%02d  Unit %03d  inspected; filters replaced; vibration %d.%d mm/s; status OK"
                         % (page, row, (page * 37 + row * 11) % 400, (page + row) % 7, (page * row) % 10))
        pages.append(lines)
    return pages


REPORT_PDF = pdf(report_pages(), "Annual Maintenance Report 2023")


def screenshot(x, y):
    # A window: grey title bar, white client area with a red error banner.
    if y < 6:
        return (70, 90, 120)
    if 10 <= y < 16 and 4 <= x < 44:
        return (220, 60, 50)
    if y >= 20 and (y - 20) % 4 == 0 and 4 <= x < 30 + (y * 3) % 14:
        return (150, 150, 150)
    return (250, 250, 250)


SCREENSHOT_PNG = png(48, 32, screenshot)
LOGO_PNG = png(24, 24, lambda x, y: (30, 110, 200) if (x - 12) ** 2 + (y - 12) ** 2 < 100 else (255, 255, 255))
GRAPH_PNG = png(40, 24, lambda x, y: (40, 160, 90) if y >= 24 - (x * 7 % 20) - 3 else (245, 245, 245))
CHART_PNG = png(32, 20, lambda x, y: (200, 120, 40) if (x // 8) % 2 == 0 and y > 20 - (x // 8 + 1) * 4 else (255, 255, 255))

PHOTO_JPG = jpeg(64, 48, lambda bx, by: (90 + by * 20, 150 + bx * 10 - by * 5, 220 - by * 25))
SITE_JPG = jpeg(48, 32, lambda bx, by: (120 + (bx * 17) % 60, 110 + by * 12, 90 + (bx + by) * 9))

PROPOSAL_DOCX = docx(["企画書：社内勉強会の開催について", "目的：新しい業務システムの操作習得",
                      "日時：2024年6月12日（水）15:00〜17:00", "場所：本社5階 第2会議室"])
CONTRACT_DOCX = docx(["Service Agreement (draft v3)", "1. Scope of services", "2. Term and termination",
                      "3. Fees and payment"])
ACTIONS_DOCX = docx(["Action items", "Alice: update the roadmap", "Brian: confirm the venue"])
SALES_XLSX = xlsx([["月", "売上（千円）", "前年比"], ["4月", 12840, 1.08], ["5月", 13310, 1.11], ["6月", 11920, 0.97]])
BUDGET_XLSX = xlsx([["Item", "Q1", "Q2"], ["Travel", 4200, 3900], ["Software", 12500, 12500], ["Training", 1800, 2600]])
SCHEDULE_XLSX = xlsx([["日付", "作業", "担当"], ["6/3", "現地調査", "田中"], ["6/10", "設置工事", "協力会社"],
                      ["6/11", "動作確認", "田中"]])

# ---------------------------------------------------------------- the messages

SIGN_YAMADA = """--
株式会社サンプル商事 営業二部
山田 太郎 <t.yamada@example.jp>
TEL: 03-0000-1234"""


def m_plain_ja_iso2022jp():
    text = """関係各位

お疲れさまです。総務部の佐藤です。

来週の定例会議の日程をお知らせします。

  日時：5月21日（火）10:00〜11:00
  場所：本社3階 大会議室
  議題：上期の予算執行状況について

資料は当日配布します。欠席される方は前日までにご連絡ください。

よろしくお願いいたします。

佐藤 花子"""
    head = envelope(SATO, [YAMADA, SUZUKI], "定例会議のお知らせ（5月21日）", "Tue, 14 May 2024 09:12:44 +0900",
                    "20240514091244.4F2A1@example.jp", 'Content-Type: text/plain; charset="iso-2022-jp"',
                    after_type=["Content-Transfer-Encoding: 7bit"], mailer="X-Mailer: Kumo Mail 3.2.1")
    return render(Leaf(head, text_body(text, "ISO-2022-JP", "7bit")))


def m_plain_en():
    text = """Hi Brian,

Are you free for lunch on Friday? The new noodle place on 3rd Street
finally opened and I'd like to try it.

12:15 in the lobby?

Alice"""
    head = envelope(ALICE, [BRIAN], "Lunch on Friday?", "Wed, 15 May 2024 11:03:27 -0700",
                    "CAF3x9@mail.example.com", "Content-Type: text/plain; charset=us-ascii; format=flowed",
                    after_type=["Content-Transfer-Encoding: 7bit"], mailer="User-Agent: Hoshi Mailer/5.1")
    return render(Leaf(head, text_body(text, "US-ASCII", "7bit")))


def m_plain_ja_shift_jis():
    text = """鈴木様

いつもお世話になっております。
先日ご依頼いただいた交換部品の件、本日発送いたしました。

  品番：KP-2041 フィルターユニット × 3
  伝票番号：1234-5678-9012

明後日の午前中に到着する見込みです。
到着後、不具合などございましたらお知らせください。

高橋"""
    head = envelope(TAKAHASHI, [SUZUKI], "交換部品発送のご連絡", "Thu, 16 May 2024 16:45:10 +0900",
                    "5f1c2a90.1715845510@example.net", "Content-Type: text/plain; charset=Shift_JIS",
                    charset="Shift_JIS", after_type=["Content-Transfer-Encoding: 8bit"],
                    mailer="X-Mailer: Tsubame Mail 2.08")
    return render(Leaf(head, text_body(text, "Shift_JIS", "8bit")))


def m_plain_ja_utf8_base64():
    text = """伊藤さん

社内報の原稿、拝見しました。とても読みやすかったです。
二段落目の数字（前年比112%）だけ、最新の集計に合わせて108%に直してください。

写真は広報の共有フォルダに入れておきました。

田中"""
    head = envelope(TANAKA, [ITO], "社内報の原稿について", "Fri, 17 May 2024 08:30:02 +0900",
                    "a81b3c4d-0e5f-4a6b-9c7d-112233445566@example.jp", "Content-Type: text/plain; charset=UTF-8",
                    charset="UTF-8", after_type=["Content-Transfer-Encoding: base64"])
    return render(Leaf(head, text_body(text, "UTF-8", "base64")))


def m_plain_lf_only():
    text = """Carol,

Confirming the delivery for Monday, 9:00-12:00.
配送は月曜の午前中で確定です。

The driver will call 30 minutes before arrival.

David"""
    head = envelope(DAVID, [CAROL], "Delivery slot confirmed / 配送日時確定", "Sat, 18 May 2024 10:20:00 +0000",
                    "20240518102000.GA2231@example.net", "Content-Type: text/plain; charset=utf-8",
                    charset="UTF-8", after_type=["Content-Transfer-Encoding: 8bit"])
    return render(Leaf(head, text_body(text, "UTF-8", "8bit")), eol=b"\n")


NEWSLETTER_HTML = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Greenleaf Garden News</title></head>
<body style="font-family: sans-serif">
<h1>Greenleaf Garden News &mdash; May</h1>
<p>Spring planting is in full swing. This month: tomatoes on balconies,
and how to keep slugs away without chemicals.</p>
<p><a href="https://www.example.org/news/2024-05">Read online</a></p>
<p style="font-size: small">You receive this because you subscribed at example.org.
<a href="https://www.example.org/unsubscribe">Unsubscribe</a></p>
</body></html>"""


def m_html_only():
    head = envelope(CAROL, [DAVID], "Greenleaf Garden News - May", "Sun, 19 May 2024 06:00:00 +0000",
                    "news-2024-05.d.evans@example.org", "Content-Type: text/html; charset=UTF-8",
                    after_type=["Content-Transfer-Encoding: quoted-printable"],
                    extra=["List-Unsubscribe: <https://www.example.org/unsubscribe>"])
    return render(Leaf(head, text_body(NEWSLETTER_HTML, "UTF-8", "quoted-printable")))


def _html_of(text, charset="UTF-8"):
    paragraphs = "".join("<p>%s</p>\n" % p.replace("\n", "<br>\n") for p in text.split("\n\n"))
    return '<html><head><meta http-equiv="Content-Type" content="text/html; charset=%s"></head>\n<body>\n%s</body></html>' % (
        charset.lower(), paragraphs)


def m_alternative_no_attachment():
    text = """山田さん

先ほどの打ち合わせ、ありがとうございました。
次回は6月3日（月）14時からでお願いします。

鈴木"""
    body = Multi([], "----=_NextPart_000_0007_01DAA8F1.6C2B9E40", [
        text_part(text, "ISO-2022-JP", "7bit"),
        html_part(_html_of(text, "ISO-2022-JP"), "ISO-2022-JP", "7bit"),
    ], preamble=PREAMBLE)
    body.headers = envelope(SUZUKI, [YAMADA], "次回打ち合わせの日程", "Mon, 20 May 2024 17:02:51 +0900",
                            "000701daa8f1$6c2b9e40$@example.jp",
                            alternative("----=_NextPart_000_0007_01DAA8F1.6C2B9E40"),
                            mailer="X-Mailer: Kumo Mail 3.2.1")
    return render(body)


def m_related_inline_image():
    html = """<html><body>
<p>Hi Alice,</p>
<p>Here is our new logo as it will appear in the footer:</p>
<p><img src="cid:logo-2024@example.com" alt="logo"></p>
<p>Brian</p>
</body></html>"""
    text = "Hi Alice,\n\nHere is our new logo as it will appear in the footer.\n\nBrian"
    inline = attachment(LOGO_PNG, "image/png", "logo.png", disposition="inline",
                        extra=["Content-ID: <logo-2024@example.com>"])
    body = Multi([], "rel_5d2e8f", [
        Multi([alternative("alt_5d2e8f")], "alt_5d2e8f", [
            text_part(text, "US-ASCII", "7bit"), html_part(html, "US-ASCII", "7bit")]),
        inline])
    body.headers = envelope(BRIAN, [ALICE], "New footer logo", "Mon, 20 May 2024 09:41:13 -0700",
                            "logo-review.7781@example.com",
                            'Content-Type: multipart/related;\r\n type="multipart/alternative";\r\n boundary="rel_5d2e8f"',
                            mailer="User-Agent: Hoshi Mailer/5.1")
    return render(body)


def m_bounce_report():
    boundary = "20240521031500.8C1F2E0@mx.example.com"
    notice = """This is the mail system at host mx.example.com.

I'm sorry to have to inform you that your message could not
be delivered to one or more recipients.

<old.address@example.com>: host mx.example.com said: 550 5.1.1 User unknown"""
    status = ["Reporting-MTA: dns; mx.example.com", "", "Final-Recipient: rfc822; old.address@example.com",
              "Action: failed", "Status: 5.1.1", "Diagnostic-Code: smtp; 550 5.1.1 User unknown"]
    original = ["From: \"Alice Barker\" <alice.barker@example.com>", "To: <old.address@example.com>",
                "Subject: Project kickoff", "Date: Tue, 21 May 2024 03:14:58 +0000",
                "Message-ID: <kickoff-01@example.com>"]
    body = Multi([], boundary, [
        Leaf(["Content-Description: Notification", "Content-Type: text/plain; charset=us-ascii"],
             text_body(notice, "US-ASCII", "7bit")),
        Leaf(["Content-Description: Delivery report", "Content-Type: message/delivery-status"], status),
        Leaf(["Content-Description: Undelivered Message Headers", "Content-Type: text/rfc822-headers"], original),
    ], preamble=["This is a MIME-encapsulated message."])
    body.headers = [
        "Return-Path: <>",
        "Date: Tue, 21 May 2024 03:15:00 +0000 (UTC)",
        "From: MAILER-DAEMON@mx.example.com (Mail Delivery System)",
        "Subject: Undelivered Mail Returned to Sender",
        "To: alice.barker@example.com",
        "Auto-Submitted: auto-replied",
        "MIME-Version: 1.0",
        "Content-Type: multipart/report; report-type=delivery-status;\r\n\tboundary=\"%s\"" % boundary,
        "Message-Id: <20240521031500.8C1F2E0@mx.example.com>",
    ]
    return render(body)


def m_ja_iso2022jp_pdf():
    text = """株式会社エグザンプル商事
購買部 鈴木様

いつもお世話になっております。
サンプル商事の山田です。

先日お問い合わせいただいた会議室用ディスプレイの件、
お見積書を添付いたしますのでご査収ください。

  見積番号：Q-2024-0517
  有効期限：2024年6月14日

ご不明な点がございましたら、お気軽にお問い合わせください。
よろしくお願いいたします。

""" + SIGN_YAMADA
    body = Multi([], "------------0A3F9C2D71B84E5A6C0D1E2F", [
        text_part(text, "ISO-2022-JP", "7bit", fold=True),
        attachment(ESTIMATE_PDF, "application/pdf", "御見積書_Q-2024-0517.pdf", "word:ISO-2022-JP"),
    ], preamble=PREAMBLE)
    body.headers = envelope(YAMADA, [SUZUKI], "【お見積書送付】会議室用ディスプレイの件", "Tue, 21 May 2024 10:05:33 +0900",
                            "3e7a1b2c-4d5e-6f70-8192-a3b4c5d6e7f8@example.jp",
                            mixed("------------0A3F9C2D71B84E5A6C0D1E2F"), mailer="X-Mailer: Kumo Mail 3.2.1")
    return render(body)


def m_en_png():
    text = """Hi Carol,

The export page fails again since this morning's update. Steps:

1. Open Reports > Export
2. Choose "CSV, all columns"
3. Press Export: a red banner says "Export failed (code 17)"

Screenshot attached. It worked fine yesterday.

Thanks,
David"""
    body = Multi([], "=_Part_48213_1193046.1716285600123", [
        text_part(text, "US-ASCII", "7bit"),
        attachment(SCREENSHOT_PNG, "image/png", "export-error.png"),
    ])
    body.headers = envelope(DAVID, [CAROL], "Export fails with code 17", "Tue, 21 May 2024 11:20:00 +0100",
                            "1193046.48213.1716285600123@example.net", mixed("=_Part_48213_1193046.1716285600123"))
    return render(body)


def m_ja_utf8_jpeg():
    text = """佐藤さん

先週の現地調査の写真を送ります。
搬入口の幅が図面より狭いので、設置方法を再検討したほうがよさそうです。

明日の朝会で相談させてください。

伊藤"""
    body = Multi([], "00000000000068a2f1061905b3c4", [
        Multi([alternative("00000000000068a2ef061905b3c2")], "00000000000068a2ef061905b3c2", [
            text_part(text, "UTF-8", "base64"),
            html_part(_html_of(text), "UTF-8", "quoted-printable"),
        ]),
        attachment(PHOTO_JPG, "image/jpeg", "搬入口_写真.jpg", "rfc2231",
                   extra=["Content-ID: <f_lw3k9x2a0>", "X-Attachment-Id: f_lw3k9x2a0"]),
    ])
    body.headers = envelope(ITO, [SATO], "現地調査の写真です", "Wed, 22 May 2024 08:47:19 +0900",
                            "CAB7k2x9QmPp=Ya8@mail.example.jp", mixed("00000000000068a2f1061905b3c4"),
                            charset="UTF-8")
    return render(body)


def m_ja_shift_jis_docx():
    text = """各位

人事部の伊藤です。
6月に開催予定の社内勉強会について、企画書を作成しました。
添付ファイルをご確認のうえ、ご意見があれば今週中にお知らせください。

伊藤 由美"""
    body = Multi([], "--=_Tsubame_2A91_4C3B0000", [
        text_part(text, "Shift_JIS", "8bit"),
        attachment(PROPOSAL_DOCX, DOCX_TYPE, "勉強会企画書.docx", "word:Shift_JIS"),
    ], preamble=PREAMBLE)
    body.headers = envelope(ITO, [TANAKA, SATO], "社内勉強会の企画書", "Wed, 22 May 2024 13:15:42 +0900",
                            "20240522131542.2A91.Y.ITO@example.jp", mixed("--=_Tsubame_2A91_4C3B0000"),
                            charset="Shift_JIS", mailer="X-Mailer: Tsubame Mail 2.08")
    return render(body)


def m_en_qp_xlsx():
    # Already quoted-printable: an en dash (=E2=80=93) and a soft line break (= at the end).
    lines = [b"Hi all,", b"",
             b"Please find attached the draft budget for Q1=E2=80=93Q2. Figures are in USD. W=",
             b"e kept the same categories as last year.", b"",
             b"Notable changes versus last year:",
             b"  - Software licences are flat at 12,500 per quarter.",
             b"  - Training goes up in Q2 (new hires).", b"",
             b"Comments welcome before Thursday.", b"",
             b"Best regards,", b"Brian Cole", b"Finance, Example Inc."]
    body = Multi([], "b1_6e8d0c2a4f1b3e5d7c9a0b2c4d6e8f01", [
        Leaf(["Content-Type: text/plain; charset=utf-8", "Content-Transfer-Encoding: quoted-printable"], lines),
        attachment(BUDGET_XLSX, XLSX_TYPE, "budget-2024-H1-draft.xlsx"),
    ])
    body.headers = envelope(BRIAN, [ALICE, DAVID], "Draft budget H1 2024", "Wed, 22 May 2024 15:02:09 -0700",
                            "b1_6e8d0c2a4f1b@example.com", mixed("b1_6e8d0c2a4f1b3e5d7c9a0b2c4d6e8f01"),
                            cc=[CAROL])
    return render(body)


def m_ja_several_attachments():
    text = """田中さん

来月の設置工事の資料一式をお送りします。

  1. 見積書（PDF）
  2. 設置イメージ（PNG）
  3. 作業スケジュール（表）
  4. 作業手順書（文書）

スケジュールの担当欄に誤りがあれば直接修正してください。

山田"""
    body = Multi([], "------------5B2C8D1E0F4A3B6C7D8E9F00", [
        text_part(text, "ISO-2022-JP", "7bit"),
        attachment(ESTIMATE_PDF, "application/pdf", "見積書.pdf", "word:ISO-2022-JP"),
        attachment(GRAPH_PNG, "image/png", "設置イメージ.png", "word:ISO-2022-JP"),
        attachment(SCHEDULE_XLSX, XLSX_TYPE, "作業スケジュール.xlsx", "word:ISO-2022-JP"),
        attachment(CONTRACT_DOCX, DOCX_TYPE, "procedure.docx"),
    ], preamble=PREAMBLE)
    body.headers = envelope(YAMADA, [TANAKA], "設置工事の資料一式", "Thu, 23 May 2024 09:58:00 +0900",
                            "8c1d2e3f-4a5b-6c7d-8e9f-0a1b2c3d4e5f@example.jp",
                            mixed("------------5B2C8D1E0F4A3B6C7D8E9F00"), cc=[SATO],
                            mailer="X-Mailer: Kumo Mail 3.2.1")
    return render(body)


def m_ja_alternative_with_pdf():
    text = """高橋様

お世話になっております。佐藤です。
5月分の請求書をお送りします。お手数ですがご確認をお願いいたします。

お支払期日：2024年5月31日

佐藤"""
    body = Multi([], "----=_NextPart_000_0019_01DAACE3.1F2A3B40", [
        Multi([alternative("----=_NextPart_001_001A_01DAACE3.1F2A3B40")],
              "----=_NextPart_001_001A_01DAACE3.1F2A3B40", [
                  text_part(text, "ISO-2022-JP", "7bit"),
                  html_part(_html_of(text, "ISO-2022-JP"), "ISO-2022-JP", "7bit"),
              ]),
        attachment(INVOICE_PDF, "application/pdf", "invoice-2024-05.pdf"),
    ], preamble=PREAMBLE)
    body.headers = envelope(SATO, [TAKAHASHI], "5月分請求書の送付", "Thu, 23 May 2024 14:20:31 +0900",
                            "001901daace3$1f2a3b40$@example.jp",
                            mixed("----=_NextPart_000_0019_01DAACE3.1F2A3B40"), mailer="X-Mailer: Kumo Mail 3.2.1")
    return render(body)


def m_alternative_only_part():
    text = """Hi David,

Thanks for the quick fix - export works again on our side.

Carol"""
    body = Multi([], "mixed-7a1c4e", [
        Multi([alternative("alt-7a1c4e")], "alt-7a1c4e", [
            text_part(text, "UTF-8", "7bit"),
            html_part(_html_of(text), "UTF-8", "7bit"),
        ]),
    ])
    body.headers = envelope(CAROL, [DAVID], "Re: Export fails with code 17", "Thu, 23 May 2024 16:05:12 +0000",
                            "re-export-17.carol@example.org", mixed("mixed-7a1c4e"),
                            extra=["In-Reply-To: <1193046.48213.1716285600123@example.net>"])
    return render(body)


def m_attachment_before_alternative():
    text = """田中さん

契約書のドラフト（第3版）を先頭に添付しました。
第2条の解約条件を先方の要望どおり修正しています。

伊藤"""
    body = Multi([], "Hoshi-Mail=_4B8F6E2A-1C3D-4E5F-8A9B-0C1D2E3F4A5B", [
        attachment(CONTRACT_DOCX, DOCX_TYPE, "契約書ドラフト_v3.docx", "rfc2231"),
        Multi([alternative("Hoshi-Mail=_9C0D1E2F-3A4B-5C6D-7E8F-9A0B1C2D3E4F")],
              "Hoshi-Mail=_9C0D1E2F-3A4B-5C6D-7E8F-9A0B1C2D3E4F", [
                  text_part(text, "UTF-8", "base64"),
                  html_part(_html_of(text), "UTF-8", "quoted-printable"),
              ]),
    ])
    body.headers = envelope(ITO, [TANAKA], "契約書ドラフト（第3版）", "Fri, 24 May 2024 10:11:12 +0900",
                            "4B8F6E2A-1C3D-4E5F-8A9B-0C1D2E3F4A5B@example.jp",
                            mixed("Hoshi-Mail=_4B8F6E2A-1C3D-4E5F-8A9B-0C1D2E3F4A5B"), charset="UTF-8")
    return render(body)


def m_encoding_before_type():
    text = """Hi Alice,

The venue confirmed our booking for the offsite: 14-15 June,
conference room "Maple" with projector. Floor plan attached.

Brian"""
    body = Multi([], "_002_TY2PR01MB4321EXAMPLE_", [
        text_part(text, "UTF-8", "base64", encoding_first=True),
        attachment(CHART_PNG, "image/png", "floor-plan.png"),
    ])
    body.headers = envelope(BRIAN, [ALICE], "Offsite venue confirmed", "Fri, 24 May 2024 12:00:45 -0700",
                            "TY2PR01MB4321@example.com", mixed("_002_TY2PR01MB4321EXAMPLE_"),
                            before_type=["Content-Transfer-Encoding: 7bit"])
    return render(body)


def m_no_blank_before_delimiter():
    text = """鈴木様

先ほどお電話でお伝えした納品日の件、書面でもお送りします。
納品日：6月5日（水）午前中

以上、よろしくお願いいたします。
高橋 美咲"""
    body = Multi([], "=_tsubame_0524_1830", [
        text_part(text, "ISO-2022-JP", "7bit", tight=True),
        attachment(SCHEDULE_XLSX, XLSX_TYPE, "納品予定.xlsx", "word:ISO-2022-JP"),
    ])
    body.headers = envelope(TAKAHASHI, [SUZUKI], "納品日のご連絡", "Fri, 24 May 2024 18:30:05 +0900",
                            "20240524183005.0524@example.net", mixed("=_tsubame_0524_1830"),
                            mailer="X-Mailer: Tsubame Mail 2.08")
    return render(body)


def m_mixed_text_only():
    text = """Alice,

Sending this from my phone - the attachment didn't make it, I'll resend
from the laptop tonight.

Brian"""
    body = Multi([], "Hoshi-Mail-3F2E1D0C", [text_part(text, "US-ASCII", "7bit")])
    body.headers = envelope(BRIAN, [ALICE], "Slides (attachment to follow)", "Sat, 25 May 2024 07:40:00 -0700",
                            "3F2E1D0C-phone@example.com", mixed("Hoshi-Mail-3F2E1D0C"))
    return render(body)


def m_html_marker_header():
    text = """[announce] Office move on 3 June

Our Osaka office moves to a new building on 3 June.
New address and a map are in the attached flyer.

-- 
announce mailing list"""
    body = Multi([], "===============7316102553217284953==", [
        text_part(text, "UTF-8", "7bit"),
        attachment(FLYER_PDF, "application/pdf", "office-move-flyer.pdf"),
    ])
    body.headers = envelope(CAROL, [DAVID], "[announce] Office move on 3 June", "Sat, 25 May 2024 09:00:00 +0000",
                            "announce-0612@lists.example.org", mixed("===============7316102553217284953=="),
                            extra=["List-Id: <announce.lists.example.org>",
                                   "X-Original-Content-Type: text/html; charset=UTF-8",
                                   "X-Content-Filtered-By: list gateway (html converted to text)"])
    return render(body)


def m_html_body_with_attachment():
    html = """<html><body>
<p>Dear customer,</p>
<p>Thank you for your order <b>#40-1187</b>. Your receipt is attached.</p>
<p>Greenleaf Garden Supplies</p>
</body></html>"""
    body = Multi([], "receipt-40-1187", [
        html_part(html, "UTF-8", "quoted-printable"),
        attachment(INVOICE_PDF, "application/pdf", "receipt-40-1187.pdf"),
    ])
    body.headers = envelope(CAROL, [DAVID], "Your receipt for order #40-1187", "Sun, 26 May 2024 10:15:00 +0000",
                            "receipt-40-1187@shop.example.org", mixed("receipt-40-1187"))
    return render(body)


def _quoted_original():
    text = """鈴木さん

議事録と宿題一覧を添付します。

田中"""
    original = Multi([], "orig-b7e2c1", [
        text_part(text, "ISO-2022-JP", "7bit"),
        attachment(SALES_XLSX, XLSX_TYPE, "宿題一覧.xlsx", "word:ISO-2022-JP"),
    ])
    original.headers = envelope(TANAKA, [SUZUKI], "企画会議の議事録", "Mon, 20 May 2024 18:02:00 +0900",
                                "minutes-0520@example.jp", mixed("orig-b7e2c1"))[2:]
    return render(original)


def m_forward_rfc822():
    text = """山田さん

先日の企画会議の議事録を転送します。
添付の宿題一覧もご確認ください。

鈴木"""
    forwarded = Leaf(['Content-Type: message/rfc822;\r\n name="%s"' % encoded_words("企画会議の議事録.eml", "ISO-2022-JP", 40),
                      "Content-Disposition: attachment;\r\n filename=\"minutes.eml\""],
                     _quoted_original().split(CRLF)[:-1])
    body = Multi([], "------------fwd9A8B7C6D5E4F", [text_part(text, "ISO-2022-JP", "7bit"), forwarded],
                 preamble=PREAMBLE)
    body.headers = envelope(SUZUKI, [YAMADA], "Fwd: 企画会議の議事録", "Mon, 27 May 2024 08:55:10 +0900",
                            "fwd-minutes-0527@example.jp", mixed("------------fwd9A8B7C6D5E4F"),
                            mailer="X-Mailer: Kumo Mail 3.2.1")
    return render(body)


def m_forward_nested_inline():
    innermost = Multi(['Content-Type: multipart/mixed; boundary="inner-3c"'], "inner-3c", [
        text_part("Brian,\n\nThe error again, screenshot attached.\n\nDavid", "US-ASCII", "7bit"),
        attachment(SCREENSHOT_PNG, "image/png", "export-error.png"),
    ])
    middle = Multi(['Content-Type: multipart/mixed; boundary="middle-2b"'], "middle-2b", [
        text_part("---------- Forwarded message ----------\nFrom: David Evans <d.evans@example.net>\n"
                  "Subject: Export fails with code 17\n\nAlice, can you take a look?\n\nBrian", "US-ASCII", "7bit"),
        innermost,
    ])
    body = Multi([], "outer-1a", [
        text_part("Carol,\n\nForwarding the thread below; this is the same bug you fixed in March.\n\n"
                  "Alice\n\n---------- Forwarded message ----------\nFrom: Brian Cole <brian.cole@example.com>",
                  "US-ASCII", "7bit"),
        middle,
    ])
    body.headers = envelope(ALICE, [CAROL], "Fwd: Fwd: Export fails with code 17", "Mon, 27 May 2024 13:33:00 -0700",
                            "fwd-fwd-export@example.com", mixed("outer-1a"))
    return render(body)


def m_text_below_nested_parts():
    text = """皆さん

先週の展示会の報告です。ブースの写真を本文の下に、来場者数の集計を別ファイルで付けました。

来場者数は前回比で約1.2倍でした。

田中"""
    body = Multi([], "=_report_outer_20240528", [
        Multi(['Content-Type: multipart/mixed; boundary="=_report_body_20240528"'], "=_report_body_20240528", [
            Multi([alternative("=_report_alt_20240528")], "=_report_alt_20240528", [
                text_part(text, "UTF-8", "8bit"),
                html_part(_html_of(text), "UTF-8", "8bit"),
            ]),
            attachment(SITE_JPG, "image/jpeg", "booth.jpg", disposition="inline"),
        ]),
        attachment(SALES_XLSX, XLSX_TYPE, "来場者集計.xlsx", "rfc2231"),
    ])
    body.headers = envelope(TANAKA, [YAMADA, SATO, ITO], "展示会の報告", "Tue, 28 May 2024 17:45:00 +0900",
                            "expo-report-0528@example.jp", mixed("=_report_outer_20240528"), charset="UTF-8")
    return render(body)


def m_lf_only_with_attachment():
    text = """Hi Carol,

Minutes of today's planning meeting attached (PDF).
Action items are at the end.

Alice"""
    body = Multi([], "lf-only-9d8c7b6a", [
        text_part(text, "US-ASCII", "7bit"),
        attachment(MINUTES_PDF, "application/pdf", "minutes-2024-05-28.pdf"),
    ])
    body.headers = envelope(ALICE, [CAROL], "Minutes 28 May", "Tue, 28 May 2024 18:10:00 -0700",
                            "minutes-0528.alice@example.com", mixed("lf-only-9d8c7b6a"))
    return render(body, eol=b"\n")


def m_header_variants():
    text = """DAVID,

SHIPMENT 40-1187 LEFT OUR WAREHOUSE TODAY. LABEL ATTACHED.

GREENLEAF SHIPPING DESK"""
    body = Multi([], "Boundary_x7Kq2Lm9", [
        Leaf(["Content-type: TEXT/PLAIN; CHARSET=US-ASCII", "Content-transfer-encoding: 7BIT"],
             text_body(text, "US-ASCII", "7bit")),
        Leaf(["Content-type: IMAGE/PNG; NAME=LABEL.PNG", "Content-disposition: ATTACHMENT; FILENAME=LABEL.PNG",
              "Content-transfer-encoding: BASE64"], base64_lines(LOGO_PNG, 64)),
    ])
    body.headers = [
        "Return-Path: <shipping@example.org>",
        "Date: Wed, 29 May 2024 06:12:00 +0000",
        "From: SHIPPING DESK <shipping@example.org>",
        "To: d.evans@example.net",
        "Subject: SHIPMENT 40-1187",
        "Message-Id: <SHIP.40-1187.0529@example.org>",
        "Mime-Version: 1.0",
        "CONTENT-TYPE: MULTIPART/MIXED;\r\n\tBOUNDARY=Boundary_x7Kq2Lm9",
    ]
    return render(body)


def m_preamble_epilogue():
    text = """Carol,

Contract draft attached; see section 3 for the new fee schedule.

Brian"""
    body = Multi([], "==outer==f00d", [
        Multi([alternative("==alt==f00d")], "==alt==f00d", [
            text_part(text, "US-ASCII", "7bit"),
            html_part(_html_of(text, "US-ASCII"), "US-ASCII", "7bit"),
        ], preamble=["Alternative views of the same text follow."],
            epilogue=["(end of the alternative views)"]),
        attachment(CONTRACT_DOCX, DOCX_TYPE, "service-agreement-v3.docx"),
    ], preamble=["This message is in MIME format. If you see this text,",
                 "your mail program does not understand MIME.", ""],
        epilogue=["", "Sent through the example.com secure gateway. This epilogue follows the closing delimiter."])
    body.headers = envelope(BRIAN, [CAROL], "Service agreement draft v3", "Wed, 29 May 2024 08:30:00 -0700",
                            "agreement-v3@example.com", mixed("==outer==f00d"))
    return render(body)


def m_txt_attachment_beside_body():
    text = """Hi team,

Notes from today's stand-up are in the attached text file.

Alice"""
    notes = """Stand-up 2024-05-29
- Brian: budget draft sent, waiting for comments
- Carol: export bug fixed, release on Friday
- David: delivery Monday 9:00-12:00"""
    body = Multi([], "standup-0529-b", [
        Multi([alternative("standup-0529-a")], "standup-0529-a", [
            text_part(text, "US-ASCII", "7bit"),
            html_part(_html_of(text, "US-ASCII"), "US-ASCII", "7bit"),
        ]),
        Leaf(['Content-Type: text/plain; charset=us-ascii; name="standup-notes.txt"',
              'Content-Disposition: attachment; filename="standup-notes.txt"',
              "Content-Transfer-Encoding: 7bit"], text_body(notes, "US-ASCII", "7bit")),
    ])
    body.headers = envelope(ALICE, [BRIAN, CAROL, DAVID], "Stand-up notes 29 May", "Wed, 29 May 2024 10:05:00 -0700",
                            "standup-0529@example.com", mixed("standup-0529-b"))
    return render(body)


def m_empty_text_part():
    body = Multi([], "SCAN-BOUNDARY-0042", [
        Leaf(["Content-Type: text/plain; charset=us-ascii", "Content-Transfer-Encoding: 7bit"], [], tight=True),
        attachment(SCAN_PDF, "application/pdf", "SCAN0042.pdf"),
    ], preamble=PREAMBLE + [""])
    body.headers = envelope(SATO, [SATO], "Scanned from MFP-3F", "Thu, 30 May 2024 11:22:33 +0900",
                            "scan0042.mfp-3f@example.jp", mixed("SCAN-BOUNDARY-0042"),
                            mailer="X-Mailer: MFP-3F scan to mail")
    return render(body)


def m_scan_pdf_only():
    body = Multi([], "SCAN-BOUNDARY-0043", [attachment(SCAN_PDF, "application/pdf", "SCAN0043.pdf")])
    body.headers = envelope(SATO, [SATO], "Scanned from MFP-3F", "Thu, 30 May 2024 11:25:02 +0900",
                            "scan0043.mfp-3f@example.jp", mixed("SCAN-BOUNDARY-0043"),
                            mailer="X-Mailer: MFP-3F scan to mail")
    return render(body)


def m_large_pdf():
    text = """Dear Mr. Evans,

Please find attached our annual maintenance report for 2023
(12 pages, all units inspected).

Kind regards,
Carol Diaz
Facilities, example.org"""
    body = Multi([], "report-2023-annual", [
        text_part(text, "US-ASCII", "7bit"),
        attachment(REPORT_PDF, "application/pdf", "maintenance-report-2023.pdf"),
    ])
    body.headers = envelope(CAROL, [DAVID], "Annual maintenance report 2023", "Fri, 31 May 2024 09:00:00 +0000",
                            "report-2023@example.org", mixed("report-2023-annual"))
    return render(body)


def m_boundary_never_used():
    text = """Hello,

This message went through a gateway that rewrote the delimiter lines
in lower case, so they no longer match the declared boundary.

Alice"""
    declared = "=_MixedBoundary_7F3A"
    written = declared.lower()
    body = Multi([], written, [
        text_part(text, "US-ASCII", "7bit"),
        attachment(FLYER_PDF, "application/pdf", "flyer.pdf"),
    ])
    body.headers = envelope(ALICE, [DAVID], "Flyer for the summer sale", "Fri, 31 May 2024 13:13:13 -0700",
                            "flyer-gateway@example.com", mixed(declared))
    return render(body)


def m_forward_loop_too_deep():
    levels = 70
    node = Multi(['Content-Type: multipart/mixed; boundary="loop-%03d"' % levels], "loop-%03d" % levels, [
        text_part("Original message: please see the attached flyer.", "US-ASCII", "7bit"),
        attachment(FLYER_PDF, "application/pdf", "flyer.pdf"),
    ])
    for level in range(levels - 1, 0, -1):
        node = Multi(['Content-Type: multipart/mixed; boundary="loop-%03d"' % level], "loop-%03d" % level, [
            text_part("Forwarded automatically by rule \"all mail\" (hop %d)." % level, "US-ASCII", "7bit"),
            node,
        ])
    node.headers = envelope(DAVID, [CAROL], "Fwd: Fwd: Fwd: Fwd: Fwd: Flyer for the summer sale",
                            "Sat, 01 Jun 2024 00:00:07 +0000", "loop-70@example.net",
                            'Content-Type: multipart/mixed; boundary="loop-001"',
                            extra=["X-Loop: forward-rule@example.net"])
    return render(node)


def m_text_then_txt_and_csv():
    text = """鈴木様

ご依頼の在庫データを送付します。
  stock.txt ... 品番ごとの在庫数
  stock.csv ... 同じ内容のCSV形式

高橋"""
    stock = "KP-2041  12\nKP-2042   0\nKP-3100  57"
    body = Multi([], "=_tsubame_0603_0900", [
        text_part(text, "ISO-2022-JP", "7bit"),
        Leaf(['Content-Type: text/plain; charset=us-ascii; name="stock.txt"',
              'Content-Disposition: attachment; filename="stock.txt"',
              "Content-Transfer-Encoding: 7bit"], text_body(stock, "US-ASCII", "7bit")),
        Leaf(['Content-Type: text/csv; charset=us-ascii; name="stock.csv"',
              'Content-Disposition: attachment; filename="stock.csv"',
              "Content-Transfer-Encoding: base64"],
             text_body("part,count\r\nKP-2041,12\r\nKP-2042,0\r\nKP-3100,57", "US-ASCII", "base64")),
    ])
    body.headers = envelope(TAKAHASHI, [SUZUKI], "在庫データの送付", "Mon, 03 Jun 2024 09:00:00 +0900",
                            "20240603090000.0603@example.net", mixed("=_tsubame_0603_0900"),
                            mailer="X-Mailer: Tsubame Mail 2.08")
    return render(body)


# (file name, builder, what it exercises, outcome, media type of the part kept, header holds the HTML marker)
SAMPLES = [
    ("001-plain-ja-iso2022jp.eml", m_plain_ja_iso2022jp,
     "single-part Japanese text, ISO-2022-JP 7bit, ISO-2022-JP encoded subject", NO_ATTACHMENTS, None, False),
    ("002-plain-en.eml", m_plain_en, "single-part English text, us-ascii", NO_ATTACHMENTS, None, False),
    ("003-plain-ja-shift_jis.eml", m_plain_ja_shift_jis,
     "single-part Japanese text, Shift_JIS 8bit body, Shift_JIS encoded subject and names", NO_ATTACHMENTS, None, False),
    ("004-plain-ja-utf8-base64.eml", m_plain_ja_utf8_base64,
     "single-part Japanese text, UTF-8 base64 body, UTF-8 encoded subject", NO_ATTACHMENTS, None, False),
    ("005-plain-lf-only.eml", m_plain_lf_only, "single-part text with LF-only line ends", NO_ATTACHMENTS, None, False),
    ("006-html-only.eml", m_html_only, "HTML-only newsletter (single-part text/html)", NO_ATTACHMENTS, None, False),
    ("007-alternative-no-attachment.eml", m_alternative_no_attachment,
     "top-level multipart/alternative (text + HTML), no attachment: not listed", NO_ATTACHMENTS, None, False),
    ("008-related-inline-image.eml", m_related_inline_image,
     "top-level multipart/related with an inline PNG: not multipart/mixed, so not listed", NO_ATTACHMENTS, None, False),
    ("009-bounce-report.eml", m_bounce_report,
     "delivery failure report (multipart/report): not listed", NO_ATTACHMENTS, None, False),
    ("010-ja-iso2022jp-pdf.eml", m_ja_iso2022jp_pdf,
     "ISO-2022-JP text (folded Content-Type) + PDF with an ISO-2022-JP encoded file name", STRIPPED, "text/plain", False),
    ("011-en-png.eml", m_en_png, "English text + PNG screenshot, no preamble", STRIPPED, "text/plain", False),
    ("012-ja-utf8-jpeg.eml", m_ja_utf8_jpeg,
     "multipart/alternative (UTF-8 base64 text + HTML) + JPEG with an RFC 2231 file name", STRIPPED, "text/plain", False),
    ("013-ja-shift_jis-docx.eml", m_ja_shift_jis_docx,
     "Shift_JIS 8bit text + .docx with a Shift_JIS encoded file name", STRIPPED, "text/plain", False),
    ("014-en-qp-xlsx.eml", m_en_qp_xlsx,
     "quoted-printable UTF-8 text (soft line break) + .xlsx, with Cc", STRIPPED, "text/plain", False),
    ("015-ja-several-attachments.eml", m_ja_several_attachments,
     "Japanese text + PDF, PNG, .xlsx and .docx", STRIPPED, "text/plain", False),
    ("016-ja-alternative-with-pdf.eml", m_ja_alternative_with_pdf,
     "multipart/alternative (ISO-2022-JP text + HTML) then a PDF", STRIPPED, "text/plain", False),
    ("017-alternative-only-part.eml", m_alternative_only_part,
     "multipart/mixed whose only part is a multipart/alternative (text part found in the last part)",
     STRIPPED, "text/plain", False),
    ("018-attachment-before-alternative.eml", m_attachment_before_alternative,
     "a .docx before the multipart/alternative: the text below the attachment is still found", STRIPPED, "text/plain",
     False),
    ("019-encoding-before-type.eml", m_encoding_before_type,
     "text part gives Content-Transfer-Encoding (base64) before Content-Type; the top level declares 7bit",
     STRIPPED, "text/plain", False),
    ("020-no-blank-before-delimiter.eml", m_no_blank_before_delimiter,
     "text part whose last line (the signature) runs straight into the next delimiter", STRIPPED, "text/plain", False),
    ("021-mixed-text-only.eml", m_mixed_text_only,
     "multipart/mixed with one text part and no attachment: flattened to single-part", STRIPPED, "text/plain", False),
    ("022-html-marker-header.eml", m_html_marker_header,
     'header line "X-Original-Content-Type: text/html": left alone when HtmlMsgOff is on, stripped otherwise',
     STRIPPED, "text/plain", True),
    ("023-html-body-with-attachment.eml", m_html_body_with_attachment,
     "HTML body + PDF, no text/plain part: the first part (the HTML) is kept", STRIPPED, "text/html", False),
    ("024-forward-rfc822.eml", m_forward_rfc822,
     "forward as message/rfc822 (the forwarded mail has its own .xlsx): the whole forward is removed",
     STRIPPED, "text/plain", False),
    ("025-forward-nested-inline.eml", m_forward_nested_inline,
     "forward of a forward as multipart/mixed inside multipart/mixed, PNG at the bottom", STRIPPED, "text/plain",
     False),
    ("026-text-below-nested-parts.eml", m_text_below_nested_parts,
     "text three levels down (mixed > mixed > alternative), inline JPEG and .xlsx around it", STRIPPED, "text/plain",
     False),
    ("027-lf-only-with-attachment.eml", m_lf_only_with_attachment,
     "LF-only line ends, text + PDF: the result has CR LF line ends", STRIPPED, "text/plain", False),
    ("028-header-variants.eml", m_header_variants,
     "upper-case field and parameter names, unquoted boundary on a folded line, 64-column base64",
     STRIPPED, "text/plain", False),
    ("029-preamble-epilogue.eml", m_preamble_epilogue,
     "preambles and epilogues at both levels, text after the closing delimiter", STRIPPED, "text/plain", False),
    ("030-txt-attachment-beside-body.eml", m_txt_attachment_beside_body,
     "alternative body + a .txt attachment: the body is kept, the .txt attachment goes",
     STRIPPED, "text/plain", False),
    ("031-empty-text-part.eml", m_empty_text_part,
     "scanner mail whose text part is empty: the preamble becomes the body", STRIPPED, "text/plain", False),
    ("032-scan-pdf-only.eml", m_scan_pdf_only,
     "multipart/mixed holding only a PDF: with no text part the PDF itself is kept", STRIPPED, "application/pdf",
     False),
    ("033-large-pdf.eml", m_large_pdf, "text + a 12-page PDF (the biggest saving)", STRIPPED, "text/plain", False),
    ("034-boundary-never-used.eml", m_boundary_never_used,
     "multipart/mixed whose delimiter lines differ in case from the boundary: no part found, notice, unchanged",
     NOT_MULTIPART, None, False),
    ("035-forward-loop-too-deep.eml", m_forward_loop_too_deep,
     "auto-forward loop nested 70 levels deep: refused with a notice, unchanged", TOO_DEEP, None, False),
    ("036-text-then-txt-and-csv.eml", m_text_then_txt_and_csv,
     "ISO-2022-JP text, then a .txt and a base64 .csv attachment: the body text is kept", STRIPPED, "text/plain",
     False),
]


def build():
    """{file name: bytes} of every sample."""
    return {name: builder() for name, builder, *_ in SAMPLES}


def readme():
    lines = [
        "# Sample mailbox",
        "",
        "`mailbox/` is a data folder of the stand-in host: mailbox `Main`, folders `Inbox` and `Trash`",
        "(empty). The messages are written by `make_samples.py`; everyone in them is invented. The",
        "committed files are the reference, and `make_samples.py --check` confirms that the script",
        "still gives them back byte for byte. `make_bulk.py OUT_DIR [-n 300] [--seed 1]` writes a",
        "large generated folder for bulk tests of the attachment list.",
        "",
        "After a run, `tools/mailcheck ORIGINAL_INBOX INBOX TRASH` checks every message (add",
        "`--html-off` when the HtmlMsgOff setting was on: 022 is then left alone).",
        "",
        "| file | what it exercises | outcome |",
        "|---|---|---|",
    ]
    for name, _, what, outcome, kept, _ in SAMPLES:
        result = "stripped to its %s part" % kept if outcome == STRIPPED else "unchanged: " + outcome
        lines.append("| `%s` | %s | %s |" % (name, what, result))
    return ("\n".join(lines) + "\n").encode("utf-8")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--check", action="store_true", help="compare with the committed files instead of writing")
    parser.add_argument("--out", help="folder to write the messages into (default: the sample Inbox)")
    args = parser.parse_args()
    messages = build()
    if args.check:
        wanted = dict(messages)
        wanted[README] = readme()
        problems = []
        present = {n for n in os.listdir(INBOX) if n.lower().endswith(".eml")} if os.path.isdir(INBOX) else set()
        for name in sorted(present - set(messages)):
            problems.append("not made by this script: " + name)
        for name, data in wanted.items():
            path = name if os.path.isabs(name) else os.path.join(INBOX, name)
            try:
                with open(path, "rb") as f:
                    same = f.read() == data
            except OSError:
                same = False
            if not same:
                problems.append("differs or missing: " + os.path.relpath(path, HERE))
        for problem in problems:
            print(problem)
        print("%d files checked, %d differ" % (len(wanted), len(problems)))
        return 1 if problems else 0
    target = args.out or INBOX
    os.makedirs(target, exist_ok=True)
    for name, data in messages.items():
        with open(os.path.join(target, name), "wb") as f:
            f.write(data)
    if not args.out:
        os.makedirs(os.path.join(HERE, "mailbox", "Main", "Trash"), exist_ok=True)
        with open(README, "wb") as f:
            f.write(readme())
    print("wrote %d messages to %s" % (len(messages), target))
    return 0


if __name__ == "__main__":
    sys.exit(main())
