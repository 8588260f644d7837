#pragma once
// Character tables of the header text decoder, generated from Python's codecs
// by mime/tools/make_jis_tables.py into jis_tables.cpp. Zero marks a code that
// has no character. ASCII, half-width katakana and the user-defined area
// (0xF040-0xF9FC, U+E000-U+E757) are computed, not stored.

#include <cstddef>
#include <cstdint>

namespace jis {

// Trail bytes of a Shift_JIS pair: 0x40-0x7E and 0x80-0xFC.
constexpr std::size_t kRowLength = 188;

// For lead byte b (0x80-0xFF) the row of kCp932ToUnicode at kRowOfLead[b - 0x80],
// 0xFF when the lead has no stored row.
extern const std::uint8_t kRowOfLead[128];
extern const std::uint16_t kCp932ToUnicode[];

// Unicode code points, ascending, and the CP932 pair that Python's encoder
// gives each: what the Cp932 target writes for a character.
extern const std::size_t kPairCount;
extern const std::uint16_t kUnicodeWithCp932[];
extern const std::uint16_t kCp932OfUnicode[];

// Bytes 0x80-0x9F of Windows-1252 and 0xA0-0xBF of ISO-8859-15.
extern const std::uint16_t kWindows1252High[32];
extern const std::uint16_t kIso8859_15High[32];

} // namespace jis
