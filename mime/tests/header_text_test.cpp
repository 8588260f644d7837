// Header texts as a list box, a report and a saved file name show them.
//
// The encoded forms below were written by Python's email package
// (email.base64mime.header_encode, email.quoprimime.header_encode,
// email.header.Header(...).encode(), email.utils.encode_rfc2231) from the
// UTF-8 texts beside them; the CP932 byte strings are Python's
// text.encode("cp932"). None of them comes from the decoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "mime/header_text.h"

namespace {

// The decoded text, with a buffer of exactly outSize bytes so that the
// sanitizer sees any write past it.
std::string Decode(const std::string& value, TextTarget target = TextTarget::Utf8, std::size_t outSize = 4096)
{
    std::vector<char> out(outSize, '#');
    const std::size_t length = DecodeHeaderText(value.data(), value.size(), target, out.data(), outSize);
    EXPECT_LT(length, outSize);
    EXPECT_EQ(std::strlen(out.data()), length) << "the text ends in a NUL and holds none";
    return std::string(out.data(), length);
}

std::string Cp932(const std::string& value)
{
    return Decode(value, TextTarget::Cp932);
}

// The parameter's decoded value, or "(none)" when the field has no such parameter.
std::string Parameter(const std::string& field, const char* name, TextTarget target = TextTarget::Utf8,
                      std::size_t outSize = 4096)
{
    std::vector<char> out(outSize, '#');
    const bool found = DecodeParameter(field.data(), field.size(), name, target, out.data(), outSize);
    EXPECT_EQ(out[0] == '\0' || found, true);
    if (!found)
        return "(none)";
    return std::string(out.data());
}

// Lengths of the characters of a valid UTF-8 text; empty when it is not valid.
std::vector<std::size_t> Utf8Characters(const std::string& text)
{
    std::vector<std::size_t> lengths;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
        if (length == 0 || i + length > text.size())
            return {};
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
                return {};
        }
        lengths.push_back(length);
        i += length;
    }
    return lengths;
}

// Lengths of the characters of a CP932 text.
std::vector<std::size_t> Cp932Characters(const std::string& text)
{
    std::vector<std::size_t> lengths;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = (lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC) ? 2 : 1;
        lengths.push_back(length);
        i += length;
    }
    return lengths;
}

// Checks that every buffer size from 1 up cuts the full text only between two
// of its characters and never right behind a blank.
void ExpectCutsAtCharacterBoundaries(const std::string& value, TextTarget target)
{
    const std::string full = Decode(value, target);
    const std::vector<std::size_t> characters =
        target == TextTarget::Utf8 ? Utf8Characters(full) : Cp932Characters(full);
    ASSERT_FALSE(characters.empty());
    std::vector<std::size_t> boundaries{0};
    for (std::size_t length : characters)
        boundaries.push_back(boundaries.back() + length);
    for (std::size_t outSize = 1; outSize <= full.size() + 1; ++outSize) {
        const std::string cut = Decode(value, target, outSize);
        SCOPED_TRACE("buffer of " + std::to_string(outSize) + " bytes");
        EXPECT_EQ(full.compare(0, cut.size(), cut), 0) << "a cut text is the start of the whole";
        EXPECT_NE(std::find(boundaries.begin(), boundaries.end(), cut.size()), boundaries.end())
            << "cut inside a character";
        if (!cut.empty()) {
            EXPECT_NE(cut.back(), ' ');
        }
        // The longest start of the text that fits, less blanks at its end, is what comes back.
        std::size_t fits = 0;
        for (std::size_t boundary : boundaries) {
            if (boundary < outSize)
                fits = boundary;
        }
        while (fits > 0 && full[fits - 1] == ' ')
            --fits;
        EXPECT_EQ(cut.size(), fits);
    }
}

const char kSubjectUtf8[] = "日本語の件名です";
const char kSubjectCp932[] = "\x93\xfa\x96{\x8c\xea\x82\xcc\x8c\x8f\x96\xbc\x82\xc5\x82\xb7";

TEST(HeaderText, JapaneseSubjectsDecodeInEveryCharsetWithBAndQ)
{
    const char* words[] = {
        "=?ISO-2022-JP?b?GyRCRnxLXDhsJE43b0w+JEckORsoQg==?=",
        "=?ISO-2022-JP?q?=1B=24BF=7CK=5C8l=24N7oL=3E=24G=249=1B=28B?=",
        "=?Shift_JIS?b?k/qWe4zqgsyMj5a8gsWCtw==?=",
        "=?Shift_JIS?q?=93=FA=96=7B=8C=EA=82=CC=8C=8F=96=BC=82=C5=82=B7?=",
        "=?x-sjis?b?k/qWe4zqgsyMj5a8gsWCtw==?=",
        "=?CP932?b?k/qWe4zqgsyMj5a8gsWCtw==?=",
        "=?windows-31j?B?k/qWe4zqgsyMj5a8gsWCtw==?=",
        "=?EUC-JP?b?xvzL3LjspM6378y+pMekuQ==?=",
        "=?euc-jp?Q?=C6=FC=CB=DC=B8=EC=A4=CE=B7=EF=CC=BE=A4=C7=A4=B9?=",
        "=?UTF-8?b?5pel5pys6Kqe44Gu5Lu25ZCN44Gn44GZ?=",
        "=?utf-8?q?=E6=97=A5=E6=9C=AC=E8=AA=9E=E3=81=AE=E4=BB=B6=E5=90=8D=E3=81=A7=E3=81=99?=",
        "=?utf-8*ja?b?5pel5pys6Kqe44Gu5Lu25ZCN44Gn44GZ?=",
        // Base64 whose padding a mailer left out.
        "=?UTF-8?B?5pel5pys6Kqe44Gu5Lu25ZCN44Gn44GZ?=",
    };
    for (const char* word : words) {
        SCOPED_TRACE(word);
        EXPECT_EQ(Decode(word), kSubjectUtf8);
        EXPECT_EQ(Cp932(word), kSubjectCp932);
    }
    EXPECT_EQ(Decode("=?utf-8?b?5pel5pys6Kqe44Gu5Lu25ZCN44Gn44G"), "=?utf-8?b?5pel5pys6Kqe44Gu5Lu25ZCN44Gn44G");
    EXPECT_EQ(Decode("=?UTF-8?B?44OG44K544OI?="), "テスト");
    EXPECT_EQ(Decode("=?UTF-8?B?44OG44K544OI?"), "=?UTF-8?B?44OG44K544OI?");
}

TEST(HeaderText, WesternSubjectsDecode)
{
    EXPECT_EQ(Decode("=?ISO-8859-1?q?Caf=E9_cr=E8me_=E0_la_carte?="), "Café crème à la carte");
    EXPECT_EQ(Decode("=?windows-1252?b?gCCcIIo=?="), "€ œ Š");
    EXPECT_EQ(Decode("=?ISO-8859-15?b?pCC9IKY=?="), "€ œ Š");
    EXPECT_EQ(Decode("=?us-ascii?Q?a_b=3Dc=5F?="), "a b=c_");
    // Latin-1 as mail means it: its C1 bytes are Windows-1252's characters.
    EXPECT_EQ(Decode("=?iso-8859-1?q?=93quoted=94?="), "“quoted”");
    EXPECT_EQ(Cp932("=?ISO-8859-1?q?Caf=E9?="), "Caf\x81\xac");
}

TEST(HeaderText, KatakanaAndVendorCharacters)
{
    EXPECT_EQ(Decode("=?Shift_JIS?b?sbKzh0De?="), "ｱｲｳ①ﾞ");
    EXPECT_EQ(Cp932("=?Shift_JIS?b?sbKzh0De?="), "\xb1\xb2\xb3\x87@\xde");
    EXPECT_EQ(Decode("=?EUC-JP?b?jrGOso6z?="), "ｱｲｳ");
    EXPECT_EQ(Decode("=?ISO-2022-JP?b?GyhJMTIzGyRCNEEbKEI=?="), "ｱｲｳ漢");
    EXPECT_EQ(Decode("=?iso-2022-jp?q?=1B=28I123=1B=28J~?="), "ｱｲｳ~");
    EXPECT_EQ(Decode("=?Windows-31J?b?h0Du7+7g?="), "①ⅰ髙");
    EXPECT_EQ(Cp932("=?Windows-31J?b?h0Du7+7g?="), "\x87@\xee\xef\xee\xe0");
    // JIS X 0212 is valid EUC-JP that neither target has.
    EXPECT_EQ(Decode("=?euc-jp?q?a=8F=B0=A1b?="), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(Cp932("=?euc-jp?q?a=8F=B0=A1b?="), "a\x81\xac" "b");
    // A word that ends inside a double-byte run is still taken; the next starts in ASCII.
    EXPECT_EQ(Decode("=?iso-2022-jp?q?=1B$BF=7C?= =?iso-2022-jp?q?K=5C?="), "日K\\");
}

TEST(HeaderText, FoldedWordsJoinAndBlanksBetweenWordsGo)
{
    const std::string folded = "=?utf-8?b?6ZW344GE5Lu25ZCN44KS44GT44GT44Gr5pu444GN44G+44GZ44CC5Lya?=\n"
                               " =?utf-8?b?6K2w44Gu6LOH5paZ44KS44GK6YCB44KK44GX44G+44GZ44CC44KI44KN44GX44GP?=\r\n"
                               "\t=?utf-8?b?44GK6aGY44GE44GE44Gf44GX44G+44GZ44CC?=";
    EXPECT_EQ(Decode(folded), "長い件名をここに書きます。会議の資料をお送りします。よろしくお願いいたします。");

    EXPECT_EQ(Decode("=?utf-8?q?a?= =?utf-8?q?b?="), "ab");
    EXPECT_EQ(Decode("=?utf-8?q?a?==?utf-8?q?b?="), "ab");
    EXPECT_EQ(Decode("=?utf-8?q?a_?=  \r\n  =?utf-8?q?_b?="), "a  b");
    EXPECT_EQ(Decode("=?utf-8?q?a?= x =?utf-8?q?b?="), "a x b");
    EXPECT_EQ(Decode("Re:  =?utf-8?q?a?=   [x]"), "Re:  a   [x]");
    EXPECT_EQ(Decode("Re:=?utf-8?q?a?=!"), "Re:a!");
    EXPECT_EQ(Decode("Fwd: long\r\n subject\n\tline"), "Fwd: long subject line");
    // A line break without a blank behind it still separates.
    EXPECT_EQ(Decode("one\r\ntwo\nthree\rfour"), "one two three four");
    EXPECT_EQ(Decode(" \t =?utf-8?q?_a_?= \r\n "), "a");
}

TEST(HeaderText, MalformedWordsAreShownAsWritten)
{
    const char* words[] = {
        "=?utf-8?q?abc",              // no ?=
        "=?utf-8?q?abc?",             // ? without =
        "=?utf-8?b?!!!!?=",           // not base64
        "=?utf-8?b?QUJDR?=",          // one base64 digit too many
        "=?utf-8?b?QU=JD?=",          // data after the padding
        "=?x-unknown?q?abc?=",        // unknown charset
        "=?utf-8?q?" "?=",            // empty text
        "=??q?abc?=",                 // empty charset
        "=?utf-8?x?abc?=",            // no such encoding
        "=?utf-8?q?=FF?=",            // not UTF-8
        "=?us-ascii?q?caf=E9?=",      // not ASCII
        "=?utf-8?q?=G1?=",            // bad Q escape
        "=?utf-8?q?a=4?=",            // cut Q escape
        "=?shift_jis?q?=82?=",        // lead byte without its trail
        "=?euc-jp?q?=A9=A1?=",        // a JIS code with no character
        "=?iso-2022-jp?q?=1B=24Z?=",  // unknown escape sequence
        "=?iso-2022-jp?q?=A4=A2?=",   // 8-bit bytes in a 7-bit charset
        "=?windows-1252?q?=81?=",     // a byte Windows-1252 leaves undefined
        "=?utf-8?q?a b?=",            // a blank inside
        "=?averyveryveryverylongcharsetname?q?a?=",
    };
    for (const char* word : words) {
        SCOPED_TRACE(word);
        EXPECT_EQ(Decode(word), word);
        EXPECT_EQ(Decode(std::string("=?utf-8?q?x?= ") + word), std::string("x ") + word);
    }
    EXPECT_EQ(Decode("=?utf-8?q?a?= =?bogus?q?b?= =?utf-8?q?c?="), "a =?bogus?q?b?= c");
    EXPECT_EQ(Decode("=?=?=?utf-8?q?a?=?="), "=?=?a?=");
}

TEST(HeaderText, CharactersOutsideTheTargetBecomeItsReplacement)
{
    const char* word = "=?UTF-8?b?SGkg8J+YgCDhup4=?="; // "Hi 😀 ẞ"
    EXPECT_EQ(Decode(word), "Hi 😀 ẞ");
    EXPECT_EQ(Cp932(word), "Hi \x81\xac \x81\xac");
    // What Python's cp932 encoder gives: the wave dash as Macs write it, and
    // NEC's duplicate of ≒ (0x8790) as the JIS one.
    EXPECT_EQ(Cp932("〜"), "\x81`");
    EXPECT_EQ(Cp932("\x87\x90"), "\x81\xe0");
    EXPECT_EQ(Decode("\x87\x90"), "≒");
    // The user-defined area goes both ways.
    EXPECT_EQ(Decode("\xf0\x40\xf9\xfc"), "\xee\x80\x80\xee\x9d\x97");
    EXPECT_EQ(Cp932("\xee\x80\x80\xee\x9d\x97"), "\xf0\x40\xf9\xfc");
}

TEST(HeaderText, ATextThatDoesNotFitIsCutBetweenCharacters)
{
    const std::string mixed = "=?utf-8?b?SGkg8J+YgCDhup4=?= =?Shift_JIS?b?sbKzh0De?= ab \xce\xa9 "
                              "=?ISO-2022-JP?b?GyRCRnxLXDhsJE43b0w+JEckORsoQg==?=";
    ExpectCutsAtCharacterBoundaries(mixed, TextTarget::Utf8);
    ExpectCutsAtCharacterBoundaries(mixed, TextTarget::Cp932);
    EXPECT_EQ(Decode(kSubjectUtf8, TextTarget::Cp932, 4), "\x93\xfa");
    EXPECT_EQ(Decode(kSubjectUtf8, TextTarget::Utf8, 4), "日");
    EXPECT_EQ(Decode(kSubjectUtf8, TextTarget::Utf8, 3), "");
    EXPECT_EQ(Decode("", TextTarget::Utf8, 1), "");

    char untouched = '#';
    EXPECT_EQ(DecodeHeaderText("abc", 3, TextTarget::Utf8, &untouched, 0), 0u);
    EXPECT_EQ(untouched, '#');
}

TEST(HeaderText, ControlCharactersBecomeBlanks)
{
    EXPECT_EQ(Decode("a\x01" "b\x7f" "c\td\x1b" "e"), "a b c d e");
    EXPECT_EQ(Decode(std::string("a\0b", 3)), "a b");
    EXPECT_EQ(Decode("\x01 a \x02"), "a");
    EXPECT_EQ(Decode("=?utf-8?q?x=0D=0Ay=00z?="), "x  y z");
    EXPECT_EQ(Decode("=?utf-8?b?wpA=?=x"), "x"); // U+0090, a C1 control
    EXPECT_EQ(Decode("=?iso-8859-1?q?a=81b?="), "a b");
}

TEST(HeaderText, RawEightBitBytesAreReadInTheCharsetTheyAreValidIn)
{
    EXPECT_EQ(Decode("Re: 日本語 テスト"), "Re: 日本語 テスト");
    EXPECT_EQ(Cp932("Re: 日本語"), "Re: \x93\xfa\x96{\x8c\xea");
    EXPECT_EQ(Decode(std::string("Re: ") + kSubjectCp932), std::string("Re: ") + kSubjectUtf8);
    EXPECT_EQ(Cp932(std::string("Re: ") + kSubjectCp932), std::string("Re: ") + kSubjectCp932);
    EXPECT_EQ(Decode("\xb1\xb2\xb3"), "ｱｲｳ");
    // EUC-JP, whose CP932 reading would be all half-width katakana.
    EXPECT_EQ(Decode("\xc5\xba\xc9\xd5\xa5\xd5\xa5\xa1\xa5\xa4\xa5\xeb"), "添付ファイル");
    EXPECT_EQ(Decode("\xa4\xa2\xa4\xa4"), "あい");
    EXPECT_EQ(Decode("\x1b$BE:IU%U%!%$%k\x1b(B.doc"), "添付ファイル.doc");
    // A JIS pair may look like "=?"; the run ends at the line break.
    EXPECT_EQ(Decode("\x1b$B=?\r\n =?utf-8?q?a?="), "戎 a");
    // Neither UTF-8 nor CP932 throughout: each character as it is valid.
    EXPECT_EQ(Decode("\xe6\x97\xa5 \x93\xfa \xff."), "日 日 \xEF\xBF\xBD.");
    EXPECT_EQ(Cp932("a\xff" "b"), "a\x81\xac" "b");
    EXPECT_EQ(Decode("\x82"), "\xEF\xBF\xBD");
    EXPECT_EQ(Decode("=?utf-8?q?=E6=97=A5?= \x93\xfa"), "日 日");
}

TEST(HeaderText, AMegabyteSubjectIsDecodedWhole)
{
    std::string subject;
    std::string expected;
    while (subject.size() < 1000000) {
        subject += "=?ISO-2022-JP?b?GyRCRnxLXDhsJE43b0w+JEckORsoQg==?=\r\n ";
        expected += kSubjectUtf8;
    }
    EXPECT_EQ(Decode(subject, TextTarget::Utf8, 8 * 1024 * 1024), expected);
    std::string noise;
    while (noise.size() < 1000000)
        noise += "=?=?a?b?c=?";
    EXPECT_EQ(Decode(noise, TextTarget::Cp932, noise.size() + 1), noise);
}

const char kDisposition[] = "Content-Disposition: attachment;\r\n filename=";

TEST(Parameter, Rfc2231ValuesWithCharsetAndLanguage)
{
    EXPECT_EQ(Parameter("Content-Disposition: attachment;\r\n"
                        " filename*=utf-8'ja'%E8%A6%8B%E7%A9%8D%E6%9B%B8%202024.pdf",
                        "filename"),
              "見積書 2024.pdf");
    EXPECT_EQ(Parameter("attachment; filename*=shift_jis''%8C%A9%90%CF%8F%91.pdf", "filename"), "見積書.pdf");
    EXPECT_EQ(Parameter("attachment; filename*=shift_jis''%8C%A9%90%CF%8F%91.pdf", "filename", TextTarget::Cp932),
              "\x8c\xa9\x90\xcf\x8f\x91.pdf");
    EXPECT_EQ(Parameter("attachment; FileName*=\"UTF-8''%e6%97%a5.txt\"", "filename"), "日.txt");
    // An extended value wins over the plain one, wherever it stands.
    EXPECT_EQ(Parameter("attachment; filename=\"plain.pdf\"; filename*=utf-8''%E6%97%A5.pdf", "filename"), "日.pdf");
    // Bytes that are not of the declared charset are read as raw bytes.
    EXPECT_EQ(Parameter("attachment; filename*=us-ascii''%E6%97%A5.txt", "filename"), "日.txt");
    EXPECT_EQ(Parameter("attachment; filename*=x-klingon''%E6%97%A5%zz.txt", "filename"), "日%zz.txt");
}

TEST(Parameter, ContinuationsJoinInTheOrderOfTheirNumbers)
{
    // encode_rfc2231 of "見積書_2024年度版_最終確認用.xlsx", cut into sections by hand.
    const std::string field = "Content-Disposition: attachment;\r\n"
                              " filename*2*=%E7%89%88_%E6%9C%80%E7%B5%82%E7%A2%BA%E8%AA%8D%E7%94%A8;\r\n"
                              " filename*0*=utf-8''%E8%A6%8B%E7%A9%8D%E6%9B%B8_2024;\r\n"
                              " filename*3=\".xlsx\"; filename*1*=%E5%B9%B4%E5%BA%A6;\r\n"
                              " size=1234";
    EXPECT_EQ(Parameter(field, "filename"), "見積書_2024年度版_最終確認用.xlsx");
    EXPECT_EQ(Parameter(field, "filename", TextTarget::Cp932),
              "\x8c\xa9\x90\xcf\x8f\x91_2024\x94N\x93x\x94\xc5_\x8d\xc5\x8fI\x8am\x94" "F\x97p.xlsx");
    EXPECT_EQ(Parameter(field, "size"), "1234");
    // Plain sections alone, and a gap that ends the value.
    EXPECT_EQ(Parameter("inline; name*1=\"b c\"; name*0=a; name*3=d", "name"), "ab c");
    // Sections past the bound are left out.
    std::string many = "attachment";
    for (std::size_t i = 0; i < kMaxParameterSections + 5; ++i)
        many += "; filename*" + std::to_string(i) + "=x";
    EXPECT_EQ(Parameter(many, "filename"), std::string(kMaxParameterSections, 'x'));
    EXPECT_EQ(Parameter("attachment; filename*99999999999999999999=x", "filename"), "(none)");
}

TEST(Parameter, QuotedValuesWithEscapesAndEncodedWords)
{
    EXPECT_EQ(Parameter(std::string(kDisposition) + "\"say \\\"hi\\\" \\\\ there.txt\"", "filename"),
              "say \"hi\" \\ there.txt");
    EXPECT_EQ(Parameter("Content-Type: application/pdf;\r\n name=\"=?UTF-8?B?6KaL56mN5pu4?=\r\n"
                        " =?UTF-8?B?LnBkZg==?=\"",
                        "NAME"),
              "見積書.pdf");
    EXPECT_EQ(Parameter("Content-Type: application/octet-stream; name==?ISO-2022-JP?b?GyRCRnxLXBsoQg==?=.zip",
                        "name"),
              "日本.zip");
    EXPECT_EQ(Parameter("attachment; filename = \"a b.txt\" ; x=y", "filename"), "a b.txt");
    EXPECT_EQ(Parameter("attachment; filename=my report.doc", "filename"), "my report.doc");
    EXPECT_EQ(Parameter("attachment; filename=\"unterminated.txt", "filename"), "unterminated.txt");
    EXPECT_EQ(Parameter("attachment; x=\"a;filename=b\"; filename=c", "filename"), "c");
}

TEST(Parameter, RawJapaneseNames)
{
    // A JIS pair of "あ" holds a quote byte, Shift_JIS pairs hold backslashes.
    EXPECT_EQ(Parameter(std::string(kDisposition) + "\"\x1b$B$\"\x1b(B.txt\"", "filename"), "あ.txt");
    EXPECT_EQ(Parameter(std::string(kDisposition) + "\x1b$B$;\x1b(B.txt", "filename"), "せ.txt");
    EXPECT_EQ(Parameter(std::string(kDisposition) + "\"\x95\\\x83\\\x94\\.txt\"", "filename"), "表ソ能.txt");
    EXPECT_EQ(Parameter(std::string(kDisposition) + "\"\x83\\\"; size=1", "filename"), "ソ");
    EXPECT_EQ(Parameter(std::string(kDisposition) + "\"\x95\\\x83\\\x94\\.txt\"", "filename", TextTarget::Cp932),
              "\x95\\\x83\\\x94\\.txt");
    EXPECT_EQ(Parameter(std::string(kDisposition) + "\"\xb8\xab\xc0\xd1\xbd\xf1.pdf\"", "filename"), "見積書.pdf");
    EXPECT_EQ(Parameter(std::string(kDisposition) + "\"見積書.pdf\"", "filename"), "見積書.pdf");
}

TEST(Parameter, AMissingParameterIsFalse)
{
    EXPECT_EQ(Parameter("Content-Disposition: attachment", "filename"), "(none)");
    EXPECT_EQ(Parameter("Content-Type: text/plain; charset=utf-8", "name"), "(none)");
    EXPECT_EQ(Parameter("Content-Type: text/plain; filename=a.txt", "name"), "(none)");
    EXPECT_EQ(Parameter("Content-Type: text/plain; name=a.txt", "filename"), "(none)");
    EXPECT_EQ(Parameter("Content-Type: text/plain; name*x=a.txt; name*=; filename", "name"), "");
    EXPECT_EQ(Parameter("", "name"), "(none)");
    // The field's own name is no parameter, nor is a value without a name.
    EXPECT_EQ(Parameter("name: x; =y", "name"), "(none)");
}

TEST(Parameter, ALongNameIsCutBetweenCharacters)
{
    std::string name;
    while (name.size() < 5000)
        name += "日ｱ";
    const std::string field = std::string(kDisposition) + "\"" + name + ".txt\"";
    const std::string utf8 = Parameter(field, "filename", TextTarget::Utf8, 256);
    EXPECT_EQ(utf8.size(), 255u);
    EXPECT_FALSE(Utf8Characters(utf8).empty());
    EXPECT_EQ(name.compare(0, utf8.size(), utf8), 0);
    const std::string cp932 = Parameter(field, "filename", TextTarget::Cp932, 256);
    EXPECT_EQ(cp932.size(), 255u);
    EXPECT_EQ(cp932.substr(cp932.size() - 3), "\x93\xfa\xb1");

    std::string encoded = "attachment; filename*0*=utf-8''";
    for (std::size_t i = 0; i < 1700; ++i)
        encoded += "%E6%97%A5";
    const std::string cut = Parameter(encoded, "filename", TextTarget::Utf8, 100);
    EXPECT_EQ(cut.size(), 99u);
}

} // namespace
