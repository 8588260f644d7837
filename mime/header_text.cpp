#include "mime/header_text.h"

#include <cstdint>
#include <cstring>

#include "mime/body_decoder.h"
#include "mime/jis_tables.h"
#include "mime/line_reader.h"

namespace {

using Byte = unsigned char;

constexpr char32_t kReplacement = 0xFFFD;
constexpr Byte kEscape = 0x1B;
constexpr char32_t kUserAreaFirst = 0xE000;
constexpr Byte kUserLeadFirst = 0xF0;
constexpr Byte kUserLeadLast = 0xF9;

bool IsBlank(Byte b)
{
    return b == ' ' || b == '\t';
}

bool IsWhiteSpace(Byte b)
{
    return IsBlank(b) || b == '\r' || b == '\n';
}

bool IsSjisLead(Byte b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

bool IsSjisTrail(Byte b)
{
    return b >= 0x40 && b <= 0xFC && b != 0x7F;
}


// ---- Characters of the tables ----

// The character of a CP932 pair; 0 when it has none.
char32_t Cp932Pair(Byte lead, Byte trail)
{
    if (lead < 0x80 || !IsSjisTrail(trail))
        return 0;
    const std::size_t cell = trail < 0x80 ? trail - 0x40u : trail - 0x41u;
    if (lead >= kUserLeadFirst && lead <= kUserLeadLast)
        return kUserAreaFirst + static_cast<char32_t>((lead - kUserLeadFirst) * jis::kRowLength + cell);
    const Byte row = jis::kRowOfLead[lead - 0x80];
    if (row == 0xFF)
        return 0;
    return jis::kCp932ToUnicode[row * jis::kRowLength + cell];
}

// JIS X 0208 row and cell bytes (0x21-0x7E each) are Shift_JIS by arithmetic;
// CP932 then gives the NEC and IBM rows too, as Windows reads ISO-2022-JP.
char32_t JisPair(Byte first, Byte second)
{
    const Byte lead = static_cast<Byte>(((first + 1) >> 1) + (first <= 0x5E ? 0x70 : 0xB0));
    Byte trail;
    if (first & 1)
        trail = static_cast<Byte>(second + (second >= 0x60 ? 0x20 : 0x1F));
    else
        trail = static_cast<Byte>(second + 0x7E);
    return Cp932Pair(lead, trail);
}

char32_t HalfWidthKatakana(Byte sjis)
{
    return 0xFF61 + static_cast<char32_t>(sjis - 0xA1);
}

// The CP932 code of a character (a pair as lead << 8 | trail, or one byte); 0 when it has none.
unsigned Cp932Of(char32_t c)
{
    if (c < 0x80)
        return c;
    if (c >= 0xFF61 && c <= 0xFF9F)
        return 0xA1 + (c - 0xFF61);
    const char32_t userAreaEnd = kUserAreaFirst + (kUserLeadLast - kUserLeadFirst + 1) * jis::kRowLength;
    if (c >= kUserAreaFirst && c < userAreaEnd) {
        const unsigned offset = c - kUserAreaFirst;
        const unsigned cell = offset % jis::kRowLength;
        return (kUserLeadFirst + offset / jis::kRowLength) << 8 | (cell < 0x3F ? cell + 0x40 : cell + 0x41);
    }
    if (c > 0xFFFF)
        return 0;
    std::size_t low = 0;
    std::size_t high = jis::kPairCount;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (jis::kUnicodeWithCp932[middle] < c)
            low = middle + 1;
        else
            high = middle;
    }
    return low < jis::kPairCount && jis::kUnicodeWithCp932[low] == c ? jis::kCp932OfUnicode[low] : 0;
}

// ---- Output ----

// The bounded output buffer. Blanks wait until a character follows them, so
// that leading and trailing ones never appear; after the first character that
// does not fit nothing more is written.
class Sink {
public:
    Sink(char* out, std::size_t outSize, TextTarget target) : out_(out), room_(outSize), target_(target)
    {
        full_ = out == nullptr || outSize == 0;
    }

    void Put(char32_t c)
    {
        if (full_)
            return;
        if (c < 0x20 || (c >= 0x7F && c < 0xA0))
            c = ' ';
        if (c == ' ') {
            if (length_ > 0)
                ++blanks_;
            return;
        }
        char bytes[4];
        const std::size_t count = target_ == TextTarget::Cp932 ? EncodeCp932(c, bytes) : EncodeUtf8(c, bytes);
        if (length_ + blanks_ + count >= room_) {
            full_ = true;
            return;
        }
        std::memset(out_ + length_, ' ', blanks_);
        length_ += blanks_;
        blanks_ = 0;
        std::memcpy(out_ + length_, bytes, count);
        length_ += count;
    }

    std::size_t Finish()
    {
        if (room_ > 0 && out_ != nullptr)
            out_[length_] = '\0';
        return length_;
    }

private:
    static std::size_t EncodeCp932(char32_t c, char* bytes)
    {
        unsigned code = Cp932Of(c);
        if (code == 0)
            code = 0x81AC; // the geta mark
        if (code < 0x100) {
            bytes[0] = static_cast<char>(code);
            return 1;
        }
        bytes[0] = static_cast<char>(code >> 8);
        bytes[1] = static_cast<char>(code & 0xFF);
        return 2;
    }

    static std::size_t EncodeUtf8(char32_t c, char* bytes)
    {
        if ((c >= 0xD800 && c < 0xE000) || c > 0x10FFFF)
            c = kReplacement;
        if (c < 0x80) {
            bytes[0] = static_cast<char>(c);
            return 1;
        }
        if (c < 0x800) {
            bytes[0] = static_cast<char>(0xC0 | (c >> 6));
            bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
            return 2;
        }
        if (c < 0x10000) {
            bytes[0] = static_cast<char>(0xE0 | (c >> 12));
            bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
            return 3;
        }
        bytes[0] = static_cast<char>(0xF0 | (c >> 18));
        bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
        return 4;
    }

    char* out_;
    std::size_t room_;
    TextTarget target_;
    std::size_t length_ = 0;
    std::size_t blanks_ = 0;
    bool full_;
};

// ---- ISO-2022-JP escape sequences ----

enum class JisMode { Ascii, Katakana, Jis0208, Jis0212 };

// The mode that the escape sequence behind an ESC at text[0] selects, and its
// length with the ESC; 0 when it is none of ISO-2022-JP's.
std::size_t JisEscape(const char* text, const char* end, JisMode& mode)
{
    const std::size_t left = static_cast<std::size_t>(end - text);
    if (left >= 3 && text[1] == '(') {
        if (text[2] == 'B' || text[2] == 'J')
            mode = JisMode::Ascii;
        else if (text[2] == 'I')
            mode = JisMode::Katakana;
        else
            return 0;
        return 3;
    }
    if (left >= 3 && text[1] == '$' && (text[2] == 'B' || text[2] == '@')) {
        mode = JisMode::Jis0208;
        return 3;
    }
    if (left >= 4 && text[1] == '$' && text[2] == '(' && text[3] == 'D') {
        mode = JisMode::Jis0212;
        return 4;
    }
    return 0;
}

// ---- Bytes as written, or as a quoted string means them ----

// Reads the bytes of a text, or of a quoted string's content: there a
// backslash takes the next byte as it is and an unescaped quote ends the
// content. Bytes inside an ISO-2022-JP double-byte run, and (when the text
// reads as Shift_JIS) the trail byte of a pair, are never a quote or an escape.
struct TextCursor {
    const char* at;
    const char* end;
    bool quoted = false;
    bool sjisPairs = false;
    bool doubleByteRun = false;
    bool trailNext = false;

    TextCursor(const char* begin, const char* stop) : at(begin), end(stop) {}

    bool Failed() const { return false; }

    bool Next(Byte& b)
    {
        if (at >= end)
            return false;
        b = static_cast<Byte>(*at);
        if (trailNext) {
            trailNext = false;
            if (IsSjisTrail(b)) {
                ++at;
                return true;
            }
        }
        if (doubleByteRun && b >= 0x21 && b <= 0x7E) {
            ++at;
            return true;
        }
        if (quoted) {
            if (b == '"')
                return false;
            if (b == '\\' && at + 1 < end) {
                b = static_cast<Byte>(at[1]);
                at += 2;
                return true;
            }
        }
        if (b == kEscape) {
            JisMode mode;
            if (JisEscape(at, end, mode) > 0)
                doubleByteRun = mode == JisMode::Jis0208 || mode == JisMode::Jis0212;
        } else if (b == '\r' || b == '\n') {
            doubleByteRun = false;
        } else if (sjisPairs && IsSjisLead(b)) {
            trailNext = true;
        }
        ++at;
        return true;
    }
};

// ---- Charsets ----

enum class Charset { Unknown, Ascii, Latin1, Latin9, Windows1252, Utf8, ShiftJis, EucJp, Iso2022Jp };

struct CharsetName {
    const char* name;
    Charset charset;
};

const CharsetName kCharsetNames[] = {
    {"us-ascii", Charset::Ascii},        {"ascii", Charset::Ascii},
    {"iso-8859-1", Charset::Latin1},     {"iso8859-1", Charset::Latin1},
    {"iso_8859-1", Charset::Latin1},     {"latin1", Charset::Latin1},
    {"iso-8859-15", Charset::Latin9},    {"iso8859-15", Charset::Latin9},
    {"latin-9", Charset::Latin9},        {"windows-1252", Charset::Windows1252},
    {"cp1252", Charset::Windows1252},    {"utf-8", Charset::Utf8},
    {"utf8", Charset::Utf8},             {"shift_jis", Charset::ShiftJis},
    {"shift-jis", Charset::ShiftJis},    {"sjis", Charset::ShiftJis},
    {"x-sjis", Charset::ShiftJis},       {"cp932", Charset::ShiftJis},
    {"ms932", Charset::ShiftJis},        {"windows-31j", Charset::ShiftJis},
    {"ms_kanji", Charset::ShiftJis},     {"csshiftjis", Charset::ShiftJis},
    {"euc-jp", Charset::EucJp},          {"x-euc-jp", Charset::EucJp},
    {"eucjp", Charset::EucJp},           {"iso-2022-jp", Charset::Iso2022Jp},
    {"csiso2022jp", Charset::Iso2022Jp},
};

// A charset name as written, up to an RFC 2231 *language suffix.
Charset CharsetNamed(const char* name, std::size_t length)
{
    const void* star = std::memchr(name, '*', length);
    if (star)
        length = static_cast<std::size_t>(static_cast<const char*>(star) - name);
    for (const CharsetName& entry : kCharsetNames) {
        if (std::strlen(entry.name) == length && EqualsNoCase(entry.name, name, length))
            return entry.charset;
    }
    return Charset::Unknown;
}

enum class Step { Char, Shift, End, Invalid };

struct DecoderState {
    Charset charset;
    JisMode mode = JisMode::Ascii;
};

// Source: a copyable reader of bytes with bool Next(Byte&).
template <class Source>
Step NextUtf8(Byte lead, Source& source, char32_t& c)
{
    int more;
    char32_t least;
    if (lead < 0x80) {
        c = lead;
        return Step::Char;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        more = 1;
        least = 0x80;
        c = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        more = 2;
        least = 0x800;
        c = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        more = 3;
        least = 0x10000;
        c = lead & 0x07u;
    } else {
        return Step::Invalid;
    }
    for (int i = 0; i < more; ++i) {
        Byte b;
        if (!source.Next(b) || (b & 0xC0) != 0x80)
            return Step::Invalid;
        c = c << 6 | (b & 0x3Fu);
    }
    if (c < least || c > 0x10FFFF || (c >= 0xD800 && c < 0xE000))
        return Step::Invalid;
    return Step::Char;
}

template <class Source>
Step NextShiftJis(Byte lead, Source& source, char32_t& c)
{
    if (lead < 0x80) {
        c = lead;
        return Step::Char;
    }
    if (lead >= 0xA1 && lead <= 0xDF) {
        c = HalfWidthKatakana(lead);
        return Step::Char;
    }
    Byte trail;
    if (!IsSjisLead(lead) || !source.Next(trail))
        return Step::Invalid;
    c = Cp932Pair(lead, trail);
    return c != 0 ? Step::Char : Step::Invalid;
}

template <class Source>
Step NextEucJp(Byte lead, Source& source, char32_t& c)
{
    if (lead < 0x80) {
        c = lead;
        return Step::Char;
    }
    Byte second;
    if (!source.Next(second))
        return Step::Invalid;
    if (lead == 0x8E) {
        if (second < 0xA1 || second > 0xDF)
            return Step::Invalid;
        c = HalfWidthKatakana(second);
        return Step::Char;
    }
    if (lead == 0x8F) {
        // JIS X 0212: valid, but no target has it.
        Byte third;
        if (second < 0xA1 || second > 0xFE || !source.Next(third) || third < 0xA1 || third > 0xFE)
            return Step::Invalid;
        c = kReplacement;
        return Step::Char;
    }
    if (lead < 0xA1 || lead > 0xFE || second < 0xA1 || second > 0xFE)
        return Step::Invalid;
    c = JisPair(static_cast<Byte>(lead - 0x80), static_cast<Byte>(second - 0x80));
    return c != 0 ? Step::Char : Step::Invalid;
}

// Inside an ISO-2022-JP run: the escape sequences are read by the caller.
template <class Source>
Step NextInJisMode(JisMode mode, Byte first, Source& source, char32_t& c)
{
    if (first >= 0x80)
        return Step::Invalid;
    if (mode == JisMode::Katakana && first >= 0x21 && first <= 0x5F) {
        c = HalfWidthKatakana(static_cast<Byte>(first + 0x80));
        return Step::Char;
    }
    if ((mode == JisMode::Jis0208 || mode == JisMode::Jis0212) && first >= 0x21 && first <= 0x7E) {
        Byte second;
        if (!source.Next(second) || second < 0x21 || second > 0x7E)
            return Step::Invalid;
        c = mode == JisMode::Jis0212 ? kReplacement : JisPair(first, second);
        return c != 0 ? Step::Char : Step::Invalid;
    }
    c = first;
    return Step::Char;
}

// Reads the escape sequence whose ESC was just taken from source; false when
// it is none, with source then unchanged.
template <class Source>
bool TakeJisEscape(Source& source, JisMode& mode)
{
    char sequence[4] = {static_cast<char>(kEscape)};
    std::size_t count = 1;
    Source ahead = source;
    Byte b;
    while (count < 4 && ahead.Next(b))
        sequence[count++] = static_cast<char>(b);
    const std::size_t length = JisEscape(sequence, sequence + count, mode);
    for (std::size_t i = 1; i < length; ++i)
        source.Next(b);
    return length > 0;
}

template <class Source>
Step NextIso2022Jp(DecoderState& state, Byte first, Source& source, char32_t& c)
{
    if (first == kEscape) {
        JisMode mode;
        if (!TakeJisEscape(source, mode))
            return Step::Invalid;
        state.mode = mode;
        return Step::Shift;
    }
    if (first == '\r' || first == '\n')
        state.mode = JisMode::Ascii;
    return NextInJisMode(state.mode, first, source, c);
}

// The next character of a text in a declared charset: Shift when only an
// escape sequence was read, Invalid when the bytes are not of the charset.
template <class Source>
Step NextChar(DecoderState& state, Source& source, char32_t& c)
{
    Byte b;
    if (!source.Next(b))
        return Step::End;
    switch (state.charset) {
    case Charset::Ascii:
        c = b;
        return b < 0x80 ? Step::Char : Step::Invalid;
    case Charset::Latin1:
        c = b >= 0x80 && b < 0xA0 && jis::kWindows1252High[b - 0x80] != 0 ? jis::kWindows1252High[b - 0x80] : b;
        return Step::Char;
    case Charset::Latin9:
        c = b >= 0xA0 && b < 0xC0 ? jis::kIso8859_15High[b - 0xA0] : b;
        return Step::Char;
    case Charset::Windows1252:
        c = b >= 0x80 && b < 0xA0 ? jis::kWindows1252High[b - 0x80] : b;
        return c != 0 || b == 0 ? Step::Char : Step::Invalid;
    case Charset::Utf8:
        return NextUtf8(b, source, c);
    case Charset::ShiftJis:
        return NextShiftJis(b, source, c);
    case Charset::EucJp:
        return NextEucJp(b, source, c);
    case Charset::Iso2022Jp:
        return NextIso2022Jp(state, b, source, c);
    case Charset::Unknown:
        break;
    }
    return Step::Invalid;
}

template <class Source>
bool IsValidIn(Charset charset, Source source)
{
    DecoderState state{charset};
    for (;;) {
        char32_t c;
        const Step step = NextChar(state, source, c);
        if (step == Step::End)
            return !source.Failed();
        if (step == Step::Invalid)
            return false;
    }
}

// ---- Raw 8-bit text ----

enum class RawCharset { Utf8, EucJp, Cp932, Mixed };

// Counts the CP932 characters of a text while checking that it is CP932.
template <class Source>
bool IsCp932(Source source, std::size_t& katakana, std::size_t& pairs)
{
    DecoderState state{Charset::ShiftJis};
    katakana = 0;
    pairs = 0;
    for (;;) {
        char32_t c;
        const Step step = NextChar(state, source, c);
        if (step == Step::End)
            return true;
        if (step == Step::Invalid)
            return false;
        if (c >= 0xFF61 && c <= 0xFF9F)
            ++katakana;
        else if (c >= 0x80)
            ++pairs;
    }
}

template <class Source>
RawCharset GuessRawCharset(const Source& source)
{
    if (IsValidIn(Charset::Utf8, source))
        return RawCharset::Utf8;
    std::size_t katakana;
    std::size_t pairs;
    const bool cp932 = IsCp932(source, katakana, pairs);
    // EUC-JP read as CP932 comes out as half-width katakana for the most part.
    if (IsValidIn(Charset::EucJp, source) && (!cp932 || katakana > pairs))
        return RawCharset::EucJp;
    return cp932 ? RawCharset::Cp932 : RawCharset::Mixed;
}

struct RawState {
    RawCharset charset;
    JisMode mode = JisMode::Ascii;
};

// The next character of raw text; never Invalid: a byte that starts no
// character becomes the replacement.
template <class Source>
Step NextRawChar(RawState& state, Source& source, char32_t& c)
{
    const Source start = source;
    Byte b;
    if (!source.Next(b))
        return Step::End;
    if (b == kEscape) {
        JisMode mode;
        if (TakeJisEscape(source, mode)) {
            state.mode = mode;
            return Step::Shift;
        }
    }
    if (b == '\r' || b == '\n')
        state.mode = JisMode::Ascii;
    if (b < 0x80 && state.mode != JisMode::Ascii) {
        if (NextInJisMode(state.mode, b, source, c) == Step::Char)
            return Step::Char;
        source = start;
        source.Next(b);
        c = kReplacement;
        return Step::Char;
    }
    if (b < 0x80) {
        c = b;
        return Step::Char;
    }
    Step step = Step::Invalid;
    switch (state.charset) {
    case RawCharset::Utf8:
        step = NextUtf8(b, source, c);
        break;
    case RawCharset::EucJp:
        step = NextEucJp(b, source, c);
        break;
    case RawCharset::Cp932:
        step = NextShiftJis(b, source, c);
        break;
    case RawCharset::Mixed:
        step = NextUtf8(b, source, c);
        if (step != Step::Char) {
            source = start;
            source.Next(b);
            step = NextShiftJis(b, source, c);
        }
        break;
    }
    if (step != Step::Char) {
        source = start;
        source.Next(b);
        c = kReplacement;
    }
    return Step::Char;
}

// ---- Encoded words ----

// The decoded bytes of an encoded word's text, B or Q, read from a cursor up
// to the word's closing "?=". Failed() after the end tells a malformed text.
class WordBytes {
public:
    WordBytes(const TextCursor& text, const char* stop, bool base64) : text_(text), stop_(stop), base64_(base64) {}

    bool Next(Byte& b) { return base64_ ? NextBase64(b) : NextQ(b); }

    bool Failed() const { return failed_; }

private:
    bool Take(Byte& b) { return text_.at < stop_ && text_.Next(b); }


    // Padding may be left out, as some mailers do.
    bool NextBase64(Byte& b)
    {
        for (;;) {
            if (bitCount_ >= 8) {
                bitCount_ -= 8;
                b = static_cast<Byte>(bits_ >> bitCount_);
                return true;
            }
            Byte c;
            if (failed_ || !Take(c)) {
                if (digits_ % 4 == 1)
                    failed_ = true;
                return false;
            }
            if (c == '=') {
                padded_ = true;
                continue;
            }
            const int value = Base64Value(c);
            if (value < 0 || padded_) {
                failed_ = true;
                return false;
            }
            bits_ = (bits_ << 6 | static_cast<unsigned>(value)) & 0xFFFFu;
            bitCount_ += 6;
            ++digits_;
        }
    }

    bool NextQ(Byte& b)
    {
        Byte c;
        if (failed_ || !Take(c))
            return false;
        if (c == '_') {
            b = ' ';
            return true;
        }
        if (c != '=') {
            b = c;
            return true;
        }
        Byte high;
        Byte low;
        if (!Take(high) || !Take(low) || HexValue(high) < 0 || HexValue(low) < 0) {
            failed_ = true;
            return false;
        }
        b = static_cast<Byte>(HexValue(high) << 4 | HexValue(low));
        return true;
    }

    TextCursor text_;
    const char* stop_;
    bool base64_;
    bool failed_ = false;
    bool padded_ = false;
    unsigned bits_ = 0;
    int bitCount_ = 0;
    std::size_t digits_ = 0;
};

struct EncodedWord {
    Charset charset = Charset::Unknown;
    bool base64 = false;
    TextCursor text{nullptr, nullptr};
    const char* textEnd = nullptr;
};

bool IsWordByte(Byte b)
{
    return b > 0x20 && b < 0x7F && b != '?';
}

// Reads "=?charset?B|Q?text?=" from cursor, which stands on the '='. On
// success cursor stands behind the word. The scan stops at the first byte that
// no encoded word can hold, so that every byte is looked at a bounded number of times.
bool ReadEncodedWord(TextCursor& cursor, EncodedWord& word)
{
    TextCursor at = cursor;
    Byte b;
    if (!at.Next(b) || b != '=' || !at.Next(b) || b != '?')
        return false;
    char name[24];
    std::size_t nameLength = 0;
    bool more;
    while ((more = at.Next(b)) && IsWordByte(b)) {
        if (nameLength == sizeof name)
            return false;
        name[nameLength++] = static_cast<char>(b);
    }
    if (!more || b != '?' || nameLength == 0)
        return false;
    word.charset = CharsetNamed(name, nameLength);
    if (!at.Next(b))
        return false;
    if (b == 'B' || b == 'b')
        word.base64 = true;
    else if (b == 'Q' || b == 'q')
        word.base64 = false;
    else
        return false;
    if (!at.Next(b) || b != '?')
        return false;
    word.text = at;
    const char* textEnd = at.at;
    while ((more = at.Next(b)) && IsWordByte(b))
        textEnd = at.at;
    if (!more || b != '?' || textEnd == word.text.at || !at.Next(b) || b != '=')
        return false;
    word.textEnd = textEnd;
    cursor = at;
    return true;
}

bool WordDecodes(const EncodedWord& word)
{
    return word.charset != Charset::Unknown && IsValidIn(word.charset, WordBytes(word.text, word.textEnd, word.base64));
}

template <class Source>
void PutDecoded(Charset charset, Source source, Sink& sink)
{
    DecoderState state{charset};
    for (;;) {
        char32_t c;
        const Step step = NextChar(state, source, c);
        if (step == Step::End || step == Step::Invalid)
            return;
        if (step == Step::Char)
            sink.Put(c);
    }
}

template <class Source>
void PutRaw(RawCharset charset, Source source, Sink& sink)
{
    RawState state{charset};
    for (;;) {
        char32_t c;
        const Step step = NextRawChar(state, source, c);
        if (step == Step::End)
            return;
        if (step == Step::Char)
            sink.Put(c);
    }
}

// ---- Unstructured text ----

// Linear white space from `from` up to `to`, unfolded: a line break followed
// by a blank goes, any other one becomes a blank.
void PutWhiteSpace(TextCursor from, const char* to, Sink& sink)
{
    Byte b;
    while (from.at < to && from.Next(b)) {
        if (b == '\r' || b == '\n') {
            TextCursor ahead = from;
            Byte next;
            if (b == '\r' && ahead.at < to && ahead.Next(next) && next == '\n')
                from = ahead;
            ahead = from;
            if (!(ahead.at < to && ahead.Next(next) && IsBlank(next)))
                sink.Put(' ');
        } else {
            sink.Put(b);
        }
    }
}

void PutText(TextCursor cursor, RawCharset raw, Sink& sink)
{
    RawState state{raw};
    bool afterWord = false;
    bool inWhiteSpace = false;
    TextCursor whiteSpace = cursor;
    for (;;) {
        const TextCursor here = cursor;
        Byte b;
        if (!cursor.Next(b))
            break;
        if (IsWhiteSpace(b)) {
            if (!inWhiteSpace)
                whiteSpace = here;
            inWhiteSpace = true;
            if (b == '\r' || b == '\n')
                state.mode = JisMode::Ascii;
            continue;
        }
        cursor = here;
        EncodedWord word;
        if (b == '=' && state.mode == JisMode::Ascii && ReadEncodedWord(cursor, word) && WordDecodes(word)) {
            if (inWhiteSpace && !afterWord)
                PutWhiteSpace(whiteSpace, here.at, sink);
            PutDecoded(word.charset, WordBytes(word.text, word.textEnd, word.base64), sink);
            afterWord = true;
            inWhiteSpace = false;
            continue;
        }
        cursor = here;
        if (inWhiteSpace)
            PutWhiteSpace(whiteSpace, here.at, sink);
        inWhiteSpace = false;
        afterWord = false;
        char32_t c;
        if (NextRawChar(state, cursor, c) == Step::Char)
            sink.Put(c);
    }
}

// ---- Parameters ----

struct ValueSpan {
    const char* begin = nullptr;
    const char* end = nullptr;
    bool quoted = false;
    bool encoded = false;
};

class FieldReader {
public:
    FieldReader(const char* field, std::size_t length, bool sjisPairs)
        : at_(field), end_(field + length), sjisPairs_(sjisPairs)
    {
    }

    TextCursor CursorOver(const ValueSpan& span) const
    {
        TextCursor cursor(span.begin, span.end);
        cursor.quoted = span.quoted;
        cursor.sjisPairs = sjisPairs_;
        return cursor;
    }

    // Behind the field's name and colon, when it has them.
    void SkipFieldName()
    {
        const char* stop = at_;
        while (stop < end_ && *stop != ':' && *stop != ';' && *stop != '=' && *stop != '"')
            ++stop;
        if (stop < end_ && *stop == ':')
            at_ = stop + 1;
    }

    // The next name=value; false at the end of the field. A name without a
    // value comes back with an empty name.
    bool NextParameter(const char*& name, std::size_t& nameLength, ValueSpan& value)
    {
        while (at_ < end_ && (IsWhiteSpace(static_cast<Byte>(*at_)) || *at_ == ';'))
            ++at_;
        if (at_ == end_)
            return false;
        name = at_;
        while (at_ < end_ && !IsWhiteSpace(static_cast<Byte>(*at_)) && *at_ != ';' && *at_ != '=' && *at_ != '"')
            ++at_;
        nameLength = static_cast<std::size_t>(at_ - name);
        SkipWhiteSpace();
        if (at_ < end_ && *at_ == '=') {
            ++at_;
            SkipWhiteSpace();
            value = at_ < end_ && *at_ == '"' ? ReadQuoted() : ReadToken();
        } else {
            nameLength = 0;
        }
        SkipToSemicolon();
        return true;
    }

private:
    void SkipWhiteSpace()
    {
        while (at_ < end_ && IsWhiteSpace(static_cast<Byte>(*at_)))
            ++at_;
    }

    ValueSpan ReadQuoted()
    {
        ValueSpan span;
        span.begin = at_ + 1;
        span.end = end_;
        span.quoted = true;
        TextCursor cursor = CursorOver(span);
        Byte b;
        while (cursor.Next(b)) {
        }
        span.end = cursor.at;
        at_ = cursor.at < end_ ? cursor.at + 1 : end_;
        return span;
    }

    // Up to ';' or the end of the line, as blanks in unquoted names are common.
    ValueSpan ReadToken()
    {
        ValueSpan span;
        span.begin = at_;
        TextCursor cursor(at_, end_);
        cursor.sjisPairs = sjisPairs_;
        span.end = at_;
        for (;;) {
            const TextCursor here = cursor;
            Byte b;
            if (!cursor.Next(b))
                break;
            const bool literal = here.doubleByteRun || here.trailNext;
            if (!literal && (b == ';' || b == '\r' || b == '\n')) {
                cursor = here;
                break;
            }
            if (!IsBlank(b))
                span.end = cursor.at;
        }
        at_ = cursor.at;
        return span;
    }

    // Past what follows a value up to the next parameter, quoted strings included.
    void SkipToSemicolon()
    {
        while (at_ < end_ && *at_ != ';') {
            if (*at_ == '"')
                ReadQuoted();
            else
                ++at_;
        }
    }

    const char* at_;
    const char* end_;
    bool sjisPairs_;
};

// The parameters that carry the value asked for.
struct FoundValue {
    bool plainFound = false;
    bool extendedFound = false;
    ValueSpan plain;
    ValueSpan extended;
    ValueSpan sections[kMaxParameterSections];
    bool sectionFound[kMaxParameterSections] = {};
};

// Files a parameter called name, name*, name*N or name*N* (the first of each wins).
void FileParameter(const char* parameter, std::size_t length, const char* name, std::size_t nameLength,
                   const ValueSpan& value, FoundValue& found)
{
    if (length == 0 || length < nameLength || !EqualsNoCase(parameter, name, nameLength))
        return;
    if (length == nameLength) {
        if (!found.plainFound) {
            found.plain = value;
            found.plainFound = true;
        }
        return;
    }
    if (parameter[nameLength] != '*')
        return;
    const char* rest = parameter + nameLength + 1;
    const char* end = parameter + length;
    if (rest == end) {
        if (!found.extendedFound) {
            found.extended = value;
            found.extended.encoded = true;
            found.extendedFound = true;
        }
        return;
    }
    std::size_t number = 0;
    for (; rest < end && *rest >= '0' && *rest <= '9'; ++rest) {
        number = number * 10 + static_cast<std::size_t>(*rest - '0');
        if (number >= kMaxParameterSections)
            return;
    }
    const bool encoded = rest < end && *rest == '*';
    if (rest == parameter + nameLength + 1 || rest + (encoded ? 1 : 0) != end || found.sectionFound[number])
        return;
    found.sections[number] = value;
    found.sections[number].encoded = encoded;
    found.sectionFound[number] = true;
}

// The bytes of RFC 2231 sections joined: %XX decoded in encoded sections,
// plain ones as they are (quoted ones unescaped).
class SectionBytes {
public:
    SectionBytes(const FieldReader& reader, const ValueSpan* sections, std::size_t count)
        : reader_(&reader), sections_(sections), count_(count), cursor_(nullptr, nullptr)
    {
        if (count_ > 0)
            cursor_ = reader_->CursorOver(sections_[0]);
    }

    // Reads the charset'language' prefix of the first section; Unknown when it
    // names none (the bytes are then read as raw text).
    Charset TakeCharset()
    {
        if (count_ == 0 || !sections_[0].encoded)
            return Charset::Unknown;
        TextCursor at = cursor_;
        char name[24];
        std::size_t nameLength = 0;
        Byte b;
        bool more;
        while ((more = at.Next(b)) && b != '\'') {
            if (nameLength < sizeof name)
                name[nameLength++] = static_cast<char>(b);
            else
                nameLength = sizeof name + 1;
        }
        if (!more)
            return Charset::Unknown;
        while ((more = at.Next(b)) && b != '\'') {
        }
        if (!more)
            return Charset::Unknown;
        cursor_ = at;
        return nameLength <= sizeof name ? CharsetNamed(name, nameLength) : Charset::Unknown;
    }

    bool Next(Byte& b)
    {
        while (index_ < count_) {
            if (cursor_.Next(b)) {
                if (sections_[index_].encoded && b == '%')
                    TakeEscape(b);
                return true;
            }
            if (++index_ < count_)
                cursor_ = reader_->CursorOver(sections_[index_]);
        }
        return false;
    }

    bool Failed() const { return false; }

private:
    // A '%' that is not followed by two hex digits stays a '%'.
    void TakeEscape(Byte& b)
    {
        TextCursor ahead = cursor_;
        Byte high;
        Byte low;
        if (ahead.Next(high) && ahead.Next(low) && HexValue(high) >= 0 && HexValue(low) >= 0) {
            b = static_cast<Byte>(HexValue(high) << 4 | HexValue(low));
            cursor_ = ahead;
        }
    }

    const FieldReader* reader_;
    const ValueSpan* sections_;
    std::size_t count_;
    std::size_t index_ = 0;
    TextCursor cursor_;
};

void PutSections(const FieldReader& reader, const ValueSpan* sections, std::size_t count, Sink& sink)
{
    SectionBytes bytes(reader, sections, count);
    const Charset charset = bytes.TakeCharset();
    if (charset != Charset::Unknown && IsValidIn(charset, bytes))
        PutDecoded(charset, bytes, sink);
    else
        PutRaw(GuessRawCharset(bytes), bytes, sink);
}

} // namespace

std::size_t DecodeHeaderText(const char* value, std::size_t length, TextTarget target, char* out,
                             std::size_t outSize)
{
    Sink sink(out, outSize, target);
    if (value != nullptr) {
        const TextCursor text(value, value + length);
        PutText(text, GuessRawCharset(text), sink);
    }
    return sink.Finish();
}

bool DecodeParameter(const char* field, std::size_t length, const char* name, TextTarget target, char* out,
                     std::size_t outSize)
{
    Sink sink(out, outSize, target);
    if (field == nullptr || name == nullptr) {
        sink.Finish();
        return false;
    }
    const RawCharset raw = GuessRawCharset(TextCursor(field, field + length));
    FieldReader reader(field, length, raw == RawCharset::Cp932 || raw == RawCharset::Mixed);
    reader.SkipFieldName();
    FoundValue found;
    const std::size_t nameLength = std::strlen(name);
    const char* parameter;
    std::size_t parameterLength;
    ValueSpan value;
    while (reader.NextParameter(parameter, parameterLength, value))
        FileParameter(parameter, parameterLength, name, nameLength, value, found);

    std::size_t sectionCount = 0;
    while (sectionCount < kMaxParameterSections && found.sectionFound[sectionCount])
        ++sectionCount;
    if (found.extendedFound)
        PutSections(reader, &found.extended, 1, sink);
    else if (sectionCount > 0)
        PutSections(reader, found.sections, sectionCount, sink);
    else if (found.plainFound)
        PutText(reader.CursorOver(found.plain), raw, sink);
    sink.Finish();
    return found.extendedFound || sectionCount > 0 || found.plainFound;
}
