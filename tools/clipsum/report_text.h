#pragma once
// Texts of a message shown in the report: its subject and the parts that were
// removed, decoded by the engine's decoder of header texts.

#include "examine.h"

#include <cstddef>

// The raw (undecoded, unfolded) value of a Subject field as UTF-8 in out
// (NUL-terminated, cut at a character boundary), control characters blanked
// so that a subject cannot move the cursor of the terminal showing it.
void DecodeForReport(const char* raw, char* out, std::size_t outSize);

// After a successful Reduce: the parts the stripper removed, with their type
// and file name, into outcome (count and as many as it names).
void ListRemovedParts(const MessageStripper& stripper, MessageOutcome* outcome);
