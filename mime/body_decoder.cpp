#include "mime/body_decoder.h"

#include <cstring>

#include "mime/line_reader.h"

namespace {

// The value of each byte in the base64 alphabet, -1 for the others.
struct Base64Table {
    signed char values[256] = {};

    constexpr Base64Table()
    {
        for (int c = 0; c < 256; ++c)
            values[c] = -1;
        for (int i = 0; i < 26; ++i) {
            values['A' + i] = static_cast<signed char>(i);
            values['a' + i] = static_cast<signed char>(26 + i);
        }
        for (int i = 0; i < 10; ++i)
            values['0' + i] = static_cast<signed char>(52 + i);
        values['+'] = 62;
        values['/'] = 63;
    }
};

constexpr Base64Table kBase64;

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

int Base64Value(unsigned char c)
{
    return kBase64.values[c];
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

TransferEncoding EncodingOfField(const char* field)
{
    if (!field)
        return TransferEncoding::Identity;
    const char* value = std::strchr(field, ':');
    if (!value)
        return TransferEncoding::Identity;
    ++value;
    value += std::strspn(value, " \t\r\n");
    const std::size_t length = std::strcspn(value, " \t\r\n;(");
    if (length == 6 && EqualsNoCase(value, "base64", 6))
        return TransferEncoding::Base64;
    if (length == 16 && EqualsNoCase(value, "quoted-printable", 16))
        return TransferEncoding::QuotedPrintable;
    return TransferEncoding::Identity;
}

std::size_t BodyDecoder::DecodeLine(const char* line, std::size_t length, char* out)
{
    return Line<true>(line, length, out);
}

std::size_t BodyDecoder::MeasureLine(const char* line, std::size_t length)
{
    if (encoding_ != TransferEncoding::Base64 || padded_)
        return Line<false>(line, length, nullptr);
    // Measuring needs only how many bits the line adds: a run of the alphabet
    // is counted at once, and the line falls back to the full rules from the
    // first other character on.
    std::size_t run = 0;
    while (run < length && Base64Value(static_cast<unsigned char>(line[run])) >= 0)
        ++run;
    firstLine_ = false;
    const std::uint64_t bits = static_cast<std::uint64_t>(bitCount_) + 6 * static_cast<std::uint64_t>(run);
    bitCount_ = static_cast<int>(bits % 8);
    bits_ = 0;
    const auto counted = static_cast<std::size_t>(bits / 8);
    return run == length ? counted : counted + Line<false>(line + run, length - run, nullptr);
}

std::size_t BodyDecoder::MeasurePiece(const char* piece, std::size_t length, bool starts, bool ends)
{
    if (encoding_ != TransferEncoding::QuotedPrintable) {
        if (starts)
            return MeasureLine(piece, length);
        // Base64 keeps no state per line, and the identity counts every byte.
        const bool first = firstLine_;
        firstLine_ = true;
        const std::size_t counted = MeasureLine(piece, length);
        firstLine_ = first;
        return counted;
    }
    std::size_t counted = 0;
    if (starts) {
        if (!firstLine_ && !softBreak_)
            counted += 2;
        firstLine_ = false;
        heldBlanks_ = 0;
        heldEscape_ = 0;
    }
    for (std::size_t i = 0; i < length; ++i) {
        const char c = piece[i];
        if (IsBlank(c)) {
            // "=X " decodes no escape: both count as written.
            if (heldEscape_ == 2) {
                counted += 2;
                heldEscape_ = 0;
            }
            ++heldBlanks_;
            continue;
        }
        if (heldEscape_ == 1 && heldBlanks_ == 0 && HexValue(c) >= 0) {
            heldEscape_ = 2;
            continue;
        }
        if (heldEscape_ == 2 && HexValue(c) >= 0) {
            ++counted;
            heldEscape_ = 0;
            continue;
        }
        counted += static_cast<std::size_t>(heldEscape_) + heldBlanks_;
        heldEscape_ = 0;
        heldBlanks_ = 0;
        if (c == '=')
            heldEscape_ = 1;
        else
            ++counted;
    }
    if (ends) {
        // Blanks at the end were added in transport; a last "=" is the soft break.
        softBreak_ = heldEscape_ == 1;
        if (heldEscape_ == 2)
            counted += 2;
        heldBlanks_ = 0;
        heldEscape_ = 0;
    }
    return counted;
}

template <bool Write>
std::size_t BodyDecoder::Line(const char* line, std::size_t length, char* out)
{
    std::size_t written = 0;
    auto put = [&](char c) {
        if (Write)
            out[written] = c;
        ++written;
    };
    const bool first = firstLine_;
    firstLine_ = false;

    switch (encoding_) {
    case TransferEncoding::Identity:
        if (!first) {
            put('\r');
            put('\n');
        }
        if (Write)
            std::memcpy(out + written, line, length);
        return written + length;

    case TransferEncoding::QuotedPrintable: {
        if (!first && !softBreak_) {
            put('\r');
            put('\n');
        }
        // Blanks at the end of a line were added in transport.
        std::size_t end = length;
        while (end > 0 && IsBlank(line[end - 1]))
            --end;
        softBreak_ = end > 0 && line[end - 1] == '=';
        if (softBreak_)
            --end;
        for (std::size_t i = 0; i < end; ++i) {
            if (line[i] == '=' && i + 2 < end && HexValue(line[i + 1]) >= 0 && HexValue(line[i + 2]) >= 0) {
                put(static_cast<char>(HexValue(line[i + 1]) * 16 + HexValue(line[i + 2])));
                i += 2;
            } else {
                put(line[i]); // a stray "=" stays as written
            }
        }
        return written;
    }

    case TransferEncoding::Base64:
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned char c = static_cast<unsigned char>(line[i]);
            if (c == '=') {
                padded_ = true;
                continue;
            }
            const int value = Base64Value(c);
            if (value < 0 || padded_) {
                if (!IsBlank(static_cast<char>(c)))
                    broken_ = true;
                continue;
            }
            bits_ = (bits_ << 6) | static_cast<std::uint32_t>(value);
            bitCount_ += 6;
            if (bitCount_ >= 8) {
                bitCount_ -= 8;
                put(static_cast<char>((bits_ >> bitCount_) & 0xFF));
                bits_ &= (1u << bitCount_) - 1;
            }
        }
        return written;
    }
    return written;
}
