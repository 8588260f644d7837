#pragma once
// What the attachment list shows of a message with ListDetails on: its
// subject decoded, its size and the names of its attachments. Plain
// functions over the bytes the host gave; no host calls.

#include <cstddef>

enum class SubjectField {
    kFound,
    kMissing,   // no Subject field in the header
    kNoLineEnd, // the field's line never ends
    kTooFar,    // the field ends beyond the part of the header examined
};

// Finds the Subject field at the start of a line of the header (the text
// before the first empty line, at most `examined` bytes of it), name
// compared without regard to case. On kFound, `value` and `valueLength` cover
// its value with its continuation lines, after the colon.
SubjectField FindSubject(const char* message, size_t length, size_t examined, const char** value,
                         size_t* valueLength);

// Writes "  (65 KB: a.pdf, b.png)" for a whole message of `length` bytes: the
// size, and the file names its parts declare, decoded to code page 932.
// Writes at most outSize - 1 bytes and a NUL, never half a character and
// never half a name; returns the bytes written.
size_t FormatDetails(const char* message, size_t length, char* out, size_t outSize);
