#pragma once
// The few fields of a message's own header read outside the parse: Subject
// and Date for clipsum's report and filters, Content-Length in an mbox, Date
// for the time of a saved attachment. The header ends at the first blank
// line; no tree is built, so that a message left alone is still described.

#include <cstddef>

// Where a field lies in the message: its first byte, the byte behind the line
// break of its last (folded) line, and the first byte of its value.
struct HeaderField {
    std::size_t start;
    std::size_t end;
    std::size_t valueStart;
};

// The first field named name (ASCII case ignored) in the header of the length
// bytes at data. False when the header has none.
bool FindHeaderField(const char* data, std::size_t length, const char* name, HeaderField* field);

// The field's value with its line breaks removed and the white space around it
// trimmed, NUL-terminated in out (outSize >= 1), cut when it does not fit.
void UnfoldedValue(const char* data, const HeaderField& field, char* out, std::size_t outSize);

// Where the body begins: behind the blank line that ends the header, or length
// when there is none.
std::size_t BodyOffset(const char* data, std::size_t length);

// Whether the first line of data ends in CR LF (false for a lone LF or no line break).
bool EndsLinesWithCrLf(const char* data, std::size_t length);
