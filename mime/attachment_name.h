#pragma once
// The name a dropped part is saved under: its own file name, decoded, made
// safe for any folder on POSIX and Windows; or, for a part without one, a name
// made from the message (its subject or file name) and the part's type.
// Names are UTF-8; nothing is allocated.

#include <cstddef>

#include "mime/strip_message.h"

// Longest name made, in bytes: room for " (999)" and still under the 255
// bytes (POSIX) and 255 UTF-16 units (Windows) that file systems take.
constexpr std::size_t kMaxAttachmentNameBytes = 200;

// The extension for a media type ("application/pdf" -> ".pdf"); ".bin" for
// one not known.
const char* ExtensionForType(const char* mediaType);

// Makes text (UTF-8, with room for length + 2 bytes) a safe file name, in
// place: no path separators or characters Windows refuses (/ \ : * ? " < > |),
// no control characters, no leading dots or blanks (so never "..", never a
// hidden file), no trailing dots or blanks, no reserved device name (CON, NUL,
// COM1, LPT1... in any case, with any extension), at most
// kMaxAttachmentNameBytes bytes cut at a character boundary keeping a short
// extension. Bytes that are not UTF-8 become '_'. Returns the new length; 0
// when nothing usable is left.
std::size_t MakeSafeFileName(char* text, std::size_t length);

// The name for a dropped part: its Content-Disposition filename, else its
// Content-Type name, decoded and made safe; else stem (e.g. the message's
// subject or its file's name, made safe) and the type's extension; else
// "attachment" and the extension. out needs kMaxAttachmentNameBytes + 1 bytes.
std::size_t AttachmentFileName(const RemovedPart& part, const char* stem, char* out, std::size_t outSize);

// "name (n).ext" for the n-th name tried after name was taken.
std::size_t NumberedFileName(const char* name, unsigned number, char* out, std::size_t outSize);
