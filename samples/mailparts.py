"""Building blocks for the sample messages: MIME parts rendered to bytes, and
small but valid attachment files (PNG, JPEG, PDF, DOCX, XLSX).

Every byte comes from fixed inputs. Nothing is compressed with a library whose
output could change between versions: PNG data and ZIP members are stored
uncompressed, so the committed samples can be regenerated exactly.
"""

import base64
import quopri
import struct
import zlib

CRLF = b"\r\n"

# Python codec for each MIME charset used here.
CODECS = {"ISO-2022-JP": "iso2022_jp", "Shift_JIS": "shift_jis", "UTF-8": "utf-8", "US-ASCII": "ascii"}


# ---------------------------------------------------------------- text encoding

def encoded_words(text, charset="ISO-2022-JP", chars_per_word=12):
    """RFC 2047 B-encoded words, one per run of characters, folded with CRLF SP
    as mail programs write long Japanese subjects. Each word is complete on its
    own (ISO-2022-JP words end back in ASCII)."""
    if text.isascii():
        return text
    codec = CODECS[charset]
    words = []
    for start in range(0, len(text), chars_per_word):
        chunk = text[start:start + chars_per_word].encode(codec)
        words.append("=?%s?B?%s?=" % (charset, base64.b64encode(chunk).decode("ascii")))
    return "\r\n ".join(words)


def mailbox(display_name, address, charset="ISO-2022-JP"):
    if not display_name:
        return address
    if display_name.isascii():
        return '"%s" <%s>' % (display_name, address)
    return "%s <%s>" % (encoded_words(display_name, charset, 20), address)


def rfc2231_value(text, charset="UTF-8"):
    """filename*=UTF-8''%E5%A0%B1... (RFC 2231), for non-ASCII file names."""
    raw = text.encode(CODECS[charset])
    quoted = "".join(chr(b) if (chr(b).isalnum() and b < 128) or chr(b) in "-._" else "%%%02X" % b for b in raw)
    return "%s''%s" % (charset, quoted)


def text_body(text, charset, encoding):
    """Body lines (bytes, without line ends) of a text in a charset and a
    transfer encoding: 7bit, 8bit, base64 or quoted-printable."""
    codec = CODECS[charset]
    lines = text.split("\n")
    if encoding in ("7bit", "8bit"):
        # Each line on its own, so that ISO-2022-JP returns to ASCII at every line end.
        return [line.encode(codec) for line in lines]
    data = "\r\n".join(lines).encode(codec)
    if encoding == "base64":
        return base64_lines(data)
    if encoding == "quoted-printable":
        return quopri.encodestring(data.replace(b"\r\n", b"\n")).split(b"\n")
    raise ValueError(encoding)


def base64_lines(data, width=76):
    encoded = base64.b64encode(data)
    return [encoded[i:i + width] for i in range(0, len(encoded), width)]


# ---------------------------------------------------------------- MIME parts

class Leaf:
    """A part with header lines and body lines (bytes or ASCII str, no line
    ends; a folded field is one entry holding its CRLF-SP continuations).
    tight: no blank line between its last body line and the next delimiter."""

    def __init__(self, headers, body, tight=False):
        self.headers = headers
        self.body = body
        self.tight = tight


class Multi:
    def __init__(self, headers, boundary, parts, preamble=(), epilogue=(), tight=False):
        self.headers = headers
        self.boundary = boundary
        self.parts = parts
        self.preamble = list(preamble)
        self.epilogue = list(epilogue)
        self.tight = tight


def _bytes(line):
    return line if isinstance(line, bytes) else line.encode("ascii")


def render(node, eol=CRLF):
    out = bytearray()
    for field in node.headers:
        out += _bytes(field).replace(CRLF, eol) + eol
    out += eol
    if isinstance(node, Leaf):
        for line in node.body:
            out += _bytes(line) + eol
        return bytes(out)
    boundary = node.boundary.encode("ascii")
    for line in node.preamble:
        out += _bytes(line) + eol
    for part in node.parts:
        out += b"--" + boundary + eol + render(part, eol)
        if not part.tight:
            out += eol
    out += b"--" + boundary + b"--" + eol
    for line in node.epilogue:
        out += _bytes(line) + eol
    return bytes(out)


def text_part(text, charset="ISO-2022-JP", encoding="7bit", fold=False, encoding_first=False, extra=(), tight=False):
    content_type = "Content-Type: text/plain;%scharset=%s" % ("\r\n\t" if fold else " ", _quoted_charset(charset))
    headers = [content_type, "Content-Transfer-Encoding: " + encoding]
    if encoding_first:
        headers.reverse()
    return Leaf(headers + list(extra), text_body(text, charset, encoding), tight)


def html_part(html, charset="UTF-8", encoding="quoted-printable"):
    return Leaf(["Content-Type: text/html; charset=" + _quoted_charset(charset),
                 "Content-Transfer-Encoding: " + encoding], text_body(html, charset, encoding))


def _quoted_charset(charset):
    return '"%s"' % charset.lower() if charset == "ISO-2022-JP" else charset


def attachment(data, media_type, filename, name_style="plain", disposition="attachment", extra=()):
    """A base64 attachment. name_style: plain (ASCII), word (RFC 2047 in
    ISO-2022-JP / UTF-8 / Shift_JIS: 'word:CHARSET'), rfc2231 (UTF-8)."""
    if name_style == "plain":
        name_param, file_param = 'name="%s"' % filename, 'filename="%s"' % filename
    elif name_style.startswith("word:"):
        word = encoded_words(filename, name_style[5:], 40)
        name_param, file_param = 'name="%s"' % word, 'filename="%s"' % word
    elif name_style == "rfc2231":
        name_param, file_param = 'name="%s"' % encoded_words(filename, "UTF-8", 40), \
            "filename*=" + rfc2231_value(filename)
    else:
        raise ValueError(name_style)
    headers = ["Content-Type: %s;\r\n %s" % (media_type, name_param),
               "Content-Disposition: %s;\r\n %s" % (disposition, file_param),
               "Content-Transfer-Encoding: base64"] + list(extra)
    return Leaf(headers, base64_lines(data))


# ---------------------------------------------------------------- attachment files

def _zlib_stored(data):
    """A zlib stream of stored (uncompressed) deflate blocks."""
    out = bytearray(b"\x78\x01")
    position = 0
    while True:
        chunk = data[position:position + 65535]
        position += len(chunk)
        final = position >= len(data)
        out.append(1 if final else 0)
        out += struct.pack("<HH", len(chunk), len(chunk) ^ 0xFFFF) + chunk
        if final:
            break
    return bytes(out) + struct.pack(">I", zlib.adler32(data))


def png(width, height, pixel):
    """A truecolour PNG; pixel(x, y) gives (r, g, b)."""
    rows = bytearray()
    for y in range(height):
        rows.append(0)
        for x in range(width):
            rows += bytes(pixel(x, y))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", _zlib_stored(bytes(rows))) + chunk(b"IEND", b"")


class _BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.value = 0
        self.count = 0

    def write(self, value, bits):
        for shift in range(bits - 1, -1, -1):
            self.value = (self.value << 1) | ((value >> shift) & 1)
            self.count += 1
            if self.count == 8:
                self.out.append(self.value)
                if self.value == 0xFF:
                    self.out.append(0)  # byte stuffing
                self.value = 0
                self.count = 0

    def finish(self):
        while self.count:
            self.write(1, 1)
        return bytes(self.out)


def jpeg(width, height, block_colour):
    """A baseline JFIF JPEG made of flat 8x8 blocks; block_colour(bx, by)
    gives (r, g, b). Only DC coefficients are coded, with small Huffman tables
    of our own: a valid file that any decoder reads, a few hundred bytes long."""
    assert width % 8 == 0 and height % 8 == 0

    def segment(marker, payload):
        return struct.pack(">HH", marker, len(payload) + 2) + payload

    quant = 8  # with a quantiser of 8 a flat block's DC value is its level - 128
    dc_bits = bytes([0, 0, 0, 12] + [0] * 12)  # 12 codes of 4 bits: category n is code n
    ac_bits = bytes([1] + [0] * 15)            # one code of 1 bit: end of block
    writer = _BitWriter()
    predictors = [0, 0, 0]
    for by in range(height // 8):
        for bx in range(width // 8):
            r, g, b = block_colour(bx, by)
            levels = (0.299 * r + 0.587 * g + 0.114 * b,
                      -0.168736 * r - 0.331264 * g + 0.5 * b + 128,
                      0.5 * r - 0.418688 * g - 0.081312 * b + 128)
            for component, level in enumerate(levels):
                dc = int(round(level)) - 128
                diff = dc - predictors[component]
                predictors[component] = dc
                category = abs(diff).bit_length()
                writer.write(category, 4)
                if category:
                    writer.write(diff if diff > 0 else diff + (1 << category) - 1, category)
                writer.write(0, 1)
    components = b"".join(bytes([ident, 0x11, 0]) for ident in (1, 2, 3))
    return (b"\xff\xd8"
            + segment(0xFFE0, b"JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00")
            + segment(0xFFDB, b"\x00" + bytes([quant] * 64))
            + segment(0xFFC0, struct.pack(">BHHB", 8, height, width, 3) + components)
            + segment(0xFFC4, b"\x00" + dc_bits + bytes(range(12)) + b"\x10" + ac_bits + b"\x00")
            + segment(0xFFDA, b"\x03\x01\x00\x02\x00\x03\x00\x00\x3f\x00")
            + writer.finish() + b"\xff\xd9")


def _pdf_string(text):
    return "(" + text.replace("\\", "\\\\").replace("(", "\\(").replace(")", "\\)") + ")"


def pdf(pages, title, created="20240513093000+09'00'"):
    """A PDF of A4 pages, each a list of ASCII text lines in Helvetica, with a
    correct cross-reference table."""
    page_count = len(pages)
    first_page = 4
    font = first_page + 2 * page_count
    info = font + 1
    objects = {
        1: "<< /Type /Catalog /Pages 2 0 R >>",
        2: "<< /Type /Pages /Kids [%s] /Count %d >>" % (
            " ".join("%d 0 R" % (first_page + 2 * i) for i in range(page_count)), page_count),
        3: "<< /ProcSet [/PDF /Text] /Font << /F1 %d 0 R >> >>" % font,
        font: "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>",
        info: "<< /Title %s /Producer (TlClipsum sample generator) /CreationDate (D:%s) >>" % (
            _pdf_string(title), created),
    }
    for index, lines in enumerate(pages):
        page = first_page + 2 * index
        stream = "BT\n/F1 11 Tf\n14 TL\n56 780 Td\n" + "".join(
            "%s '\n" % _pdf_string(line) for line in lines) + "ET\n"
        objects[page] = ("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Resources 3 0 R "
                         "/Contents %d 0 R >>" % (page + 1))
        objects[page + 1] = "<< /Length %d >>\nstream\n%sendstream" % (len(stream), stream)
    out = bytearray(b"%PDF-1.4\n%\xe2\xe3\xcf\xd3\n")
    offsets = []
    for number in range(1, info + 1):
        offsets.append(len(out))
        out += ("%d 0 obj\n%s\nendobj\n" % (number, objects[number])).encode("latin-1")
    xref = len(out)
    out += ("xref\n0 %d\n0000000000 65535 f \n" % (info + 1)).encode("ascii")
    for offset in offsets:
        out += ("%010d 00000 n \n" % offset).encode("ascii")
    out += ("trailer\n<< /Size %d /Root 1 0 R /Info %d 0 R >>\nstartxref\n%d\n%%%%EOF\n" % (
        info + 1, info, xref)).encode("ascii")
    return bytes(out)


def zip_stored(members, when=(2024, 5, 13, 9, 30, 0)):
    """A ZIP archive with stored members and a fixed time stamp."""
    year, month, day, hour, minute, second = when
    dos_time = (hour << 11) | (minute << 5) | (second // 2)
    dos_date = ((year - 1980) << 9) | (month << 5) | day
    local = bytearray()
    central = bytearray()
    for name, data in members:
        encoded = name.encode("utf-8")
        crc = zlib.crc32(data)
        offset = len(local)
        local += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0, 0, dos_time, dos_date,
                             crc, len(data), len(data), len(encoded), 0) + encoded + data
        central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, 0, 0, dos_time, dos_date,
                               crc, len(data), len(data), len(encoded), 0, 0, 0, 0, 0, offset) + encoded
    end = struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, len(members), len(members), len(central), len(local), 0)
    return bytes(local + central + end)


_XML = '<?xml version="1.0" encoding="UTF-8" standalone="yes"?>\r\n'
_PACKAGE_RELS = "http://schemas.openxmlformats.org/package/2006/relationships"
_OFFICE_DOCUMENT = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument"


def _xml_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def _content_types(overrides):
    return (_XML + '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
            '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
            '<Default Extension="xml" ContentType="application/xml"/>'
            + "".join('<Override PartName="%s" ContentType="%s"/>' % item for item in overrides) + "</Types>")


def _relationships(items):
    return (_XML + '<Relationships xmlns="%s">' % _PACKAGE_RELS
            + "".join('<Relationship Id="rId%d" Type="%s" Target="%s"/>' % (i + 1, kind, target)
                      for i, (kind, target) in enumerate(items)) + "</Relationships>")


def docx(paragraphs):
    """A minimal word-processing document: one paragraph per text."""
    main = "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml"
    body = "".join("<w:p><w:r><w:t>%s</w:t></w:r></w:p>" % _xml_text(p) for p in paragraphs)
    document = (_XML + '<w:document xmlns:w="http://schemas.openxmlformats.org/wordprocessingml/2006/main">'
                "<w:body>%s</w:body></w:document>" % body)
    return zip_stored([
        ("[Content_Types].xml", _content_types([("/word/document.xml", main)]).encode("utf-8")),
        ("_rels/.rels", _relationships([(_OFFICE_DOCUMENT, "word/document.xml")]).encode("utf-8")),
        ("word/document.xml", document.encode("utf-8")),
    ])


def xlsx(rows):
    """A minimal workbook with one sheet; cells are str (inline) or numbers."""
    spreadsheet = "application/vnd.openxmlformats-officedocument.spreadsheetml"
    cells = []
    for r, row in enumerate(rows, 1):
        row_cells = []
        for c, value in enumerate(row):
            ref = "%s%d" % (chr(ord("A") + c), r)
            if isinstance(value, str):
                row_cells.append('<c r="%s" t="inlineStr"><is><t>%s</t></is></c>' % (ref, _xml_text(value)))
            else:
                row_cells.append('<c r="%s"><v>%s</v></c>' % (ref, value))
        cells.append('<row r="%d">%s</row>' % (r, "".join(row_cells)))
    main_ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main"
    rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships"
    workbook = (_XML + '<workbook xmlns="%s" xmlns:r="%s"><sheets>'
                '<sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets></workbook>' % (main_ns, rel_ns))
    sheet = _XML + '<worksheet xmlns="%s"><sheetData>%s</sheetData></worksheet>' % (main_ns, "".join(cells))
    return zip_stored([
        ("[Content_Types].xml", _content_types([
            ("/xl/workbook.xml", spreadsheet + ".sheet.main+xml"),
            ("/xl/worksheets/sheet1.xml", spreadsheet + ".worksheet+xml")]).encode("utf-8")),
        ("_rels/.rels", _relationships([(_OFFICE_DOCUMENT, "xl/workbook.xml")]).encode("utf-8")),
        ("xl/workbook.xml", workbook.encode("utf-8")),
        ("xl/_rels/workbook.xml.rels", _relationships([
            (rel_ns + "/worksheet", "worksheets/sheet1.xml")]).encode("utf-8")),
        ("xl/worksheets/sheet1.xml", sheet.encode("utf-8")),
    ])


DOCX_TYPE = "application/vnd.openxmlformats-officedocument.wordprocessingml.document"
XLSX_TYPE = "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"
