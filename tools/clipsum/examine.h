#pragma once
// What becomes of one message: the filters, the engine's verdict, and what
// the report says about it. No file is touched here, so that messages can be
// examined in any order, or side by side, and reported in the order given.

#include <cstddef>

class MessageStripper;

// Which messages are stripped (the command line's filters and settings).
struct Filters {
    bool all;                     // also messages without an attachment
    bool keepHtml;                // leave HTML messages alone
    unsigned long long minSize;   // 0: any size
    bool olderThanSet;
    long long olderThanCutoff;    // with olderThanSet: only messages dated before this moment (seconds, UTC)
};

enum class Verdict { Strip, LeaveAlone, Fail };

constexpr std::size_t kMaxSubjectBytes = 256;
constexpr std::size_t kMaxMediaTypeBytes = 80;
constexpr std::size_t kMaxFileNameBytes = 160;
// Parts named in the report; a message with more gives their count only.
constexpr unsigned kMaxListedParts = 16;

struct RemovedEntry {
    char mediaType[kMaxMediaTypeBytes]; // "" when the part had no usable Content-Type
    char fileName[kMaxFileNameBytes];   // UTF-8, "" when it had none
};

struct MessageOutcome {
    Verdict verdict;
    const char* reason; // LeaveAlone, Fail: why (static text)
    std::size_t bytesBefore;
    std::size_t bytesAfter; // what the message is, or would be, after the run
    char subject[kMaxSubjectBytes]; // decoded, UTF-8, control characters blanked
    unsigned removedCount;
    RemovedEntry removed[kMaxListedParts];
};

// Decides on the NUL-terminated message of length bytes at data. When the
// verdict is Strip, stripper holds the new form (NewSource, NewLength).
void ExamineMessage(const char* data, std::size_t length, const Filters& filters, MessageStripper* stripper,
                    MessageOutcome* outcome);

// Decides on a message that stripper has parsed (with status) from a source
// read in pieces, length bytes in all: its header is read from the parsed tree.
enum class StripStatus;
void ExamineParsed(StripStatus status, std::size_t length, const Filters& filters, MessageStripper* stripper,
                   MessageOutcome* outcome);

// Turns a Strip verdict into LeaveAlone for reason (a read-only file, say).
void KeepAfterAll(MessageOutcome* outcome, const char* reason);
