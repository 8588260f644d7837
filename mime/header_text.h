#pragma once
// Texts of header fields made readable: a Subject for a list box or a report,
// a file name to save an attachment under. Nothing is allocated: the caller
// hands over a bounded buffer, and every input of any size is read in linear
// time without recursion.
//
// Output rules, common to both functions:
// - Characters the target cannot represent become a visible replacement: for
//   Cp932 the geta mark (0x81 0xAC), for Utf8 U+FFFD. Never a broken or
//   partial byte sequence.
// - Control characters (below 0x20, 0x7F and the C1 range 0x80-0x9F) become a
//   blank; leading and trailing blanks are removed.
// - At most outSize-1 bytes and a NUL are written; a text that does not fit is
//   cut at a character boundary (and without the blanks before the cut).
//   outSize 0 writes nothing.
//
// Raw 8-bit bytes (outside encoded words) are read in the charset that the
// whole text is valid in: UTF-8 first; then EUC-JP or CP932, EUC-JP only where
// a CP932 reading would be mostly half-width katakana (which is what EUC-JP
// bytes look like in CP932); else each character in whichever of UTF-8 and
// CP932 it is valid in, and each byte valid in neither becomes the replacement.
// ISO-2022-JP escape sequences in raw text switch to JIS X 0208 (ESC $ B,
// ESC $ @), half-width katakana (ESC ( I) and back (ESC ( B, ESC ( J); a line
// break ends a double-byte run.

#include <cstddef>

enum class TextTarget { Utf8, Cp932 };

// Decodes an unstructured header field value (e.g. the text after "Subject:"):
// RFC 2047 encoded words (B and Q; charset names without regard to case, with
// an optional *language suffix) in ISO-2022-JP, Shift_JIS / CP932 /
// Windows-31J / x-sjis, EUC-JP, UTF-8, US-ASCII, ISO-8859-1, ISO-8859-15 and
// Windows-1252; an encoded word is recognised even where no blank separates it
// from the text around it. Folded lines are joined (a line break followed by a
// blank goes, the blanks stay; any other line break becomes a blank); linear
// white space between two adjacent encoded words is dropped. An encoded word
// that is malformed (no closing ?=, bad base64 or Q, empty text), in an unknown
// charset, or whose decoded bytes are invalid in its charset, is shown exactly
// as written. ISO-2022-JP starts over in ASCII in each encoded word; a word
// that ends in a double-byte run is still taken. EUC-JP's JIS X 0212
// characters (0x8F ..) decode to the replacement. ISO-8859-1's C1 bytes are
// read as Windows-1252, as the mail that carries them means.
// Returns the number of bytes written, without the NUL.
std::size_t DecodeHeaderText(const char* value, std::size_t length, TextTarget target, char* out,
                             std::size_t outSize);

// Sections of an RFC 2231 continued parameter (name*0, name*1*, ...) that are
// read; later ones are left out.
constexpr std::size_t kMaxParameterSections = 64;

// The value of the parameter called name (e.g. "filename", "name"; without
// regard to case) in a header field's text, the whole field with its folded
// lines ("Content-Disposition: attachment; filename=..."), decoded:
// - RFC 2231: name*=charset'language'%XX..., and continuations name*0,
//   name*1*, ... joined in the order of their numbers whatever the order they
//   are written in, encoded and plain sections mixed, up to the first missing
//   number or kMaxParameterSections. An extended value is preferred to a plain
//   name=. Bytes invalid in the declared charset, or in an unknown one, are
//   read as raw 8-bit bytes.
// - Otherwise name=value, a quoted string with backslash escapes or a token
//   (up to ';' or the end of the line), decoded as DecodeHeaderText does (so
//   RFC 2047 encoded words inside the quotes, as real mail has them, and raw
//   8-bit bytes: ISO-2022-JP escapes, Shift_JIS, EUC-JP or UTF-8). The bytes
//   of an ISO-2022-JP double-byte run, and a Shift_JIS trail byte 0x5C where
//   the field reads as Shift_JIS, belong to their character: never a closing
//   quote, an escape or the ';' that ends a token.
// Returns false, with an empty text in out, when the field has no such parameter.
bool DecodeParameter(const char* field, std::size_t length, const char* name, TextTarget target, char* out,
                     std::size_t outSize);
