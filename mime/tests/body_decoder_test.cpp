// Bodies decoded line by line, against bytes made independently with
// Python's base64 and quopri modules (seeded random bytes; a UTF-8 text with
// CR LF line ends).

#include <algorithm>
#include <string>
#include <vector>

#include "mime/body_decoder.h"
#include "test_support.h"

namespace {

std::string Decode(TransferEncoding encoding, const std::vector<std::string>& lines, bool* broken = nullptr)
{
    BodyDecoder decoder(encoding);
    BodyDecoder measurer(encoding);
    std::string decoded;
    std::size_t measured = 0;
    for (const std::string& line : lines) {
        std::string out(BodyDecoder::MaxDecodedLength(line.size()), '\0');
        out.resize(decoder.DecodeLine(line.data(), line.size(), &out[0]));
        decoded += out;
        measured += measurer.MeasureLine(line.data(), line.size());
    }
    EXPECT_EQ(measured, decoded.size()) << "measuring and decoding agree";
    if (broken)
        *broken = decoder.Broken();
    return decoded;
}

const std::string kRandomBytes = std::string("\x52\xf2\x26\x65\xa6\x0c\x12\xd2\x89\x18\x5d\x95\x0e\xe8\x81\x36\x09\x16\x6f\x6b\x11\x3d\x17\x8d\x6c\x0f\xd3\x90\x1f\xf2\x39\xa1\xa0\x95\xf2\x0f\x93\x95\x65\x0c\xf9\x38\x0b\x8e\xdb\x22\x4a\x6b\x24\x8a\x1e\x92\x4e\x8f\xd0\xae\x2e\x1a\x94\x92\xa3\x30\x5f\x18\x8c\xb6\x10\x90\x0f\x9e\x34\x7f\xae\x88\x6d\xc6\x50\x77\x95\xec\x74\x5c\x4c\x3f\xcb\x2e\xb2\xc7\x3e\x14\x93\x4c\x86\x7e\xe0\x57\xba\x72\x49\x9b", 100);
const std::vector<std::string> kRandomBase64 = {
        "UvImZaYMEtKJGF2VDuiBNgkWb2sRPReNbA/TkB/yOaGglfIPk5VlDPk4C47bIkprJIoekk6P0K4u",
        "GpSSozBfGIy2EJAPnjR/rohtxlB3lex0XEw/yy6yxz4Uk0yGfuBXunJJmw=="};

const std::string kText = "\x43\x61\x66\xc3\xa9\x20\xe2\x80\x94\x20\x6e\x61\xc3\xaf\x76\x65\x20\x72\xc3\xa9\x73\x75\x6d\xc3\xa9\x2c\x20\x6c\x69\x6e\x65\x20\x77\x69\x74\x68\x20\x74\x72\x61\x69\x6c\x69\x6e\x67\x20\x73\x70\x61\x63\x65\x20\x0d\x0a\x73\x65\x63\x6f\x6e\x64\x20\x6c\x69\x6e\x65\x20\x74\x68\x61\x74\x20\x69\x73\x20\x72\x61\x74\x68\x65\x72\x20\x6c\x6f\x6e\x67\x20\x73\x6f\x20\x74\x68\x61\x74\x20\x71\x75\x6f\x74\x65\x64\x20\x70\x72\x69\x6e\x74\x61\x62\x6c\x65\x20\x68\x61\x73\x20\x74\x6f\x20\x62\x72\x65\x61\x6b\x20\x69\x74\x20\x73\x6f\x6d\x65\x77\x68\x65\x72\x65\x20\x70\x61\x73\x74\x20\x73\x65\x76\x65\x6e\x74\x79\x20\x73\x69\x78\x20\x63\x68\x61\x72\x61\x63\x74\x65\x72\x73\x0d\x0a\x65\x6e\x64";
const std::vector<std::string> kTextQuotedPrintable = {
        "Caf=C3=A9 =E2=80=94 na=C3=AFve r=C3=A9sum=C3=A9, line with trailing space=20",
        "second line that is rather long so that quoted printable has to break it so=",
        "mewhere past seventy six characters",
        "end"};

TEST(BodyDecoderTest, EachEncodingGivesTheBytesThatWereEncoded)
{
    bool broken = true;
    EXPECT_EQ(Decode(TransferEncoding::Base64, kRandomBase64, &broken), kRandomBytes);
    EXPECT_FALSE(broken);
    EXPECT_EQ(Decode(TransferEncoding::QuotedPrintable, kTextQuotedPrintable), kText);
    // Unencoded lines come back with CR LF between them and none after the last.
    EXPECT_EQ(Decode(TransferEncoding::Identity, {"one", "", "two\xe9"}), "one\r\n\r\ntwo\xe9");
}

TEST(BodyDecoderTest, BrokenBase64IsDecodedAsFarAsItGoesAndReported)
{
    bool broken = false;
    // "QUJD" is ABC; the stray characters are skipped, the lone last one is left over.
    EXPECT_EQ(Decode(TransferEncoding::Base64, {"QU*JD", "R"}, &broken), "ABC");
    EXPECT_TRUE(broken);
    EXPECT_EQ(Decode(TransferEncoding::Base64, {"QUI=", "QUJD"}, &broken), "AB");
    EXPECT_TRUE(broken) << "data after the padding";
    EXPECT_EQ(Decode(TransferEncoding::Base64, {"QUI=  "}, &broken), "AB");
    EXPECT_FALSE(broken);
}

TEST(BodyDecoderTest, QuotedPrintableKeepsWhatIsNotAnEscape)
{
    EXPECT_EQ(Decode(TransferEncoding::QuotedPrintable, {"a=4", "=ZZb=3D  ", "soft=", "end"}), "a=4\r\n=ZZb=\r\nsoftend");
}

// What MeasureLine counts for each line, given whole, and the same lines given
// in pieces cut at one point, or byte by byte.
void ExpectPiecesMeasureAsWhole(TransferEncoding encoding, const std::vector<std::string>& lines)
{
    BodyDecoder whole(encoding);
    std::vector<std::size_t> expected;
    for (const std::string& line : lines)
        expected.push_back(whole.MeasureLine(line.data(), line.size()));
    std::size_t longest = 0;
    for (const std::string& line : lines)
        longest = std::max(longest, line.size());
    for (std::size_t cut = 0; cut <= longest + 1; ++cut) {
        BodyDecoder twoPieces(encoding);
        BodyDecoder bytes(encoding);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string& line = lines[i];
            const std::size_t at = std::min(cut, line.size());
            std::size_t measured = twoPieces.MeasurePiece(line.data(), at, true, false);
            measured += twoPieces.MeasurePiece(line.data() + at, line.size() - at, false, true);
            EXPECT_EQ(measured, expected[i]) << "line " << i << " cut at " << cut;
            if (cut > 0)
                continue;
            std::size_t byByte = bytes.MeasurePiece(line.data(), 0, true, false);
            for (char c : line)
                byByte += bytes.MeasurePiece(&c, 1, false, false);
            byByte += bytes.MeasurePiece(nullptr, 0, false, true);
            EXPECT_EQ(byByte, expected[i]) << "line " << i << " byte by byte";
        }
    }
}

TEST(BodyDecoderTest, ALineMeasuredInPiecesCountsAsWhole)
{
    ExpectPiecesMeasureAsWhole(TransferEncoding::QuotedPrintable, kTextQuotedPrintable);
    ExpectPiecesMeasureAsWhole(TransferEncoding::QuotedPrintable,
                               {"a=4", "=ZZb=3D  ", "soft=", "end", "= \t=41", "x=  ", "=4=", "=4 x", "==41=", "", "\t "});
    ExpectPiecesMeasureAsWhole(TransferEncoding::Base64, kRandomBase64);
    ExpectPiecesMeasureAsWhole(TransferEncoding::Identity, {"one", "", "two"});
}

TEST(BodyDecoderTest, TheEncodingIsReadFromItsField)
{
    EXPECT_EQ(EncodingOfField("Content-Transfer-Encoding: BASE64\r\n"), TransferEncoding::Base64);
    EXPECT_EQ(EncodingOfField("content-transfer-encoding:\r\n\tQuoted-Printable (text)\r\n"),
              TransferEncoding::QuotedPrintable);
    EXPECT_EQ(EncodingOfField("Content-Transfer-Encoding: x-uuencode\r\n"), TransferEncoding::Identity);
    EXPECT_EQ(EncodingOfField("Content-Transfer-Encoding: base64x\r\n"), TransferEncoding::Identity);
    EXPECT_EQ(EncodingOfField(nullptr), TransferEncoding::Identity);
}

} // namespace
