#pragma once
// The note a stripped message keeps of each part it lost: one header field
// per part, with the part's type and name as its own header writes them.

#include <cstddef>

#include "mime/line_list.h"
#include "mime/strip_message.h"

// Writes the field for a dropped part into text (NUL-terminated, on the
// engine's allocator; the caller releases it), folded to lines under 78 bytes
// where the words allow. Null when out of memory.
char* FormatRemovedNote(const RemovedPart& part);

// Puts one field per part into headers, after the last Content- field (or
// before the blank line that ends them). False when out of memory.
bool AppendRemovedNote(LineList& headers, const RemovedPart* parts, std::size_t count);
