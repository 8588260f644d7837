#pragma once
// Decoding a part's body from its transfer encoding, one line at a time, so
// that a body can be decoded as it is read, or only measured.

#include <cstddef>
#include <cstdint>

enum class TransferEncoding {
    Identity,        // 7bit, 8bit, binary, none given, or one not decoded (x-uuencode...)
    Base64,
    QuotedPrintable,
};

// The value of a byte in the base64 alphabet, and of a hexadecimal digit (any
// case): -1 for any other byte. Bodies and encoded words use the same.
int Base64Value(unsigned char c);
int HexValue(char c);

// The encoding a Content-Transfer-Encoding field (the whole field, or null
// when the part has none) names.
TransferEncoding EncodingOfField(const char* field);

class BodyDecoder {
public:
    explicit BodyDecoder(TransferEncoding encoding) : encoding_(encoding) {}

    // Most bytes DecodeLine writes for a line of length bytes.
    static std::size_t MaxDecodedLength(std::size_t length) { return length + 2; }

    // Decodes one body line, given without its line break, into out (room for
    // MaxDecodedLength bytes); returns the number of bytes written. The line
    // break before a line is written with that line, so the break that ends
    // the last line, which belongs to the next delimiter, is never written.
    std::size_t DecodeLine(const char* line, std::size_t length, char* out);

    // Like DecodeLine, but only counts the bytes.
    std::size_t MeasureLine(const char* line, std::size_t length);

    // MeasureLine for a line given in pieces, so that a line too long to hold
    // is measured as it streams past: starts says the piece begins the line,
    // ends that the line ends behind it. The pieces of a line count together
    // what MeasureLine counts for it whole.
    std::size_t MeasurePiece(const char* piece, std::size_t length, bool starts, bool ends);

    // Base64 with characters outside its alphabet, or bits left over at the
    // end; everything that could be decoded has been.
    bool Broken() const { return broken_ || (encoding_ == TransferEncoding::Base64 && bitCount_ >= 6); }

private:
    template <bool Write>
    std::size_t Line(const char* line, std::size_t length, char* out);

    TransferEncoding encoding_;
    bool firstLine_ = true;
    bool softBreak_ = false;   // quoted-printable: the last line ended in "="
    bool padded_ = false;      // base64: "=" has been seen
    bool broken_ = false;
    std::uint32_t bits_ = 0;   // base64: bits not yet written
    int bitCount_ = 0;
    // quoted-printable, within a line given in pieces: bytes not yet counted
    // because what follows decides them. Blanks count only if more than
    // blanks follows; "=" may begin an escape or be the soft break.
    std::size_t heldBlanks_ = 0;
    int heldEscape_ = 0; // 0, or 1 for "=", 2 for "=" and a hex digit
};
