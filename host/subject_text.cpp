#include "subject_text.h"

#include <windows.h>

#include <cctype>
#include <cstring>

#include "cp932_text.h"

namespace {

// Bytes the code page cannot take are shown one character per byte.
std::wstring Widen(const std::string& bytes, UINT codePage)
{
    std::wstring wide = WideFromCodePage(bytes, codePage);
    if (wide.empty())
        return std::wstring(bytes.begin(), bytes.end());
    return wide;
}

// ISO-2022-JP to Shift_JIS: JIS X 0208 pairs map arithmetically.
std::string Iso2022JpToShiftJis(const std::string& jis)
{
    enum { kAscii, kKanji, kKatakana } mode = kAscii;
    std::string sjis;
    for (size_t i = 0; i < jis.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(jis[i]);
        if (c == 0x1B && i + 2 < jis.size()) {
            char a = jis[i + 1], b = jis[i + 2];
            if (a == '$' && (b == 'B' || b == '@'))
                mode = kKanji;
            else if (a == '(' && b == 'I')
                mode = kKatakana;
            else if (a == '(')
                mode = kAscii;
            i += 2;
        } else if (c == '\r' || c == '\n') {
            mode = kAscii;
            sjis += static_cast<char>(c);
        } else if (mode == kKanji && i + 1 < jis.size() && c >= 0x21 && c <= 0x7E) {
            unsigned char c2 = static_cast<unsigned char>(jis[++i]);
            unsigned lead = ((c - 0x21u) >> 1) + 0x81u;
            if (lead > 0x9F)
                lead += 0x40;
            unsigned trail = (c & 1) ? c2 + 0x1Fu + (c2 >= 0x60 ? 1u : 0u) : c2 + 0x7Eu;
            sjis += static_cast<char>(lead);
            sjis += static_cast<char>(trail);
        } else if (mode == kKatakana && c >= 0x21 && c <= 0x5F) {
            sjis += static_cast<char>(c + 0x80);
        } else {
            sjis += static_cast<char>(c);
        }
    }
    return sjis;
}

std::wstring DecodeCharset(const std::string& bytes, std::string charset)
{
    for (char& c : charset)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (charset == "iso-2022-jp")
        return Widen(Iso2022JpToShiftJis(bytes), 932);
    if (charset == "utf-8")
        return Widen(bytes, CP_UTF8);
    if (charset == "us-ascii" || charset == "iso-8859-1")
        return Widen(bytes, 28591);
    return Widen(bytes, 932);
}

int Base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

std::string DecodeBase64(const std::string& text)
{
    std::string bytes;
    unsigned bits = 0;
    int count = 0;
    for (char c : text) {
        int value = Base64Value(c);
        if (value < 0)
            continue;
        bits = (bits << 6) | static_cast<unsigned>(value);
        count += 6;
        if (count >= 8) {
            count -= 8;
            bytes += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return bytes;
}

std::string DecodeQ(const std::string& text)
{
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '_') {
            bytes += ' ';
        } else if (text[i] == '=' && i + 2 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

// Parses "=?charset?B?text?=" at start; on success sets end past it.
bool DecodeWord(const std::string& raw, size_t start, size_t& end, std::wstring& decoded)
{
    if (raw.compare(start, 2, "=?") != 0)
        return false;
    size_t charsetEnd = raw.find('?', start + 2);
    if (charsetEnd == std::string::npos || charsetEnd + 2 >= raw.size() || raw[charsetEnd + 2] != '?')
        return false;
    char encoding = static_cast<char>(std::toupper(static_cast<unsigned char>(raw[charsetEnd + 1])));
    size_t textStart = charsetEnd + 3;
    size_t textEnd = raw.find("?=", textStart);
    if (textEnd == std::string::npos || (encoding != 'B' && encoding != 'Q'))
        return false;
    std::string text = raw.substr(textStart, textEnd - textStart);
    std::string charset = raw.substr(start + 2, charsetEnd - start - 2);
    size_t language = charset.find('*'); // RFC 2231 language suffix
    if (language != std::string::npos)
        charset.resize(language);
    decoded = DecodeCharset(encoding == 'B' ? DecodeBase64(text) : DecodeQ(text), charset);
    end = textEnd + 2;
    return true;
}

std::wstring Literal(const std::string& bytes)
{
    return bytes.find('\x1B') != std::string::npos ? Widen(Iso2022JpToShiftJis(bytes), 932) : Widen(bytes, 932);
}

} // namespace

std::wstring SubjectForDisplay(const std::string& raw)
{
    std::wstring shown;
    std::string pending; // literal bytes not yet converted
    size_t i = 0;
    bool lastWasEncoded = false;
    while (i < raw.size()) {
        size_t end = 0;
        std::wstring decoded;
        if (DecodeWord(raw, i, end, decoded)) {
            // Blanks between two encoded words are not part of the text.
            if (!(lastWasEncoded && pending.find_first_not_of(" \t") == std::string::npos))
                shown += Literal(pending);
            pending.clear();
            shown += decoded;
            lastWasEncoded = true;
            i = end;
        } else {
            if (raw[i] != ' ' && raw[i] != '\t')
                lastWasEncoded = false;
            pending += raw[i++];
        }
    }
    shown += Literal(pending);
    return shown;
}
